#include "ImagePane.h"

#include <QPainter>
#include <algorithm>

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
    updateGeometry();
    update();
}

QSize ImagePane::sizeHint() const {
    // Two panes side by side fit a laptop's screen.
    const QSize hint(540, 405);
    return picture.isNull() ? hint : picture.size().scaled(hint, Qt::KeepAspectRatio);
}

bool ImagePane::hasHeightForWidth() const {
    return !picture.isNull();
}

int ImagePane::heightForWidth(int width) const {
    return picture.isNull() ? -1 : width * picture.height() / std::max(picture.width(), 1);
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
