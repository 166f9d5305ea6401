// A video whose pictures change size or pixel format part-way, as recordings joined end to end
// do: what the run says, which frames it compares with black, and the files it leaves. A decoder
// says it has met the new size while it still gives out pictures of the old one, so the frames
// around the change are where a buffer sized for the wrong picture would show.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "DetectionRun.h"
#include "FrameDetector.h"
#include "TestSupport.h"

namespace {

using pelmora::RunReport;
using pelmora::RunRequest;
using testsupport::TempDir;

// Shows nothing; a run that has a view converts every frame whole, never row by row.
class NoView : public pelmora::FrameView {
public:
    void showFrame(const cv::Mat&, const cv::Mat&) override {}
};

// Six frames of grey bars with a white square, with the encoder's usual reordering of pictures:
// the square is drawn where drawn says, and in the first part it comes at frame 3 and moves at
// 4, so that the last frames before the second part are compared row by row where it is. It
// stays there at the start of the second part, and goes at its frame 2.
constexpr const char* kFirstSquare =
    "drawbox=x=4:y=4:w=8:h=8:c=white:t=fill:enable=eq(n\\,3),"
    "drawbox=x=8:y=4:w=8:h=8:c=white:t=fill:enable=gte(n\\,4)";
constexpr const char* kSecondSquare = "drawbox=x=8:y=4:w=8:h=8:c=white:t=fill:enable=lt(n\\,2)";

bool writePart(const std::string& path, const char* size, const char* pixelFormat,
               const char* drawn) {
    const std::string command = std::string(
                                    "ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                                    "'smptebars=s=") +
                                size + ":r=25,format=gray," + drawn +
                                "' -frames:v 6 -c:v libx264 -pix_fmt " + pixelFormat + " '" + path +
                                "'";
    return std::system(command.c_str()) == 0;
}

struct ChangeRow {
    const char* name;
    const char* firstSize;
    const char* firstFormat;
    const char* secondSize;
    const char* secondFormat;
    bool matroska;     // the joined stream in Matroska rather than MPEG-TS
    const char* line;  // what the run says at frame 6, after "Frame size of VIDEO" and the like
    std::vector<std::string> snapshots;
};

void PrintTo(const ChangeRow& row, std::ostream* out) {
    *out << row.name;
}

class FrameChange : public testing::TestWithParam<ChangeRow> {};

TEST_P(FrameChange, SaysWhatChangedAndComparesANewSizeWithBlack) {
    const ChangeRow& row = GetParam();
    TempDir tmp;
    ASSERT_TRUE(writePart(tmp.file("first.ts"), row.firstSize, row.firstFormat, kFirstSquare));
    ASSERT_TRUE(writePart(tmp.file("second.ts"), row.secondSize, row.secondFormat, kSecondSquare));
    const std::string joined = tmp.file("joined.ts");
    ASSERT_EQ(std::system(("cat '" + tmp.file("first.ts") + "' '" + tmp.file("second.ts") +
                           "' > '" + joined + "'")
                              .c_str()),
              0);
    std::string video = joined;
    if (row.matroska) {
        video = tmp.file("joined.mkv");
        ASSERT_EQ(std::system(("ffmpeg -nostdin -loglevel error -i '" + joined + "' -c copy '" +
                               video + "'")
                                  .c_str()),
                  0);
    }

    pelmora::FrameDetector detector;
    testsupport::TestHost host;
    const RunReport report = pelmora::runDetection(detector, {video, tmp.file("out"), 20}, host);
    EXPECT_EQ(report.status, RunReport::Status::Finished);
    EXPECT_EQ(report.framesRead, 12);
    EXPECT_EQ(report.snapshotsLost, 0);
    std::vector<std::string> lines;
    for (const std::string& line : host.lines) {
        if (line.front() != '[') {
            lines.push_back(line);
        }
    }
    EXPECT_EQ(lines, std::vector<std::string>{std::string(row.line).replace(
                         std::string(row.line).find("VIDEO"), 5, video)});
    EXPECT_EQ(testsupport::listDir(tmp.file("out")), row.snapshots);

    // Comparing row by row, converting only the rows that may have changed, leaves what
    // comparing whole frames does.
    pelmora::FrameDetector wholeDetector;
    testsupport::TestHost wholeHost;
    NoView view;
    RunRequest whole{video, tmp.file("whole"), 20};
    whole.view = &view;
    pelmora::runDetection(wholeDetector, whole, wholeHost);
    ASSERT_EQ(testsupport::listDir(tmp.file("whole")), row.snapshots);
    for (const std::string& name : row.snapshots) {
        EXPECT_EQ(testsupport::fileBytes(tmp.file("out/" + name)),
                  testsupport::fileBytes(tmp.file("whole/" + name)))
            << name;
    }
}

// The first frame, the square coming, moving and going; with a new size, the first frame of the
// second part too, against black.
const std::vector<std::string> kStartAndChange = {
    "IMG00000000.jpg", "IMG00000120.jpg", "IMG00000160.jpg", "IMG00000240.jpg", "IMG00000320.jpg"};
const std::vector<std::string> kStartOnly = {"IMG00000000.jpg", "IMG00000120.jpg",
                                             "IMG00000160.jpg", "IMG00000320.jpg"};

INSTANTIATE_TEST_SUITE_P(
    Rows, FrameChange,
    testing::Values(
        ChangeRow{"Grows", "32x24", "yuv420p", "128x96", "yuv420p", false,
                  "Frame size of VIDEO changes to 128x96 at frame 6: comparing with black from "
                  "there\n",
                  kStartAndChange},
        ChangeRow{"GrowsInMatroska", "32x24", "yuv420p", "128x96", "yuv420p", true,
                  "Frame size of VIDEO changes to 128x96 at frame 6: comparing with black from "
                  "there\n",
                  kStartAndChange},
        ChangeRow{"Shrinks", "128x96", "yuv420p", "32x24", "yuv420p", false,
                  "Frame size of VIDEO changes to 32x24 at frame 6: comparing with black from "
                  "there\n",
                  kStartAndChange},
        ChangeRow{"GrowsInAnotherFormat", "32x24", "yuv420p", "64x48", "yuv444p", false,
                  "Frame size of VIDEO changes to 64x48 and its pixel format from yuv420p to "
                  "yuv444p at frame 6: comparing with black from there\n",
                  kStartAndChange},
        ChangeRow{"ChangesFormatOnly", "32x24", "yuv420p", "32x24", "yuv444p", false,
                  "Pixel format of VIDEO changes from yuv420p to yuv444p at frame 6\n", kStartOnly},
        ChangeRow{"ChangesToTenBits", "32x24", "yuv420p", "32x24", "yuv420p10le", false,
                  "Pixel format of VIDEO changes from yuv420p to yuv420p10le at frame 6\n",
                  kStartOnly}),
    [](const testing::TestParamInfo<ChangeRow>& info) { return std::string(info.param.name); });

}  // namespace
