// A stop during a run, from every window of the run: it comes after the current frame.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
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
        const auto saved = static_cast<int>(testsupport::snapshotFiles(out.path()).size());
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

}  // namespace
