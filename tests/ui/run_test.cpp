#include <gtest/gtest.h>

#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <functional>
#include <string>
#include <vector>

#include "SnapshotNaming.h"
#include "TestSupport.h"
#include "UiTestSupport.h"

namespace {

using testsupport::solidFrame;
using testsupport::TempDir;
using testsupport::withRect;
using uitest::child;

const char* const kBadPath = "You have to specify a valid avi file path.";

// Every frame moves a square, so that every frame is a snapshot (at 25 frames per second).
void writeMovingSquare(const std::string& path, int frames) {
    const cv::Mat black = solidFrame(cv::Size(64, 48), cv::Scalar::all(0));
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

class WindowRun : public ::testing::Test {
protected:
    void SetUp() override {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
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
    void clickStart() {
        QTest::mouseClick(child<QPushButton>(window, "pushButton"), Qt::LeftButton);
    }

    Kavrit window;
    TempDir tmp;
    std::vector<int> barValues;
    // Called once, from inside a run, when the bar first moves.
    std::function<void()> duringRun;
};

TEST_F(WindowRun, StartFillsTheDerivedDirectoryWhileTheBarMoves) {
    writeMovingSquare(tmp.file("garden.avi"), 3);
    setFields(tmp.file("garden.avi"), "");
    testsupport::StderrCapture err;
    clickStart();
    EXPECT_EQ(err.finish(), savedLines(tmp.file("garden"), 3));
    EXPECT_EQ(testsupport::listDir(tmp.file("garden")), snapshotNames(3));
    EXPECT_EQ(barValues, (std::vector<int>{33, 66, 100}));
    EXPECT_TRUE(bar()->isVisible());
    EXPECT_EQ(bar()->value(), 100);
}

TEST_F(WindowRun, ASecondRunShowsTheOld100UntilItsFirstFrameAndStartsFromTheOldReference) {
    writeMovingSquare(tmp.file("garden.avi"), 3);
    setFields(tmp.file("garden.avi"), tmp.path());
    testsupport::StderrCapture err;
    child<QAction>(window, "actionRun")->trigger();
    barValues.clear();
    TempDir again;
    setFields(tmp.file("garden.avi"), again.path());
    clickStart();
    err.finish();
    // Straight from the old 100 to the first frame's 33: no reset in between.
    EXPECT_EQ(barValues, (std::vector<int>{33, 66, 100}));
    // The last frame of the first run equals the first of the second: not motion.
    EXPECT_EQ(testsupport::listDir(again.path()),
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
        EXPECT_EQ(err.finish(), "Failed to open " + video + "\n") << name;
        EXPECT_TRUE(answer->answered()) << name;
        EXPECT_EQ(box.title, QStringLiteral("Warning")) << name;
        EXPECT_EQ(box.text, QString::fromStdString("Failed to open " + video)) << name;
        EXPECT_TRUE(bar()->isVisible()) << name;
        EXPECT_EQ(bar()->value(), 0) << name;
        EXPECT_TRUE(testsupport::listDir(tmp.path()).empty()) << name;
    }
}

TEST_F(WindowRun, ReportsSnapshotsThatCouldNotBeSaved) {
    writeMovingSquare(tmp.file("garden.avi"), 3);
    const std::string missing = tmp.file("missing");
    setFields(tmp.file("garden.avi"), missing);
    uitest::BoxSeen box;
    auto answer = uitest::closeNextBox(box);
    testsupport::StderrCapture err;
    clickStart();
    const std::string lines = err.finish();
    EXPECT_EQ(lines.find("Failed to save " + missing + "/IMG00000000.jpg\n"), 0u);
    EXPECT_TRUE(answer->answered());
    EXPECT_EQ(box.title, QStringLiteral("Warning"));
    EXPECT_EQ(box.text,
              QString::fromStdString("3 snapshots could not be saved in " + missing + "."));
    EXPECT_EQ(bar()->value(), 100);
}

TEST_F(WindowRun, EscapeInTheMaskWindowStopsADetailedRun) {
    writeMovingSquare(tmp.file("garden.avi"), 200);
    setFields(tmp.file("garden.avi"), tmp.path());
    QTest::mouseClick(child<QRadioButton>(window, "radioButton_detailedOutput"), Qt::LeftButton);
    bool displaysShown = false;
    duringRun = [&] {
        QWidget* frameWindow = topLevelTitled(QString::fromStdString(tmp.file("garden.avi")));
        QWidget* maskWindow = topLevelTitled(QStringLiteral("diff"));
        displaysShown = frameWindow != nullptr && maskWindow != nullptr;
        if (maskWindow != nullptr) {
            postEscape(maskWindow);
        }
    };
    testsupport::StderrCapture err;
    clickStart();
    err.finish();
    EXPECT_TRUE(displaysShown);
    const auto saved = testsupport::listDir(tmp.path()).size() - 1;  // less the video
    EXPECT_GE(saved, 2u);
    EXPECT_LT(saved, 10u);
    EXPECT_EQ(bar()->value(), 100);
    uitest::spin(50);
    EXPECT_EQ(topLevelTitled(QStringLiteral("diff")), nullptr);
}

TEST_F(WindowRun, EscapeInTheMainWindowStopsAQuietRun) {
    writeMovingSquare(tmp.file("garden.avi"), 200);
    setFields(tmp.file("garden.avi"), tmp.path());
    duringRun = [&] { postEscape(child<QLineEdit>(window, "videoBox")); };
    testsupport::StderrCapture err;
    clickStart();
    err.finish();
    const auto saved = testsupport::listDir(tmp.path()).size() - 1;
    EXPECT_GE(saved, 1u);
    EXPECT_LT(saved, 10u);
    EXPECT_EQ(barValues.back(), 100);
}

TEST_F(WindowRun, IgnoresStartWhileARunIsGoing) {
    writeMovingSquare(tmp.file("garden.avi"), 20);
    setFields(tmp.file("garden.avi"), tmp.path());
    duringRun = [&] {
        clickStart();
        child<QAction>(window, "actionRun")->trigger();
    };
    testsupport::StderrCapture err;
    clickStart();
    EXPECT_EQ(err.finish(), savedLines(tmp.path(), 20));
    EXPECT_EQ(barValues.back(), 100);
}

TEST_F(WindowRun, ClosingTheWindowStopsTheRun) {
    writeMovingSquare(tmp.file("garden.avi"), 200);
    setFields(tmp.file("garden.avi"), tmp.path());
    duringRun = [&] { window.close(); };
    testsupport::StderrCapture err;
    clickStart();
    err.finish();
    EXPECT_FALSE(window.isVisible());
    EXPECT_LT(testsupport::listDir(tmp.path()).size() - 1, 10u);
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
        err.finish();
        EXPECT_EQ(testsupport::listDir(out.path()).size(), row.snapshots) << row.threshold;
    }
}

}  // namespace
