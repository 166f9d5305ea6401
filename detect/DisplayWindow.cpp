#include "DisplayWindow.h"

#include <opencv2/highgui.hpp>
#include <utility>

namespace pelmora {

namespace {
constexpr int kEscape = 27;
}

DisplayWindow::DisplayWindow(std::string name) : name(std::move(name)) {
    cv::namedWindow(this->name, cv::WINDOW_AUTOSIZE);
}

DisplayWindow::~DisplayWindow() {
    cv::destroyWindow(name);
}

bool escapeTypedInDisplay() {
    return (cv::waitKey(1) & 0xFF) == kEscape;
}

}  // namespace pelmora
