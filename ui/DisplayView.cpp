#include "DisplayView.h"

#include <QImage>
#include <QLabel>
#include <QPixmap>

namespace {

std::unique_ptr<QLabel> displayWindow(const QString& title) {
    auto window = std::make_unique<QLabel>();
    window->setWindowTitle(title);
    window->setAttribute(Qt::WA_QuitOnClose, false);
    window->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    window->show();
    return window;
}

void showImage(QLabel& window, const cv::Mat& image) {
    // The picture is copied: the run reuses its buffers as soon as the call returns.
    const QImage picture(image.data, image.cols, image.rows, static_cast<int>(image.step[0]),
                         QImage::Format_BGR888);
    if (window.pixmap(Qt::ReturnByValue).size() != picture.size()) {
        window.resize(picture.size());
    }
    window.setPixmap(QPixmap::fromImage(picture));
}

}  // namespace

DisplayView::DisplayView(const QString& videoTitle)
    : videoWindow(displayWindow(videoTitle)),
      maskWindow(displayWindow(QString::fromLatin1(kMaskWindowName))) {}

DisplayView::~DisplayView() = default;

void DisplayView::showFrame(const cv::Mat& frame, const cv::Mat& mask) {
    showImage(*videoWindow, frame);
    showImage(*maskWindow, mask);
}
