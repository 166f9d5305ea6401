#pragma once

// What the end-to-end tests of pelmora-scan share: the small clips they scan, and the readers of
// what a scan says and leaves.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "ScanProcess.h"
#include "TestSupport.h"

namespace clitest {

inline const cv::Size kSize(64, 48);
inline const cv::Scalar kBlack = cv::Scalar::all(0);
inline const cv::Scalar kWhite = cv::Scalar::all(255);
inline const cv::Rect kSquareFirst(8, 8, 8, 8);
inline const cv::Rect kSquareMoved(40, 24, 8, 8);

cv::Mat solid(const cv::Scalar& colour, cv::Size size = kSize);
cv::Mat withRects(const cv::Mat& base, const std::vector<cv::Rect>& rects,
                  const cv::Scalar& colour);

// Six frames, black until a white 8x8 square appears at appearAt; it jumps elsewhere at
// moveAt (never, from 6 on) and stays still otherwise, so only those frames change.
std::vector<cv::Mat> squareClip(int appearAt, int moveAt);
// squareClip(2, 4), whose snapshots at 25 frames per second are kMovingSquareNames.
std::vector<cv::Mat> movingSquare();
inline const std::vector<std::string> kMovingSquareNames = {"IMG00000080.jpg", "IMG00000160.jpg"};
// The square at kSquareFirst and kSquareMoved in turn: every frame a snapshot.
std::vector<cv::Mat> blinkingSquare(int frames);
// 85 frames with known moments (see knownMoments), lossless, a keyframe every 10 frames, with a
// tone beside them.
bool writeMomentsWithSound(const std::string& path);

// What a scan leaves in a folder, less the record of a finished run, which has tests of its
// own.
std::vector<std::string> listDir(const std::string& dir);

// The error stream without the total line that ends a batch of several videos, for the
// tests of the lines before it.
std::string withoutTotal(const std::string& err);
// The summary line up to where its timings start.
std::string summaryHead(const std::string& video, long long frames, long long written,
                        long long lost);
// A summary line: head, then the timings, whose rate must be the frames over the seconds.
testing::AssertionResult isSummary(const std::string& line, const std::string& head,
                                   bool interrupted = false, bool failed = false);
// The JSON summary's lines, each parsed.
std::vector<nlohmann::json> jsonLines(const std::string& text);

class ScanTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(tmp.path().empty()) << "mkdtemp failed"; }

    testsupport::TempDir tmp;
};

}  // namespace clitest
