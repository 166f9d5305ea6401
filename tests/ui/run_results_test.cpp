// What the window shows of a run's results: its clips, digest and events, what Play Clip opens,
// and a run that fails to start or is stopped while it cuts the clips.

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "EventList.h"
#include "FolderNames.h"
#include "RunningWindow.h"
#include "TestSupport.h"
#include "UiTestSupport.h"

namespace {

using namespace uitest;
using testsupport::solidFrame;
using testsupport::TempDir;
using testsupport::withRect;

TEST_F(WindowRun, CutsClipsAndTheDigestWhenAskedAndPlaysThem) {
    testsupport::writeVideo(tmp.file("moments.avi"), testsupport::knownMoments());
    setFields(tmp.file("moments.avi"), tmp.file("shots"));
    auto* digest = child<QPushButton>(window, "playDigestButton");
    EXPECT_TRUE(digest->isHidden());
    // The clips are made from the lists, so the lists' box says they are written.
    auto* lists = child<QCheckBox>(window, "checkBox_eventLists");
    child<QCheckBox>(window, "checkBox_report")->setChecked(false);
    lists->setChecked(false);
    child<QCheckBox>(window, "checkBox_clips")->setChecked(true);
    EXPECT_TRUE(lists->isChecked());
    EXPECT_FALSE(lists->isEnabled());
    child<QCheckBox>(window, "checkBox_digest")->setChecked(true);
    testsupport::StderrCapture err;
    clickStart();
    err.finish();
    EXPECT_TRUE(std::filesystem::is_regular_file(tmp.file("shots/events.csv")));
    // With the default gap every moment is one event: one clip, chosen when the run ends.
    EXPECT_TRUE(std::filesystem::is_regular_file(tmp.file("shots/EVENT0001.avi")));
    auto* play = child<QPushButton>(window, "playClipButton");
    ASSERT_TRUE(play->isEnabled());
    QTest::mouseClick(play, Qt::LeftButton);
    ASSERT_FALSE(digest->isHidden());
    QTest::mouseClick(digest, Qt::LeftButton);
    EXPECT_EQ(opened,
              (std::vector<QUrl>{
                  QUrl::fromLocalFile(QString::fromStdString(tmp.file("shots/EVENT0001.avi"))),
                  QUrl::fromLocalFile(QString::fromStdString(tmp.file("shots/digest.mp4")))}));
}

// The window shows what the run's records hold: a grey start (a snapshot against black, in no
// event) and motion from 10 s on, more than the event gap later, list in the window row for row
// as in events.csv, and Play Clip opens the clip that events.csv names.
TEST_F(WindowRun, ListsTheEventsOfTheRunsEventListAndPlaysTheClipItNames) {
    const cv::Mat grey = solidFrame(cv::Size(64, 48), cv::Scalar::all(90));
    std::vector<cv::Mat> frames(320, grey);
    for (const int at : {250, 251, 310}) {
        frames[at] = withRect(grey, {8 + at % 40, 10, 12, 12}, cv::Scalar::all(255));
    }
    testsupport::writeVideo(tmp.file("late.avi"), frames);
    setFields(tmp.file("late.avi"), tmp.file("shots"));
    child<QCheckBox>(window, "checkBox_clips")->setChecked(true);
    testsupport::StderrCapture err;
    clickStart();
    err.finish();

    std::ifstream list(tmp.file("shots/events.csv"));
    std::string line;
    std::getline(list, line);
    std::vector<std::vector<std::string>> rows;
    while (std::getline(list, line)) {
        std::vector<std::string> fields = testsupport::csvFields(line);
        rows.push_back(fields);
    }
    // event, start_ms, end_ms, start, end, snapshots, peak_pixels, peak_file, clip, ...
    ASSERT_EQ(rows.size(), 2u);
    auto* events = window.findChild<EventList*>(QStringLiteral("eventList"));
    ASSERT_EQ(events->count(), static_cast<int>(rows.size()));
    for (int i = 0; i < events->count(); ++i) {
        const pelmora::MotionEvent& shown = events->event(i);
        const std::vector<std::string>& row = rows[static_cast<std::size_t>(i)];
        EXPECT_EQ(std::to_string(shown.number), row[0]) << i;
        EXPECT_EQ(std::to_string(shown.startMs), row[1]) << i;
        EXPECT_EQ(std::to_string(shown.endMs), row[2]) << i;
        EXPECT_EQ(std::to_string(shown.snapshots), row[5]) << i;
        EXPECT_EQ(shown.peakFile, row[7]) << i;
    }
    EXPECT_EQ(rows[0][1], "10000");
    auto* play = child<QPushButton>(window, "playClipButton");
    ASSERT_TRUE(play->isEnabled());
    QTest::mouseClick(play, Qt::LeftButton);
    EXPECT_EQ(opened, (std::vector<QUrl>{QUrl::fromLocalFile(
                          QString::fromStdString(tmp.file("shots/" + rows[0][8])))}));
}

TEST_F(WindowRun, PlayClipStaysOffForAnEventWhoseClipWasLost) {
    testsupport::writeVideo(tmp.file("moments.avi"), testsupport::knownMoments());
    // A folder where the clip would go: the clip cannot be saved under its name.
    std::filesystem::create_directories(tmp.file("shots/EVENT0001.avi"));
    setFields(tmp.file("moments.avi"), tmp.file("shots"));
    child<QCheckBox>(window, "checkBox_clips")->setChecked(true);
    testsupport::StderrCapture err;
    clickStart();
    const std::string lines = err.finish();
    EXPECT_NE(lines.find("Failed to save " + tmp.file("shots/EVENT0001.avi") + ": "),
              std::string::npos)
        << lines;
    // The run's one event is chosen when it ends, and has no clip to play; the button says
    // why, and the status bar says it of the run.
    EXPECT_EQ(window.findChild<EventList*>()->chosenRow(), 0);
    auto* play = child<QPushButton>(window, "playClipButton");
    EXPECT_FALSE(play->isEnabled());
    EXPECT_TRUE(play->toolTip().startsWith(QStringLiteral("EVENT0001.avi could not be cut: ")))
        << play->toolTip().toStdString();
    EXPECT_TRUE(summary().contains(QStringLiteral("; 1 clip could not be cut (EVENT0001.avi: ")))
        << summary().toStdString();
    EXPECT_TRUE(child<QLabel>(window, "label_runSummary")
                    ->toolTip()
                    .contains(QString::fromStdString("Failed to save " +
                                                     tmp.file("shots/EVENT0001.avi") + ": ")));

    // One click cuts it again, encoded, under a name of its own.
    auto* cut = child<QToolButton>(window, "pushButton_cutEncoded");
    ASSERT_TRUE(cut->isVisible());
    testsupport::StderrCapture again;
    QTest::mouseClick(cut, Qt::LeftButton);
    uitest::finishRun(window);
    EXPECT_EQ(again.finish(), "[" + tmp.file("shots/EVENT0001.mp4") + "]\n");
    EXPECT_TRUE(std::filesystem::is_regular_file(tmp.file("shots/EVENT0001.mp4")));
    EXPECT_FALSE(cut->isVisible());
    EXPECT_EQ(summary(), QStringLiteral("1 clip cut encoded"));
    EXPECT_TRUE(play->isEnabled());
}

// A run that does not start leaves nothing of the run before it on show.
TEST_F(WindowRun, AFailedStartClearsTheResultsOfTheRunBefore) {
    testsupport::writeVideo(tmp.file("moments.avi"), testsupport::knownMoments());
    setFields(tmp.file("moments.avi"), tmp.file("shots"));
    child<QCheckBox>(window, "checkBox_clips")->setChecked(true);
    testsupport::StderrCapture err;
    clickStart();
    auto* events = window.findChild<EventList*>(QStringLiteral("eventList"));
    ASSERT_GT(events->count(), 0);
    ASSERT_TRUE(child<QPushButton>(window, "playClipButton")->isEnabled());

    // Into a folder of its own, which no earlier run has written into to ask about.
    setFields(tmp.file("nothere.avi"), tmp.file("other"));
    uitest::BoxSeen box;
    auto answer = uitest::closeNextBox(box);
    clickStart();
    err.finish();
    EXPECT_TRUE(answer->answered());
    const QString failure = QString::fromStdString("Failed to open " + tmp.file("nothere.avi") +
                                                   ": No such file or directory");
    EXPECT_EQ(summary(), failure);
    EXPECT_EQ(child<QLabel>(window, "runSummary")->text(), failure);
    EXPECT_EQ(events->count(), 0);
    for (const char* button : {"playClipButton", "openFolderButton", "openReportButton"}) {
        EXPECT_FALSE(child<QPushButton>(window, button)->isEnabled()) << button;
    }
    EXPECT_EQ(bar()->value(), 0);
}

// A stop while the clips are cut leaves the run stopped, not finished, in the window as in its
// files. The clip's temporary file is made a pipe first, so that the stop comes while the clip
// is written, before it can be complete.
TEST_F(WindowRun, AStopWhileClipsAreCutShowsTheRunStopped) {
    // Noise that changes at every frame: one event, its clip far larger than a pipe holds.
    cv::RNG rng(5);
    std::vector<cv::Mat> noise(40);
    for (cv::Mat& frame : noise) {
        frame.create(cv::Size(64, 48), CV_8UC3);
        rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
    }
    const std::string video = tmp.file("noise.avi");
    testsupport::writeVideo(video, noise);
    const std::string dir = tmp.file("shots");
    std::filesystem::create_directories(dir);
    const std::string pipe = dir + "/.EVENT0001.avi." + std::to_string(::getpid()) + ".part";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0) << std::strerror(errno);
    // Open for reading at once, so that the clip's writer never waits to open it.
    const int clip = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(clip, 0) << std::strerror(errno);
    setFields(video, dir);
    child<QCheckBox>(window, "checkBox_clips")->setChecked(true);
    testsupport::StderrCapture err;
    pressStart();
    // The first bytes of the clip: it is being written, and waits for them to be read.
    const QPushButton* start = child<QPushButton>(window, "pushButton");
    pollfd waiting{clip, POLLIN, 0};
    while (::poll(&waiting, 1, 5) == 0 && !start->isEnabled()) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    ASSERT_FALSE(start->isEnabled()) << "the run ended before it wrote the clip";
    QTest::mouseClick(child<QPushButton>(window, "pushButton_stop"), Qt::LeftButton);
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(clip, buffer, sizeof buffer);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
            break;
        }
        if (got < 0) {
            pollfd more{clip, POLLIN, 0};
            ::poll(&more, 1, 5);
        }
    }
    ::close(clip);
    uitest::finishRun(window);
    const std::string lines = err.finish();
    const std::string lost = "Failed to save " + dir +
                             "/EVENT0001.avi: stopped before it was complete\n" + recordLines(dir);
    ASSERT_GE(lines.size(), lost.size());
    EXPECT_EQ(lines.substr(lines.size() - lost.size()), lost);
    EXPECT_TRUE(summary().startsWith(QStringLiteral("Stopped after 40 of 40 frames: ")))
        << summary().toStdString();
    const QString found = child<QLabel>(window, "runSummary")->text();
    EXPECT_TRUE(found.startsWith(QStringLiteral("noise.avi, stopped: "))) << found.toStdString();
    EXPECT_FALSE(child<QPushButton>(window, "playClipButton")->isEnabled());
    for (const std::string& name : testsupport::listDir(dir)) {
        EXPECT_EQ(name.find("EVENT"), std::string::npos) << name;
    }
}

}  // namespace
