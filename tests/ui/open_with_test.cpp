#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "UiTestSupport.h"

namespace {

using uitest::child;

// The arguments as the program sees them once Qt has taken its own options out: a file
// manager's "Open with" gives the video as the first one.
TEST(OpenWith, TheFirstArgumentFillsTheVideoField) {
    struct Row {
        const char* name;
        QStringList arguments;
        QString field;
    };
    const Row rows[] = {
        {"no argument", {"pelmora"}, QString()},
        {"an empty argument", {"pelmora", ""}, QString()},
        {"a video", {"pelmora", "/videos/garden.avi"}, "/videos/garden.avi"},
        {"spaces and accents",
         {"pelmora", QString::fromUtf8("/home/j\u00f6rg/Gartenfilm 1.avi")},
         QString::fromUtf8("/home/j\u00f6rg/Gartenfilm 1.avi")},
        {"several: only the first", {"pelmora", "first.avi", "second.avi"}, "first.avi"},
    };
    for (const Row& row : rows) {
        Kavrit window;
        window.openFromArguments(row.arguments);
        EXPECT_EQ(child<QLineEdit>(window, "videoBox")->text(), row.field) << row.name;
    }
}

// The video opened this way is the one Start reads.
TEST(OpenWith, StartRunsTheVideoGiven) {
    testsupport::TempDir dir;
    const cv::Mat black = testsupport::solidFrame(cv::Size(64, 48), cv::Scalar::all(0));
    const std::string video = dir.file("garden.avi");
    ASSERT_TRUE(testsupport::writeVideo(
        video, {black, testsupport::withRect(black, {10, 10, 20, 20}, cv::Scalar::all(255))}));

    Kavrit window;
    window.openFromArguments({"pelmora", QString::fromStdString(video)});
    testsupport::StderrCapture log;
    QTest::mouseClick(child<QPushButton>(window, "pushButton"), Qt::LeftButton);
    uitest::finishRun(window);
    const std::string garden = dir.file("garden");
    EXPECT_EQ(log.finish(), "[" + garden + "/IMG00000040.jpg]\n[" + garden + "/snapshots.csv]\n[" +
                                garden + "/events.csv]\n[" + garden + "/report.html]\n");
    EXPECT_EQ(testsupport::snapshotFiles(dir.file("garden")),
              std::vector<std::string>{"IMG00000040.jpg"});
}

}  // namespace
