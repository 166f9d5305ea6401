#include "ScanChecks.h"
#include "TextPattern.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace clitest {

cv::Mat solid(const cv::Scalar& colour, cv::Size size) {
    return testsupport::solidFrame(size, colour);
}

cv::Mat withRects(const cv::Mat& base, const std::vector<cv::Rect>& rects,
                  const cv::Scalar& colour) {
    cv::Mat frame = base.clone();
    for (const cv::Rect& rect : rects) {
        cv::rectangle(frame, rect, colour, cv::FILLED);
    }
    return frame;
}

std::vector<cv::Mat> squareClip(int appearAt, int moveAt) {
    std::vector<cv::Mat> frames;
    for (int index = 0; index < 6; ++index) {
        if (index < appearAt) {
            frames.push_back(solid(kBlack));
        } else if (index < moveAt) {
            frames.push_back(withRects(solid(kBlack), {kSquareFirst}, kWhite));
        } else {
            frames.push_back(withRects(solid(kBlack), {kSquareMoved}, kWhite));
        }
    }
    return frames;
}

std::vector<cv::Mat> movingSquare() {
    return squareClip(2, 4);
}

std::vector<cv::Mat> blinkingSquare(int frames) {
    std::vector<cv::Mat> blinking;
    for (int i = 0; i < frames; ++i) {
        blinking.push_back(
            withRects(solid(kBlack), {i % 2 == 0 ? kSquareFirst : kSquareMoved}, kWhite));
    }
    return blinking;
}

bool writeMomentsWithSound(const std::string& path) {
    return testsupport::writeVideoWithFfmpeg(
        path, testsupport::knownMoments(), 25.0,
        "-f lavfi -i sine=frequency=440:sample_rate=8000:duration=3.4 -c:v ffv1 -g 10 "
        "-c:a pcm_s16le -shortest");
}

std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names = testsupport::listDir(dir);
    names.erase(std::remove(names.begin(), names.end(), ".pelmora-run.json"), names.end());
    return names;
}

std::string withoutTotal(const std::string& err) {
    const std::string::size_type at = err.rfind("Total: ");
    if (at == std::string::npos || (at > 0 && err[at - 1] != '\n')) {
        return err;
    }
    return err.substr(0, at);
}

std::string summaryHead(const std::string& video, long long frames, long long written,
                        long long lost) {
    return video + ": " + std::to_string(frames) + " frames, " + std::to_string(written) +
           " written, " + std::to_string(lost) + " lost, ";
}

testing::AssertionResult isSummary(const std::string& line, const std::string& head,
                                   bool interrupted, bool failed) {
    if (line.compare(0, head.size(), head) != 0) {
        return testing::AssertionFailure()
               << "'" << line << "' does not start with '" << head << "'";
    }
    // Quiet, the folder the files went into follows.
    const pelmora::TextPattern timings(
        interrupted ? R"((\d+\.\d\d) s, (\d+\.\d) frames/s, interrupted(; files in .*)?\n)"
        : failed    ? R"((\d+\.\d\d) s, (\d+\.\d) frames/s, failed(; files in .*)?\n)"
                    : R"((\d+\.\d\d) s, (\d+\.\d) frames/s(; files in .*)?\n)");
    const std::optional<pelmora::PatternMatch> match = timings.match(line.substr(head.size()));
    if (!match) {
        return testing::AssertionFailure() << "'" << line << "' does not end in the timings"
                                           << (interrupted ? " and ', interrupted'" : "");
    }
    // The seconds are rounded to hundredths, the rate to tenths.
    const double frames = std::stod(line.substr(line.find(": ") + 2));
    const double seconds = std::stod((*match)[1]);
    const double rate = std::stod((*match)[2]);
    const double fastest = seconds > 0.005 ? frames / (seconds - 0.005) : HUGE_VAL;
    if (rate < frames / (seconds + 0.005) - 0.05 || rate > fastest + 0.05) {
        return testing::AssertionFailure() << "'" << line << "': " << rate << " frames/s is not "
                                           << frames << " frames in " << seconds << " s";
    }
    return testing::AssertionSuccess();
}

std::vector<nlohmann::json> jsonLines(const std::string& text) {
    std::vector<nlohmann::json> lines;
    for (const std::string& line : testsupport::splitLines(text)) {
        lines.push_back(nlohmann::json::parse(line));
    }
    return lines;
}

}  // namespace clitest
