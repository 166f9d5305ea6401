#include "ContactSheet.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>

#include "FileOutput.h"
#include "FolderNames.h"
#include "JpegDecoder.h"
#include "JpegEncoder.h"
#include "TextFormat.h"

namespace pelmora {

namespace {

constexpr int kCaptionHeight = 44;
constexpr int kHeadingHeight = 40;
constexpr int kMargin = 8;
constexpr int kSheetQuality = 88;

void text(cv::Mat& sheet, const std::string& line, cv::Point at, double scale) {
    cv::putText(sheet, line, at, cv::FONT_HERSHEY_SIMPLEX, scale, cv::Scalar(20, 20, 20), 1,
                cv::LINE_AA);
}

}  // namespace

std::string writeContactSheet(const std::vector<MotionEvent>& events, const std::string& folder,
                              const std::string& title, const VideoStart& start) {
    const std::size_t shown = std::min(events.size(), kContactSheetEvents);
    std::vector<cv::Mat> pictures(shown);
    // Every cell takes the shape of the first picture that can be read; 4:3 without one.
    int pictureHeight = kContactSheetCellWidth * 3 / 4;
    bool shaped = false;
    for (std::size_t i = 0; i < shown; ++i) {
        cv::Mat snapshot;
        if (!events[i].pictureSaved ||
            !readJpegColour(joinPath(folder, events[i].pictureFile), kContactSheetCellWidth,
                            snapshot)
                 .empty() ||
            snapshot.empty()) {
            continue;
        }
        if (!shaped) {
            pictureHeight = std::max(
                1, static_cast<int>(std::lround(static_cast<double>(kContactSheetCellWidth) *
                                                snapshot.rows / snapshot.cols)));
            shaped = true;
        }
        // Within the cell, its shape kept.
        const double scale = std::min(static_cast<double>(kContactSheetCellWidth) / snapshot.cols,
                                      static_cast<double>(pictureHeight) / snapshot.rows);
        const cv::Size size(std::max(1, static_cast<int>(snapshot.cols * scale)),
                            std::max(1, static_cast<int>(snapshot.rows * scale)));
        cv::resize(snapshot, pictures[i], size, 0, 0, cv::INTER_AREA);
    }
    const int rows =
        std::max(1, static_cast<int>((shown + kContactSheetColumns - 1) / kContactSheetColumns));
    const int cellHeight = pictureHeight + kCaptionHeight;
    cv::Mat sheet(kHeadingHeight + rows * (cellHeight + kMargin) + kMargin,
                  kContactSheetColumns * (kContactSheetCellWidth + kMargin) + kMargin, CV_8UC3,
                  cv::Scalar(255, 255, 255));
    std::string heading =
        title + "  -  " + formatText("%zu event%s", events.size(), events.size() == 1 ? "" : "s");
    if (shown < events.size()) {
        heading += formatText(", the first %zu shown", shown);
    }
    if (start.known()) {
        heading += "  -  starts " + readableClockTime(start.utcMs, start.zone);
    }
    text(sheet, heading, cv::Point(kMargin, 26), 0.6);
    for (std::size_t i = 0; i < shown; ++i) {
        const int column = static_cast<int>(i) % kContactSheetColumns;
        const int row = static_cast<int>(i) / kContactSheetColumns;
        const cv::Point corner(kMargin + column * (kContactSheetCellWidth + kMargin),
                               kHeadingHeight + row * (cellHeight + kMargin));
        const cv::Rect cell(corner, cv::Size(kContactSheetCellWidth, pictureHeight));
        sheet(cell).setTo(cv::Scalar(200, 200, 200));
        if (!pictures[i].empty()) {
            const cv::Point offset((cell.width - pictures[i].cols) / 2,
                                   (cell.height - pictures[i].rows) / 2);
            pictures[i].copyTo(sheet(cv::Rect(corner + offset, pictures[i].size())));
        }
        const MotionEvent& event = events[i];
        // The picture's own time, not the event's start: the caption says what it shows.
        text(sheet, formatText("#%d  %s", event.number, timecode(event.pictureMs).c_str()),
             corner + cv::Point(2, pictureHeight + 18), 0.5);
        if (start.known()) {
            text(sheet, readableClockTime(start.utcAt(event.pictureMs), start.zone),
                 corner + cv::Point(2, pictureHeight + 38), 0.45);
        }
    }
    JpegEncoder encoder(kSheetQuality);
    std::vector<uchar> bytes;
    const std::string reason = encoder.encode(sheet, bytes);
    if (!reason.empty()) {
        return reason;
    }
    return replaceFile(joinPath(folder, kContactSheetName), bytes.data(), bytes.size());
}

}  // namespace pelmora
