#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <vector>

#include "ChangeCounter.h"
#include "TestSupport.h"
#include "TuningWindow.h"
#include "UiTestSupport.h"
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

TEST(TuningWindow, SaysWhyAVideoDoesNotOpen) {
    TuningWindow window;
    QString error;
    EXPECT_FALSE(window.openVideo(QStringLiteral("/nonexistent/clip.avi"), &error));
    EXPECT_EQ(error, QStringLiteral("No such file or directory"));
}

}  // namespace
