#pragma once

#include <QString>
#include <memory>

#include "RunRequest.h"

class QLabel;

// The window that shows the change mask during a detailed run.
inline constexpr const char* kMaskWindowName = "diff";

// What a detailed run shows: two windows of their own, one titled after the video with the
// frame as it was read, one titled "diff" with the change mask. They appear when the view is
// made, empty, at the size of their first picture, and go when it goes.
class DisplayView : public pelmora::FrameView {
public:
    explicit DisplayView(const QString& videoTitle);
    ~DisplayView() override;
    DisplayView(const DisplayView&) = delete;
    DisplayView& operator=(const DisplayView&) = delete;

    void showFrame(const cv::Mat& frame, const cv::Mat& mask) override;

private:
    std::unique_ptr<QLabel> videoWindow;
    std::unique_ptr<QLabel> maskWindow;
};
