// What the window refuses before a run or says of one that fails: a destination that cannot take
// files, a path that is no AVI, a video that does not open or cannot be read through,
// snapshots that cannot be saved, and how the failures of one run are grouped.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "RunningWindow.h"
#include "TestSupport.h"
#include "UiTestSupport.h"

namespace {

using namespace uitest;
using testsupport::solidFrame;
using testsupport::TempDir;
using testsupport::withRect;

TEST_F(WindowRun, MakesAMissingDestinationAndRefusesOneThatCannotTakeFiles) {
    writeMovingSquare(tmp.file("garden.avi"), 3);
    std::ofstream(tmp.file("file")) << "in the way";
    const std::string missing = tmp.file("new/shots");
    const std::string blocked = tmp.file("file/shots");
    const struct {
        const char* name;
        std::string dir;
        bool refused;
    } rows[] = {{"missing", missing, false}, {"below a file", blocked, true}};
    for (const auto& row : rows) {
        setFields(tmp.file("garden.avi"), row.dir);
        uitest::BoxSeen box;
        auto answer = row.refused ? uitest::closeNextBox(box) : nullptr;
        testsupport::StderrCapture err;
        clickStart();
        const std::string lines = err.finish();
        if (!row.refused) {
            EXPECT_EQ(testsupport::snapshotFiles(row.dir), snapshotNames(3)) << row.name;
            continue;
        }
        const std::string refusal = "Cannot save snapshots in " + row.dir + ": Not a directory";
        EXPECT_EQ(lines, refusal + "\n") << row.name;
        EXPECT_TRUE(answer->answered()) << row.name;
        EXPECT_EQ(box.title, QStringLiteral("Warning")) << row.name;
        EXPECT_EQ(box.text, QString::fromStdString(refusal)) << row.name;
        EXPECT_EQ(summary(), QString::fromStdString(refusal)) << row.name;
        EXPECT_EQ(bar()->value(), 0) << row.name;
    }
}

TEST_F(WindowRun, RefusesPathsThatDoNotEndInAvi) {
    const char* rows[] = {"", "av", "/clips/garden.av", "/clips/garden.mp4", "/clips/avi.txt"};
    for (const char* path : rows) {
        setFields(path, tmp.path());
        uitest::BoxSeen box;
        auto answer = uitest::closeNextBox(box);
        clickStart();
        EXPECT_TRUE(answer->answered()) << path;
        EXPECT_EQ(box.title, QStringLiteral("Warning")) << path;
        EXPECT_EQ(box.text, QString::fromLatin1(kBadPath)) << path;
        EXPECT_FALSE(bar()->isVisible()) << path;
    }
}

TEST_F(WindowRun, AcceptsAviInAnyCaseWithoutADotAndReportsAVideoThatDoesNotOpen) {
    for (const char* name : {"gardenavi", "avi", "CLIP.AVI", "clip.Avi"}) {
        const std::string video = tmp.file(name);
        setFields(video, "");
        bar()->setValue(100);  // as an earlier run leaves it
        barValues.clear();
        uitest::BoxSeen box;
        auto answer = uitest::closeNextBox(box);
        testsupport::StderrCapture err;
        clickStart();
        EXPECT_EQ(err.finish(), "Failed to open " + video + ": No such file or directory\n")
            << name;
        EXPECT_TRUE(answer->answered()) << name;
        EXPECT_EQ(box.title, QStringLiteral("Warning")) << name;
        EXPECT_EQ(box.text,
                  QString::fromStdString("Failed to open " + video + ": No such file or directory"))
            << name;
        EXPECT_EQ(summary(), box.text) << name;
        EXPECT_TRUE(bar()->isVisible()) << name;
        EXPECT_EQ(bar()->value(), 0) << name;
        EXPECT_TRUE(testsupport::listDir(tmp.path()).empty()) << name;
    }
}

// A video that opens but cannot be read through: the reason in a box and in the status bar.
TEST_F(WindowRun, ReportsAVideoThatCannotBeReadThroughWithTheReason) {
    // Raw pictures in a pixel format that has no conversion to colour.
    const std::string video = tmp.file("raw.avi");
    ASSERT_EQ(std::system(("ffmpeg -nostdin -loglevel error -f rawvideo -pix_fmt uyyvyy411 -s "
                           "16x16 -r 25 -i /dev/zero -frames:v 5 -c:v rawvideo '" +
                           video + "'")
                              .c_str()),
              0);
    setFields(video, tmp.file("shots"));
    uitest::BoxSeen box;
    auto answer = uitest::closeNextBox(box);
    testsupport::StderrCapture err;
    clickStart();
    const std::string reason =
        "its pictures (pixel format uyyvyy411, 16x16) cannot be converted to colour";
    // After what the scaler says of the picture, when an earlier test let the libraries talk.
    const std::string lines = err.finish();
    const std::string failure =
        "Failed to read " + video + ": " + reason + "\n" + recordLines(tmp.file("shots"));
    EXPECT_EQ(lines.substr(lines.size() - std::min(lines.size(), failure.size())), failure);
    EXPECT_TRUE(answer->answered());
    EXPECT_EQ(box.title, QStringLiteral("Warning"));
    EXPECT_EQ(box.text, QString::fromStdString("Failed to read " + video + ": " + reason));
    EXPECT_EQ(uitest::withoutTime(summary()),
              QString::fromStdString("Failed after 1 frame: " + reason + "; 0 snapshots saved in " +
                                     tmp.file("shots") + " (T s)"));
}

TEST_F(WindowRun, ReportsSnapshotsThatCouldNotBeSaved) {
    const cv::Mat still = solidFrame(cv::Size(64, 48), cv::Scalar::all(90));
    testsupport::writeVideo(tmp.file("still.avi"), {still, still, still});
    writeMovingSquare(tmp.file("garden.avi"), 3);
    const struct {
        const char* video;
        int lost;  // the first frame is always motion against black
        const char* lostText;
    } rows[] = {{"still.avi", 1, "1 snapshot"}, {"garden.avi", 3, "3 snapshots"}};
    for (const auto& row : rows) {
        // Root writes anywhere, so folders stand where the snapshots would go.
        const std::string dir = tmp.file(std::string("shots-") + row.video);
        for (const std::string& name : snapshotNames(3)) {
            std::filesystem::create_directories(dir + "/" + name);
        }
        setFields(tmp.file(row.video), dir);
        uitest::BoxSeen box;
        auto answer = uitest::closeNextBox(box);
        testsupport::StderrCapture err;
        clickStart();
        const std::string lines = err.finish();
        EXPECT_EQ(lines.find("Failed to save " + dir + "/IMG00000000.jpg: Is a directory\n"), 0u)
            << row.video;
        EXPECT_TRUE(answer->answered()) << row.video;
        EXPECT_EQ(box.title, QStringLiteral("Warning")) << row.video;
        EXPECT_EQ(box.text, QStringLiteral("%1 could not be saved in %2.")
                                .arg(row.lostText, QString::fromStdString(dir)))
            << row.video;
        EXPECT_EQ(uitest::withoutTime(summary()),
                  QStringLiteral("0 snapshots saved in %1, %2 lost (3 frames, T s); Failed to "
                                 "save %1/IMG00000000.jpg: Is a directory")
                      .arg(QString::fromStdString(dir))
                      .arg(row.lost))
            << row.video;
        EXPECT_EQ(bar()->value(), 100) << row.video;
    }
}

// The window sorts a run's failures by what they are, not by their words: a list not written
// says its line when it happened, and three snapshots lost say their reason once.
TEST_F(WindowRun, GroupsTheFailuresOfARunByWhatFailed) {
    writeMovingSquare(tmp.file("garden.avi"), 3);
    const std::string dir = tmp.file("shots");
    for (const std::string& name : snapshotNames(3)) {
        std::filesystem::create_directories(dir + "/" + name);
    }
    std::filesystem::create_directories(dir + "/events.csv");
    setFields(tmp.file("garden.avi"), dir);
    uitest::BoxSeen box;
    auto answer = uitest::closeNextBox(box);
    clickStart();
    EXPECT_TRUE(answer->answered());
    EXPECT_EQ(uitest::withoutTime(summary()),
              QStringLiteral("0 snapshots saved in %1, 3 lost (3 frames, T s); Failed to write "
                             "%1/events.csv: Is a directory; Failed to save %1/IMG00000000.jpg: "
                             "Is a directory")
                  .arg(QString::fromStdString(dir)));
}

}  // namespace
