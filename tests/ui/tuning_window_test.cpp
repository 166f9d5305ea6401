#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <vector>

#include <QTest>

#include "ChangeCounter.h"
#include "FrameDetector.h"
#include "OptionTable.h"
#include "SweepView.h"
#include "TestSupport.h"
#include "TuningWindow.h"
#include "UiTestSupport.h"
#include "VideoRun.h"
#include "WatchedRegion.h"

namespace {

using testsupport::TempDir;

const cv::Rect kSquare(70, 50, 20, 20);
constexpr int kSquareFrame = 30;  // at 1200 ms

// Two seconds at 25 frames per second of black, where a white square appears at 1.2 s.
std::vector<cv::Mat> squareAppears() {
    const cv::Mat black = testsupport::solidFrame({160, 120}, cv::Scalar::all(0));
    std::vector<cv::Mat> frames(50, black);
    for (std::size_t i = kSquareFrame; i < frames.size(); ++i) {
        frames[i] = testsupport::withRect(black, kSquare, cv::Scalar::all(255));
    }
    return frames;
}

QString lineOf(TuningWindow& window) {
    return window.findChild<QLabel*>(QStringLiteral("measureLine"))->text();
}

QString expectedLine(long long count, bool triggers) {
    return QStringLiteral("%1 changed pixels — would %2trigger")
        .arg(count)
        .arg(triggers ? QString() : QStringLiteral("not "));
}

TEST(TuningWindow, CountsAndDecidesAsTheCoreForTheFramesAtThePositionAndASecondBefore) {
    TempDir tmp;
    const std::string path = tmp.file("square.avi");
    const std::vector<cv::Mat> frames = squareAppears();
    ASSERT_TRUE(testsupport::writeVideo(path, frames));
    TuningWindow window;
    QString error;
    ASSERT_TRUE(window.openVideo(QString::fromStdString(path), &error)) << error.toStdString();
    window.setThreshold(20);
    auto* position = window.findChild<QSlider*>(QStringLiteral("positionSlider"));
    pelmora::ChangeCounter counter;
    struct Row {
        const char* name;
        int ms;
        int frame;  // compared with the frame 25 before it
        pelmora::WatchedRegion region;
    };
    const Row rows[] = {
        {"just before the square", 1199, kSquareFrame - 1, {}},
        {"as it appears", 1200, kSquareFrame, {}},
        {"its left half watched", 1200, kSquareFrame,
         pelmora::WatchedRegion::fromImage(
             testsupport::withRect(frames[0], {0, 0, 80, 120}, cv::Scalar::all(255)))},
    };
    long long count = 0;
    for (Row row : rows) {
        window.setWatchedRegion(row.region);
        position->setValue(row.ms);
        uitest::spin(20);
        count = counter
                    .count(frames[row.frame], frames[row.frame - 25], 20,
                           row.region.forFrames(frames[0].size()))
                    .busiest();
        EXPECT_EQ(lineOf(window), expectedLine(count, count > 10)) << row.name;
    }
    ASSERT_GT(count, 0);
    window.setMinPixels(static_cast<int>(count));
    EXPECT_EQ(lineOf(window), expectedLine(count, false));
    window.setMinPixels(static_cast<int>(count - 1));
    EXPECT_EQ(lineOf(window), expectedLine(count, true));

    QSignalSpy chosen(&window, &TuningWindow::thresholdChosen);
    window.findChild<QSlider*>(QStringLiteral("thresholdSlider"))->setValue(37);
    window.findChild<QPushButton*>(QStringLiteral("useThresholdButton"))->click();
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen.at(0).at(0).toInt(), 37);
    EXPECT_EQ(window.threshold(), 37);
}

// The position beside the slider is that of the frame shown, as its caption says; a click on
// the track pages by a tenth of the video.
TEST(TuningWindow, ThePositionIsThatOfTheFrameShownAndTheTrackPagesByATenth) {
    TempDir tmp;
    struct Row {
        const char* name;
        int frames;
        int askedMs;
        const char* shown;
        const char* label;
        int pageStep;
    };
    const Row rows[] = {
        // The first view asks for 1 s, which a one-frame video does not reach.
        {"one frame", 1, -1, "00:00:00.000", "00:00:00.000 of 00:00:00.040", 1000},
        {"between two frames", 50, 1254, "00:00:01.240", "00:00:01.240 of 00:00:02.000", 1000},
        {"two minutes", 3000, 61000, "00:01:01.000", "00:01:01.000 of 00:02:00.000", 12000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = tmp.file(std::string(row.name) + ".avi");
        ASSERT_TRUE(testsupport::writeVideo(
            path, std::vector<cv::Mat>(static_cast<std::size_t>(row.frames),
                                       testsupport::solidFrame({32, 24}, cv::Scalar::all(0)))));
        TuningWindow window;
        QString error;
        ASSERT_TRUE(window.openVideo(QString::fromStdString(path), &error)) << error.toStdString();
        auto* position = window.findChild<QSlider*>(QStringLiteral("positionSlider"));
        if (row.askedMs >= 0) {
            position->setValue(row.askedMs);
        }
        uitest::spin(20);
        EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("frameCaption"))->text(),
                  QStringLiteral("Frame at %1").arg(QString::fromLatin1(row.shown)));
        EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("positionLabel"))->text(),
                  QString::fromLatin1(row.label));
        EXPECT_EQ(position->pageStep(), row.pageStep);
    }
}

// The whole video's view, wiring only: the curve holds the core's counts for the trigger size
// set, and a click on it picks the threshold that Use then hands on.
TEST(TuningWindow, TheWholeVideosCurveShowsTheSweepsCountsAndAClickChoosesItsThreshold) {
    TempDir tmp;
    const std::string path = tmp.file("square.avi");
    ASSERT_TRUE(testsupport::writeVideo(path, squareAppears()));
    TuningWindow window;
    window.resize(800, 600);
    QString error;
    ASSERT_TRUE(window.openVideo(QString::fromStdString(path), &error)) << error.toStdString();
    window.setMinPixels(300);
    auto* view = window.findChild<SweepView*>(QStringLiteral("sweepView"));
    ASSERT_NE(view, nullptr);
    QSignalSpy finished(view, &SweepView::sweepFinished);
    window.findChild<QPushButton*>(QStringLiteral("sweepButton"))->click();
    ASSERT_TRUE(finished.wait(60000));

    const std::vector<pelmora::SweepSetting> settings =
        pelmora::sweepSettings(pelmora::kMinimumThreshold, pelmora::kMaximumThreshold, {300});
    pelmora::VideoRunRequest request;
    request.run.videoPath = path;
    request.records.eventGapMs = pelmora::option::kEventGap.windowDefault;
    request.sweep = pelmora::SweepRequest{settings, {}, false};
    testsupport::TestHost host;
    pelmora::FrameDetector detector;
    const pelmora::VideoRunResult core = pelmora::runVideo(detector, request, host);
    ASSERT_EQ(core.sweepRows.size(), settings.size());
    auto* curve = window.findChild<SweepCurve*>(QStringLiteral("sweepCurve"));
    for (const pelmora::SweepRow& row : core.sweepRows) {
        EXPECT_EQ(curve->countsAt(row.setting.threshold), std::make_pair(row.snapshots, row.events))
            << row.setting.threshold;
    }

    auto* views = window.findChild<QTabWidget*>(QStringLiteral("tuningViews"));
    views->setCurrentWidget(view);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(curve, Qt::LeftButton, Qt::NoModifier,
                      QPoint(curve->xOf(33), curve->height() / 2));
    EXPECT_EQ(window.threshold(), 33);
    QSignalSpy chosen(&window, &TuningWindow::thresholdChosen);
    window.findChild<QPushButton*>(QStringLiteral("useThresholdButton"))->click();
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen.at(0).at(0).toInt(), 33);

    // A moment marked at the position goes into the file --expect reads, and back.
    window.findChild<QSlider*>(QStringLiteral("positionSlider"))->setValue(1200);
    window.findChild<QPushButton*>(QStringLiteral("markMomentButton"))->click();
    ASSERT_EQ(view->moments().size(), 1U);
    const QString moments = QString::fromStdString(tmp.file("moments.txt"));
    ASSERT_TRUE(view->saveMoments(moments, &error)) << error.toStdString();
    SweepView other;
    ASSERT_TRUE(other.loadMoments(moments, &error)) << error.toStdString();
    ASSERT_EQ(other.moments().size(), 1U);
    EXPECT_EQ(other.moments()[0].startMs, 700);
    EXPECT_EQ(other.moments()[0].endMs, 1700);
}

TEST(TuningWindow, SaysWhyAVideoDoesNotOpen) {
    TuningWindow window;
    QString error;
    EXPECT_FALSE(window.openVideo(QStringLiteral("/nonexistent/clip.avi"), &error));
    EXPECT_EQ(error, QStringLiteral("No such file or directory"));
}

}  // namespace
