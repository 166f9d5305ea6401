#include "ImagePane.h"

#include <QPainter>

namespace {

const QColor kGround(32, 32, 32);

}  // namespace

ImagePane::ImagePane(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(160, 120);
}

void ImagePane::setImage(const cv::Mat& image) {
    if (image.empty()) {
        picture = QImage();
    } else {
        picture = QImage(image.data, image.cols, image.rows, static_cast<int>(image.step[0]),
                         QImage::Format_BGR888)
                      .copy();
    }
    update();
}

QSize ImagePane::sizeHint() const {
    // Two panes of a 4:3 frame side by side fit a laptop's screen.
    return {480, 360};
}

void ImagePane::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kGround);
    if (picture.isNull()) {
        return;
    }
    const QSize fitted = picture.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2),
                       fitted);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, picture);
}
