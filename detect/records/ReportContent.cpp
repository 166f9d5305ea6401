#include "ReportContent.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <opencv2/imgproc.hpp>

#include "FolderNames.h"
#include "FrameSeeker.h"
#include "JpegDecoder.h"
#include "JpegEncoder.h"
#include "WatchedRegion.h"

namespace pelmora {

namespace {

// Enough for a picture seen 160 pixels wide, in a fraction of the bytes of the snapshot.
constexpr int kThumbnailQuality = 80;

std::string base64(const std::vector<uchar>& bytes);

std::string jpegAddress(const cv::Mat& image) {
    std::vector<uchar> bytes;
    JpegEncoder encoder(kThumbnailQuality);
    return encoder.encode(image, bytes).empty() ? "data:image/jpeg;base64," + base64(bytes)
                                                : std::string();
}

std::string base64(const std::vector<uchar>& bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t at = 0; at < bytes.size(); at += 3) {
        const std::size_t left = bytes.size() - at;
        const unsigned group = static_cast<unsigned>(bytes[at]) << 16 |
                               (left > 1 ? static_cast<unsigned>(bytes[at + 1]) << 8 : 0U) |
                               (left > 2 ? static_cast<unsigned>(bytes[at + 2]) : 0U);
        text += kDigits[(group >> 18) & 63];
        text += kDigits[(group >> 12) & 63];
        text += left > 1 ? kDigits[(group >> 6) & 63] : '=';
        text += left > 2 ? kDigits[group & 63] : '=';
    }
    return text;
}

}  // namespace

std::string localTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[64] = "";
    if (localtime_r(&now, &local) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M %Z", &local) == 0) {
        return {};
    }
    return text;
}

std::string thumbnailAddress(const std::string& path, int width,
                             const std::vector<cv::Rect>& boxes) {
    cv::Mat snapshot;
    cv::Mat small;
    cv::Size whole;
    if (!readJpegColour(path, width, snapshot, &whole).empty()) {
        return std::string();
    }
    if (snapshot.cols > width) {
        const int height =
            std::max(1, static_cast<int>(std::lround(static_cast<double>(width) * snapshot.rows /
                                                     snapshot.cols)));
        cv::resize(snapshot, small, cv::Size(width, height), 0, 0, cv::INTER_AREA);
    } else {
        small = snapshot.clone();
    }
    // The objects where the snapshot found them, drawn at the thumbnail's scale.
    const double scale = static_cast<double>(small.cols) / std::max(1, whole.width);
    for (const cv::Rect& box : boxes) {
        cv::rectangle(small,
                      cv::Rect(static_cast<int>(box.x * scale), static_cast<int>(box.y * scale),
                               std::max(1, static_cast<int>(box.width * scale)),
                               std::max(1, static_cast<int>(box.height * scale))),
                      cv::Scalar(0, 220, 0), 1);
    }
    return jpegAddress(small);
}

std::string regionsPictureAddress(const std::string& videoPath, const RegionShapes& shapes) {
    FrameSeeker reader;
    cv::Mat frame;
    if (!reader.open(videoPath).empty() || !reader.frameAt(0.0, frame) || frame.empty()) {
        return std::string();
    }
    cv::Mat shown = frame;
    double scale = 1.0;
    if (frame.cols > kRegionsPictureWidth) {
        scale = static_cast<double>(kRegionsPictureWidth) / frame.cols;
        const int height = std::max(1, static_cast<int>(std::lround(frame.rows * scale)));
        cv::resize(frame, shown, cv::Size(kRegionsPictureWidth, height), 0, 0, cv::INTER_AREA);
    }
    drawRegions(shown, shapes, scale);
    return jpegAddress(shown);
}

std::vector<std::string> embeddedThumbnails(const std::vector<MotionEvent>& events,
                                            const std::string& folder) {
    std::vector<std::string> thumbnails;
    for (std::size_t i = 0; i < std::min(events.size(), kEmbeddedThumbnails); ++i) {
        thumbnails.push_back(events[i].pictureSaved
                                 ? thumbnailAddress(joinPath(folder, events[i].pictureFile),
                                                    kThumbnailWidth, events[i].pictureBoxes)
                                 : std::string());
    }
    return thumbnails;
}

}  // namespace pelmora
