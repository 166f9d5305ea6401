#pragma once

// The main window shown for a run, and what the tests of its runs share: the videos they run,
// the lines a run says, and the windows and keys of a run.

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <functional>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "FolderNames.h"
#include "ResultsPanel.h"
#include "TestSupport.h"
#include "UiTestSupport.h"

namespace uitest {

inline const char* const kBadPath = "You have to specify a valid avi file path.";

// Every frame moves a square, so that every frame is a snapshot (at 25 frames per second).
inline void writeMovingSquare(const std::string& path, int frames, cv::Size size = {64, 48}) {
    const cv::Mat black = testsupport::solidFrame(size, cv::Scalar::all(0));
    std::vector<cv::Mat> video;
    for (int i = 0; i < frames; ++i) {
        video.push_back(
            testsupport::withRect(black, {(i % 2) * 30 + 4, 10, 20, 20}, cv::Scalar::all(255)));
    }
    testsupport::writeVideo(path, video, 25.0);
}

// The snapshots of the first frames, one a frame at 25 frames per second.
inline std::vector<std::string> snapshotNames(int frames) {
    std::vector<std::string> names;
    for (int i = 0; i < frames; ++i) {
        names.push_back(pelmora::snapshotFileName(40LL * i));
    }
    return names;
}

// The lines a run says of those snapshots, saved in dir.
inline std::string savedLines(const std::string& dir, int frames) {
    return testsupport::savedLines(dir, snapshotNames(frames));
}

// The lines of the lists and the report the window keeps by default, once each is whole.
inline std::string recordLines(const std::string& dir) {
    return "[" + dir + "/snapshots.csv]\n[" + dir + "/events.csv]\n[" + dir + "/report.html]\n";
}

// The shown top-level window of that title, if any.
inline QWidget* topLevelTitled(const QString& title) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->windowTitle() == title) {
            return widget;
        }
    }
    return nullptr;
}

// Escape, pressed on target once the events queued before it are handled.
inline void postEscape(QObject* target) {
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
    testsupport::TempDir tmp;
};

}  // namespace uitest
