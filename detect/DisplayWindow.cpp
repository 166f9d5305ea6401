#include "DisplayWindow.h"

#include <opencv2/highgui.hpp>
#include <utility>

namespace pelmora {

namespace {
constexpr int kEscape = 27;
}

DisplayWindow::DisplayWindow(std::string name) : name(std::move(name)) {
    // Sized to the image, and without the library's zoom tool bar, which is wider than most
    // videos and would stretch the window across the screen.
    cv::namedWindow(this->name, cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL);
}

DisplayWindow::~DisplayWindow() {
    cv::destroyWindow(name);
}

bool escapeTypedInDisplay() {
    return (cv::waitKey(1) & 0xFF) == kEscape;
}

}  // namespace pelmora
