#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QStatusTipEvent>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "EarlierRunQuestion.h"
#include "EventList.h"
#include "FolderNames.h"
#include "ResultsPanel.h"
#include "SceneFootage.h"
#include "TestSupport.h"
#include "TimelineView.h"
#include "TuningWindow.h"
#include "UiTestSupport.h"

namespace {

using testsupport::solidFrame;
using testsupport::TempDir;
using testsupport::withRect;
using uitest::child;

const char* const kBadPath = "You have to specify a valid avi file path.";

// Every frame moves a square, so that every frame is a snapshot (at 25 frames per second).
void writeMovingSquare(const std::string& path, int frames, cv::Size size = {64, 48}) {
    const cv::Mat black = solidFrame(size, cv::Scalar::all(0));
    std::vector<cv::Mat> video;
    for (int i = 0; i < frames; ++i) {
        video.push_back(withRect(black, {(i % 2) * 30 + 4, 10, 20, 20}, cv::Scalar::all(255)));
    }
    testsupport::writeVideo(path, video, 25.0);
}

std::vector<std::string> snapshotNames(int frames) {
    std::vector<std::string> names;
    for (int i = 0; i < frames; ++i) {
        names.push_back(pelmora::snapshotFileName(40LL * i));
    }
    return names;
}

std::string savedLines(const std::string& dir, int frames) {
    std::string lines;
    for (const std::string& name : snapshotNames(frames)) {
        lines += "[" + dir + "/" + name + "]\n";
    }
    return lines;
}

// The lines of the lists and the report the window keeps by default, once each is whole.
std::string recordLines(const std::string& dir) {
    return "[" + dir + "/snapshots.csv]\n[" + dir + "/events.csv]\n[" + dir + "/report.html]\n";
}

QWidget* topLevelTitled(const QString& title) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->windowTitle() == title) {
            return widget;
        }
    }
    return nullptr;
}

void postEscape(QObject* target) {
    QCoreApplication::postEvent(target,
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
}

// The shown main window, with a record of every value its bar takes and of every file its
// results asked the desktop to open.
class RunningWindow {
public:
    RunningWindow() {
        window.findChild<ResultsPanel*>()->setUrlOpener([this](const QUrl& url) {
            opened.push_back(url);
            return true;
        });
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        QObject::connect(bar(), &QProgressBar::valueChanged, &window, [this](int value) {
            barValues.push_back(value);
            if (duringRun) {
                auto act = std::move(duringRun);
                duringRun = nullptr;
                act();
            }
        });
    }

    void setFields(const std::string& video, const std::string& dir) {
        child<QLineEdit>(window, "videoBox")->setText(QString::fromStdString(video));
        child<QLineEdit>(window, "lineEdit")->setText(QString::fromStdString(dir));
    }
    QProgressBar* bar() { return child<QProgressBar>(window, "progressBar_kavritProgress"); }
    // Start, and the run to its end.
    void clickStart() {
        pressStart();
        uitest::finishRun(window);
    }
    void pressStart() {
        QTest::mouseClick(child<QPushButton>(window, "pushButton"), Qt::LeftButton);
    }
    QString summary() { return uitest::runSummary(window); }

    Kavrit window;
    std::vector<int> barValues;
    std::vector<QUrl> opened;
    // Called once, from inside a run, when the bar first moves.
    std::function<void()> duringRun;
};

class WindowRun : public ::testing::Test, public RunningWindow {
protected:
    TempDir tmp;
};

TEST_F(WindowRun, StartFillsTheDerivedDirectoryWhileTheBarMoves) {
    writeMovingSquare(tmp.file("garden.avi"), 3);
    setFields(tmp.file("garden.avi"), "");
    testsupport::StderrCapture err;
    clickStart();
    EXPECT_EQ(err.finish(), savedLines(tmp.file("garden"), 3) + recordLines(tmp.file("garden")));
    EXPECT_EQ(uitest::snapshotFiles(tmp.file("garden")), snapshotNames(3));
    // The window keeps the lists and the report unless told otherwise.
    for (const char* record : {"events.csv", "report.html", "snapshots.csv"}) {
        EXPECT_TRUE(std::filesystem::is_regular_file(tmp.file("garden") + "/" + record)) << record;
    }
    EXPECT_EQ(barValues, (std::vector<int>{33, 66, 100}));
    EXPECT_TRUE(bar()->isVisible());
    EXPECT_EQ(bar()->value(), 100);
    const QString said =
        QString::fromStdString("3 snapshots saved in " + tmp.file("garden") + " (3 frames, T s)");
    EXPECT_EQ(uitest::withoutTime(summary()), said);
    // Browsing the menus shows their (empty) status tips; the summary stays.
    QStatusTipEvent tip{QString()};
    QApplication::sendEvent(&window, &tip);
    EXPECT_EQ(uitest::withoutTime(summary()), said);
}

TEST_F(WindowRun, TheRunOptionsReachTheRun) {
    writeMovingSquare(tmp.file("garden.avi"), 3);
    cv::imwrite(tmp.file("nothing.png"), solidFrame(cv::Size(64, 48), cv::Scalar::all(0)));
    const struct {
        const char* name;
        int triggerSize;
        const char* mask;
        bool report;
        std::size_t snapshots;
        std::size_t files;  // with the lists and the report
    } rows[] = {
        {"as they come", 10, "", true, 3, 6},
        {"a trigger no frame reaches", 5000, "", true, 0, 3},
        {"a region that watches nothing", 10, "nothing.png", true, 0, 3},
        // The reference is the last run's last snapshot, which this video starts with.
        {"lists without the report", 10, "", false, 2, 4},
    };
    for (const auto& row : rows) {
        const std::string dir = tmp.file(row.name);
        setFields(tmp.file("garden.avi"), dir);
        child<QSpinBox>(window, "spinBox_triggerSize")->setValue(row.triggerSize);
        child<QLineEdit>(window, "lineEdit_mask")
            ->setText(*row.mask == 0 ? QString() : QString::fromStdString(tmp.file(row.mask)));
        child<QCheckBox>(window, "checkBox_report")->setChecked(row.report);
        testsupport::StderrCapture err;
        clickStart();
        err.finish();
        EXPECT_EQ(uitest::snapshotFiles(dir).size(), row.snapshots) << row.name;
        EXPECT_EQ(testsupport::listDir(dir).size(), row.files) << row.name;
    }
}

TEST_F(WindowRun, ShowsWhatTheRunFoundAndTunesOnTheSameVideo) {
    testsupport::writeVideo(tmp.file("moments.avi"), testsupport::knownMoments());
    setFields(tmp.file("moments.avi"), tmp.file("shots"));
    child<QDoubleSpinBox>(window, "spinBox_eventGap")->setValue(0.5);
    testsupport::StderrCapture err;
    clickStart();
    err.finish();
    // Frames 5 and 6 (with the first, against black), 30 and 31, and 80: three stretches more
    // than half a second apart.
    EXPECT_EQ(window.findChild<EventList*>(QStringLiteral("eventList"))->count(), 3);
    EXPECT_EQ(
        window.findChild<TimelineView*>(QStringLiteral("timeline"))->timeline().buckets().size(),
        85u);
    QTest::mouseClick(child<QPushButton>(window, "pushButton_tune"), Qt::LeftButton);
    auto* tuning =
        qobject_cast<TuningWindow*>(topLevelTitled(QStringLiteral("Tune the threshold")));
    ASSERT_NE(tuning, nullptr);
    tuning->setThreshold(37);
    QTest::mouseClick(tuning->findChild<QPushButton*>(QStringLiteral("useThresholdButton")),
                      Qt::LeftButton);
    EXPECT_EQ(child<QSlider>(window, "horizontalSlider_thresholdSlider")->value(), 37);
    tuning->close();
}

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
            EXPECT_EQ(uitest::snapshotFiles(row.dir), snapshotNames(3)) << row.name;
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

TEST_F(WindowRun, ASecondRunShowsTheOld100UntilItsFirstFrameAndStartsFromTheOldReference) {
    writeMovingSquare(tmp.file("garden.avi"), 3);
    setFields(tmp.file("garden.avi"), tmp.path());
    testsupport::StderrCapture err;
    child<QAction>(window, "actionRun")->trigger();
    uitest::finishRun(window);
    barValues.clear();
    TempDir again;
    setFields(tmp.file("garden.avi"), again.path());
    ASSERT_FALSE(summary().isEmpty());
    QString summaryDuringRun = QStringLiteral("not seen");
    duringRun = [&] { summaryDuringRun = summary(); };
    clickStart();
    err.finish();
    // Straight from the old 100 to the first frame's 33: no reset in between.
    EXPECT_EQ(barValues, (std::vector<int>{33, 66, 100}));
    // The message of a run lasts until the next run starts.
    EXPECT_EQ(summaryDuringRun, QString());
    EXPECT_EQ(uitest::withoutTime(summary()),
              QString::fromStdString("2 snapshots saved in " + again.path() + " (3 frames, T s)"));
    // The last frame of the first run equals the first of the second: not motion.
    EXPECT_EQ(uitest::snapshotFiles(again.path()),
              (std::vector<std::string>{"IMG00000040.jpg", "IMG00000080.jpg"}));
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

TEST_F(WindowRun, IgnoresStartWhileARunIsGoing) {
    writeMovingSquare(tmp.file("garden.avi"), 20);
    setFields(tmp.file("garden.avi"), tmp.path());
    duringRun = [&] {
        pressStart();
        child<QAction>(window, "actionRun")->trigger();
    };
    testsupport::StderrCapture err;
    clickStart();
    EXPECT_EQ(err.finish(), savedLines(tmp.path(), 20) + recordLines(tmp.path()));
    EXPECT_EQ(barValues.back(), 100);
}

TEST(WindowEarlierRun, AsksBeforeRemovingTheSnapshotsOfAnEarlierRunAndKeepsTheListsItsOwn) {
    struct Row {
        const char* name;
        const char* answer;
        std::vector<std::string> left;
        const char* told;  // on the error stream after the run
    };
    const std::vector<std::string> all{"IMG00000000.jpg", "IMG00000040.jpg", "IMG00000080.jpg",
                                       "IMG00000120.jpg"};
    const std::vector<std::string> own{"IMG00000000.jpg", "IMG00000040.jpg"};
    const std::vector<Row> rows{
        {"remove", "Remove", own, ""},
        {"keep", "Keep", all, "2 snapshots of an earlier run are in DIR\n"},
        {"cancel", "Cancel", all, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir tmp;
        writeMovingSquare(tmp.file("long.avi"), 4);
        writeMovingSquare(tmp.file("short.avi"), 2);
        RunningWindow run;
        run.setFields(tmp.file("long.avi"), tmp.path());
        testsupport::StderrCapture first;
        run.clickStart();
        first.finish();
        ASSERT_EQ(uitest::snapshotFiles(tmp.path()), all);

        run.setFields(tmp.file("short.avi"), tmp.path());
        QString asked;
        QString shown;
        uitest::ModalAnswer answer([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            asked = box->text();
            shown = box->informativeText();
            for (QAbstractButton* button : box->buttons()) {
                if (button->text().startsWith(QString::fromLatin1(row.answer))) {
                    button->click();
                    return;
                }
            }
            FAIL() << "no button " << row.answer;
        });
        testsupport::StderrCapture second;
        run.clickStart();
        const std::string told = second.finish();
        EXPECT_TRUE(answer.answered());
        EXPECT_EQ(asked, QStringLiteral("This folder holds 4 snapshots of an earlier run."));
        EXPECT_TRUE(shown.contains(QString::fromStdString(tmp.path()))) << shown.toStdString();
        // What stays beside the new run is said in the window as on the error stream.
        EXPECT_EQ(run.summary().contains(
                      QStringLiteral("; 2 snapshots of an earlier run are still in the folder")),
                  std::string(row.answer) == "Keep")
            << run.summary().toStdString();
        EXPECT_EQ(uitest::snapshotFiles(tmp.path()), row.left);
        std::string expectedTold = row.told;
        if (!expectedTold.empty()) {
            expectedTold.replace(expectedTold.find("DIR"), 3, tmp.path());
        }
        EXPECT_NE(told.find(expectedTold), std::string::npos) << told;
        if (std::string(row.answer) != "Cancel") {
            EXPECT_EQ(told.find("an earlier run") != std::string::npos, !expectedTold.empty());
            // The list is of this run alone, whatever stays beside it.
            std::ifstream list(tmp.file("snapshots.csv"));
            const std::string text((std::istreambuf_iterator<char>(list)), {});
            EXPECT_EQ(text.find("IMG00000080.jpg"), std::string::npos) << text;
            EXPECT_NE(text.find("IMG00000040.jpg"), std::string::npos) << text;
        }
    }
}

// The Detector choice reaches the run, and Tune shows the person the detector would see.
TEST(WindowDetector, ObjectsReachTheRunAndTuneBoxesThePerson) {
    TempDir tmp;
    testsupport::SceneRecipe scene;
    scene.seconds = 5.0;
    scene.objects = {testsupport::crossing(scene, 1.0, 5.0, {20, 48})};
    const std::string video = tmp.file("yard.avi");
    ASSERT_EQ(testsupport::writeScene(scene, video), "");
    RunningWindow run;
    run.setFields(video, tmp.file("shots"));
    auto* detector = run.window.findChild<QComboBox*>(QStringLiteral("comboBox_detector"));
    ASSERT_NE(detector, nullptr);
    detector->setCurrentIndex(1);
    testsupport::StderrCapture err;
    run.clickStart();
    err.finish();
    std::ifstream list(tmp.file("shots/snapshots.csv"));
    std::string header;
    std::getline(list, header);
    EXPECT_NE(header.find(",boxes"), std::string::npos) << header;
    std::string first;
    std::getline(list, first);
    // The person, 20 x 48, in the boxes column, to within a few pixels.
    int width = 0;
    int height = 0;
    ASSERT_EQ(std::sscanf(first.substr(first.rfind(',') + 1).c_str(), "%dx%d", &width, &height), 2)
        << first;
    EXPECT_NEAR(width, 20, 4) << first;
    EXPECT_NEAR(height, 48, 4) << first;

    TuningWindow tune;
    QString error;
    ASSERT_TRUE(tune.openVideo(QString::fromStdString(video), &error)) << error.toStdString();
    tune.setDetector(pelmora::DetectorKind::Objects, pelmora::ObjectSettings());
    auto* position = tune.findChild<QSlider*>(QStringLiteral("positionSlider"));
    position->setValue(4000);
    QTRY_COMPARE(tune.findChild<QLabel*>(QStringLiteral("measureLine"))->text(),
                 QStringLiteral("1 object"));
}

// The question is of a run that is to happen: a video that does not open is said at once, and
// nothing is asked of the folder's earlier snapshots.
TEST(WindowEarlierRun, AVideoThatDoesNotOpenIsSaidBeforeAnythingIsAsked) {
    TempDir tmp;
    writeMovingSquare(tmp.file("long.avi"), 4);
    RunningWindow run;
    run.setFields(tmp.file("long.avi"), tmp.path());
    testsupport::StderrCapture first;
    run.clickStart();
    first.finish();
    run.setFields(tmp.file("missing.avi"), tmp.path());
    uitest::BoxSeen box;
    auto answer = uitest::closeNextBox(box);
    testsupport::StderrCapture second;
    run.clickStart();
    second.finish();
    EXPECT_TRUE(answer->answered());
    EXPECT_EQ(box.title, QStringLiteral("Warning"));
    EXPECT_EQ(box.text.toStdString(),
              "Failed to open " + tmp.file("missing.avi") + ": No such file or directory");
    EXPECT_EQ(uitest::snapshotFiles(tmp.path()).size(), 4u);
}

// Enter loses nothing: the default is to keep what an earlier run left, and the choices say
// what they do, with the folder's path whole.
TEST(WindowEarlierRun, TheQuestionsDefaultKeepsAndItsChoicesSayWhatTheyDo) {
    pelmora::EarlierRun earlier;
    earlier.snapshots.resize(1004);
    const QString folder =
        QStringLiteral("/home/someone/recordings/a-rather-long-folder-name-for-one-camera/day");
    QStringList texts;
    QString defaultText;
    QString shown;
    uitest::ModalAnswer answer([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* button : box->buttons()) {
            texts << button->text();
        }
        ASSERT_NE(box->defaultButton(), nullptr);
        defaultText = box->defaultButton()->text();
        shown = box->informativeText();
        QTest::keyClick(box, Qt::Key_Return);
    });
    EXPECT_EQ(askAboutEarlierRun(nullptr, folder, earlier), EarlierRunChoice::Keep);
    EXPECT_TRUE(answer.answered());
    EXPECT_EQ(defaultText, QStringLiteral("Keep them beside the new ones"));
    // The count as the desktop's language writes numbers: "1,004" in English.
    EXPECT_TRUE(texts.contains(
        QStringLiteral("Remove the %1 snapshots of the earlier run").arg(QLocale().toString(1004))))
        << texts.join('|').toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("<p style=\"white-space:pre\">") + folder + "</p>"))
        << shown.toStdString();
}

// What a user does to one window during a run.
enum class Input { Escape, Close, StopButton };

void give(Input input, QWidget* target) {
    if (input == Input::Escape) {
        postEscape(target);
    } else if (input == Input::StopButton) {
        QTest::mouseClick(target, Qt::LeftButton);
    } else if (target->windowHandle() != nullptr) {
        target->windowHandle()->close();  // as the window manager's close button does
    }
}

TEST(WindowStop, ComesAfterTheCurrentFrameFromEveryWindowOfTheRunButNoOther) {
    // Long enough that a stop lands before the end: the run does not wait for the window.
    constexpr int kFrames = 400;
    TempDir videos;
    const std::string video = videos.file("garden.avi");
    {
        // Every frame changes from edge to edge, the first from the black before it too, so that
        // every frame is a snapshot and costs the run enough to outlast a slow build's window
        // in reaching the stop.
        const cv::Size size(320, 240);
        const cv::Mat frames[] = {solidFrame(size, cv::Scalar::all(0)),
                                  solidFrame(size, cv::Scalar::all(255))};
        std::vector<cv::Mat> garden;
        for (int i = 0; i < kFrames; ++i) {
            garden.push_back(frames[(i + 1) % 2]);
        }
        testsupport::writeVideo(video, garden, 25.0);
    }
    const QString videoTitle = QString::fromStdString(video);
    enum class Outcome { Stopped, WindowClosed, Finished };
    const struct {
        bool detailed;
        Input input;
        const char* into;  // "main", "help", "diff" or "video"
        Outcome outcome;
    } rows[] = {
        {false, Input::Escape, "main", Outcome::Stopped},
        {false, Input::StopButton, "main", Outcome::Stopped},
        {true, Input::Escape, "main", Outcome::Stopped},
        {true, Input::Escape, "diff", Outcome::Stopped},
        {true, Input::Close, "diff", Outcome::Stopped},
        {true, Input::Close, "video", Outcome::Stopped},
        {false, Input::Close, "main", Outcome::WindowClosed},
        {true, Input::Close, "main", Outcome::WindowClosed},
        {false, Input::Escape, "help", Outcome::Finished},
        {true, Input::Escape, "help", Outcome::Finished},
    };
    for (const auto& row : rows) {
        const std::string name = std::string(row.detailed ? "detailed, " : "quiet, ") +
                                 (row.input == Input::Escape       ? "Escape in "
                                  : row.input == Input::StopButton ? "Stop in "
                                                                   : "closing ") +
                                 row.into;
        TempDir out;
        RunningWindow running;
        Kavrit& window = running.window;
        running.setFields(video, out.path());
        if (row.detailed) {
            QTest::mouseClick(child<QRadioButton>(window, "radioButton_detailedOutput"),
                              Qt::LeftButton);
        }
        QPointer<QWidget> help = uitest::openHelpWindow(window);
        // The guide is laid out and painted before the run, not in the middle of it, where a
        // slow build would take longer over it than the run takes over every frame.
        ASSERT_TRUE(QTest::qWaitForWindowExposed(help.data())) << name;
        uitest::spin(50);
        const std::string into = row.into;
        bool displaysShown = false;
        running.duringRun = [&] {
            displaysShown = topLevelTitled(videoTitle) != nullptr &&
                            topLevelTitled(QStringLiteral("diff")) != nullptr;
            // From the event loop inside the run, as a user's input comes.
            QTimer::singleShot(0, &window, [&] {
                QWidget* target =
                    into == "help"    ? help.data()
                    : into == "diff"  ? topLevelTitled(QStringLiteral("diff"))
                    : into == "video" ? topLevelTitled(videoTitle)
                    : row.input == Input::StopButton
                        ? static_cast<QWidget*>(child<QPushButton>(window, "pushButton_stop"))
                    : row.input == Input::Escape
                        ? static_cast<QWidget*>(child<QLineEdit>(window, "videoBox"))
                        : &window;
                ASSERT_NE(target, nullptr) << name;
                give(row.input, target);
            });
        };
        testsupport::StderrCapture err;
        running.clickStart();
        err.finish();
        EXPECT_EQ(displaysShown, row.detailed) << name;
        const auto saved = static_cast<int>(uitest::snapshotFiles(out.path()).size());
        const QString dir = QString::fromStdString(out.path());
        if (row.outcome == Outcome::Finished) {
            EXPECT_EQ(saved, kFrames) << name;
            EXPECT_EQ(running.bar()->value(), 100) << name;
            EXPECT_EQ(
                uitest::withoutTime(running.summary()),
                QStringLiteral("%1 snapshots saved in %2 (%1 frames, T s)").arg(kFrames).arg(dir))
                << name;
        } else if (row.outcome == Outcome::WindowClosed) {
            EXPECT_FALSE(window.isVisible()) << name;
            EXPECT_LT(saved, kFrames) << name;
        } else {
            // Every frame is a snapshot: as many saved as read, and the bar keeps the
            // percentage of the frame before the one that stopped the run.
            // How far the run got depends on the machine's load; only that it stopped is sure.
            EXPECT_GE(saved, 2) << name;
            EXPECT_LT(saved, kFrames) << name;
            EXPECT_EQ(running.bar()->value(), (saved - 1) * 100 / kFrames) << name;
            EXPECT_EQ(running.barValues.back(), running.bar()->value()) << name;
            EXPECT_EQ(
                uitest::withoutTime(running.summary()),
                QStringLiteral("Stopped after %1 of %2 frames: %1 snapshots saved in %3 (T s)")
                    .arg(saved)
                    .arg(kFrames)
                    .arg(dir))
                << name;
        }
        // A detailed run's windows stay with its last picture, but for one the user closed;
        // closing the main window takes them with it.
        uitest::spin(50);
        const bool kept = row.detailed && row.outcome != Outcome::WindowClosed;
        EXPECT_EQ(topLevelTitled(videoTitle) != nullptr,
                  kept && !(row.input == Input::Close && into == "video"))
            << name;
        EXPECT_EQ(topLevelTitled(QStringLiteral("diff")) != nullptr,
                  kept && !(row.input == Input::Close && into == "diff"))
            << name;
        // Until Detailed Output is turned off.
        if (kept) {
            QTest::mouseClick(child<QRadioButton>(window, "radioButton_detailedOutput"),
                              Qt::LeftButton);
            uitest::spin(20);
            EXPECT_EQ(topLevelTitled(videoTitle), nullptr) << name;
            EXPECT_EQ(topLevelTitled(QStringLiteral("diff")), nullptr) << name;
        }
        if (help != nullptr) {
            help->close();
        }
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST(WindowSettings, TheFieldsAndChoicesComeBackInTheNextSession) {
    TempDir tmp;
    QSettings settings(QString::fromStdString(tmp.file("pelmora.conf")), QSettings::IniFormat);
    {
        Kavrit window;
        child<QLineEdit>(window, "videoBox")->setText(QStringLiteral("/clips/yard.avi"));
        child<QLineEdit>(window, "lineEdit")->setText(QStringLiteral("/shots"));
        child<QSlider>(window, "horizontalSlider_thresholdSlider")->setValue(23);
        child<QRadioButton>(window, "radioButton_detailedOutput")->setChecked(true);
        window.saveSettings(settings);
    }
    Kavrit window;
    window.restoreSettings(settings);
    EXPECT_EQ(child<QLineEdit>(window, "videoBox")->text(), QStringLiteral("/clips/yard.avi"));
    EXPECT_EQ(child<QLineEdit>(window, "lineEdit")->text(), QStringLiteral("/shots"));
    EXPECT_EQ(child<QSlider>(window, "horizontalSlider_thresholdSlider")->value(), 23);
    EXPECT_EQ(child<QLabel>(window, "label_threshold")->text(), QStringLiteral("Threshold: 23"));
    EXPECT_TRUE(child<QRadioButton>(window, "radioButton_detailedOutput")->isChecked());
}

TEST(WindowDrop, AFileDroppedOnTheWindowBecomesTheVideo) {
    Kavrit window;
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QStringLiteral("/clips/yard.avi"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    EXPECT_EQ(child<QLineEdit>(window, "videoBox")->text(), QStringLiteral("/clips/yard.avi"));
}

TEST(WindowThreshold, IsReadOnceAtTheStartOfARun) {
    // A step of exactly 20 in every channel: no motion at 20, every frame at 19.
    TempDir tmp;
    const cv::Mat grey = solidFrame(cv::Size(64, 48), cv::Scalar::all(100));
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 6; ++i) {
        frames.push_back(grey + cv::Scalar::all(20 * (i % 2)));
    }
    testsupport::writeVideo(tmp.file("steps.avi"), frames, 25.0);
    const struct {
        int threshold;
        std::size_t snapshots;  // the first frame is always motion against black
    } rows[] = {{20, 1}, {19, 6}};
    for (const auto& row : rows) {
        TempDir out;
        Kavrit window;  // a new window, so that the reference starts black
        child<QLineEdit>(window, "videoBox")
            ->setText(QString::fromStdString(tmp.file("steps.avi")));
        child<QLineEdit>(window, "lineEdit")->setText(QString::fromStdString(out.path()));
        auto* slider = child<QSlider>(window, "horizontalSlider_thresholdSlider");
        slider->setValue(row.threshold);
        // Moving the slider during the run changes nothing in it.
        QObject::connect(child<QProgressBar>(window, "progressBar_kavritProgress"),
                         &QProgressBar::valueChanged, slider, [slider] { slider->setValue(50); });
        testsupport::StderrCapture err;
        window.goButton();
        uitest::finishRun(window);
        err.finish();
        EXPECT_EQ(uitest::snapshotFiles(out.path()).size(), row.snapshots) << row.threshold;
    }
}

}  // namespace
