// A run started from the main window: what it fills, the options that reach it, what it shows
// after, and the fields, choices and threshold the window reads for it.

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QStatusTipEvent>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <functional>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "EventList.h"
#include "FolderNames.h"
#include "RegionCanvas.h"
#include "RegionEditor.h"
#include "ResultsPanel.h"
#include "RunOptionsPanel.h"
#include "RunningWindow.h"
#include "SceneFootage.h"
#include "TestSupport.h"
#include "TimelineView.h"
#include "TuningWindow.h"
#include "UiTestSupport.h"

namespace {

using namespace uitest;
using testsupport::solidFrame;
using testsupport::TempDir;
using testsupport::withRect;

// Once the next region editor opens, clicks corners on its frame, then does the rest.
void drawInNextEditor(const std::vector<cv::Point>& corners,
                      const std::function<void(RegionEditor&)>& rest) {
    QTimer::singleShot(0, [corners, rest] {
        auto* editor = qobject_cast<RegionEditor*>(QApplication::activeModalWidget());
        ASSERT_NE(editor, nullptr);
        RegionCanvas* canvas = editor->canvas();
        for (const cv::Point& corner : corners) {
            QTest::mouseClick(canvas, Qt::LeftButton, Qt::NoModifier,
                              canvas->toCanvas(corner).toPoint());
        }
        rest(*editor);
    });
}

TEST_F(WindowRun, StartFillsTheDerivedDirectoryWhileTheBarMoves) {
    writeMovingSquare(tmp.file("garden.avi"), 3);
    setFields(tmp.file("garden.avi"), "");
    testsupport::StderrCapture err;
    clickStart();
    EXPECT_EQ(err.finish(), savedLines(tmp.file("garden"), 3) + recordLines(tmp.file("garden")));
    EXPECT_EQ(testsupport::snapshotFiles(tmp.file("garden")), snapshotNames(3));
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
        bool exports;  // JSON and WebVTT
        std::size_t snapshots;
        std::size_t files;  // with the lists, the report and the exports
    } rows[] = {
        {"as they come", 10, "", true, false, 3, 6},
        {"a trigger no frame reaches", 5000, "", true, false, 0, 3},
        {"a region that watches nothing", 10, "nothing.png", true, false, 0, 3},
        // The reference is the last run's last snapshot, which this video starts with.
        {"lists without the report", 10, "", false, false, 2, 4},
        {"exports", 10, "", false, true, 2, 6},
    };
    for (const auto& row : rows) {
        const std::string dir = tmp.file(row.name);
        setFields(tmp.file("garden.avi"), dir);
        child<QSpinBox>(window, "spinBox_triggerSize")->setValue(row.triggerSize);
        child<QLineEdit>(window, "lineEdit_mask")
            ->setText(*row.mask == 0 ? QString() : QString::fromStdString(tmp.file(row.mask)));
        child<QCheckBox>(window, "checkBox_report")->setChecked(row.report);
        child<QCheckBox>(window, "checkBox_exportJson")->setChecked(row.exports);
        child<QCheckBox>(window, "checkBox_exportVtt")->setChecked(row.exports);
        testsupport::StderrCapture err;
        clickStart();
        err.finish();
        EXPECT_EQ(testsupport::snapshotFiles(dir).size(), row.snapshots) << row.name;
        EXPECT_EQ(testsupport::listDir(dir).size(), row.files) << row.name;
        EXPECT_EQ(std::filesystem::exists(dir + "/events.json") &&
                      std::filesystem::exists(dir + "/events.vtt"),
                  row.exports)
            << row.name;
    }
}

// A polygon clicked on the frame in the region editor is the run's, and kept with the settings.
TEST_F(WindowRun, APolygonDrawnWithTheMouseReachesTheRun) {
    writeMovingSquare(tmp.file("garden.avi"), 3);
    const std::string dir = tmp.file("drawn");
    setFields(tmp.file("garden.avi"), dir);
    drawInNextEditor({{0, 0}, {30, 0}, {30, 48}, {0, 48}}, [&](RegionEditor& editor) {
        RegionCanvas* canvas = editor.canvas();
        // A point put down by mistake, taken away again with a right click.
        QTest::mouseClick(canvas, Qt::LeftButton, Qt::NoModifier,
                          canvas->toCanvas({10, 10}).toPoint());
        QTest::mouseClick(canvas, Qt::RightButton, Qt::NoModifier,
                          canvas->toCanvas({10, 10}).toPoint());
        // Saved as pelmora-scan reads it, and loaded back as it was.
        const QString file = QString::fromStdString(tmp.file("drawn.txt"));
        ASSERT_TRUE(editor.saveFile(file));
        pelmora::RegionShapes read;
        EXPECT_EQ(pelmora::readRegionFile(file.toStdString(), read), "");
        EXPECT_EQ(read, editor.shapes());
        canvas->setShapes({});
        ASSERT_TRUE(editor.loadFile(file));
        editor.accept();
    });
    QTest::mouseClick(child<QPushButton>(window, "pushButton_regions"), Qt::LeftButton);
    EXPECT_EQ(child<QLabel>(window, "label_regions")->text(), QStringLiteral("1 polygon kept"));
    testsupport::StderrCapture err;
    clickStart();
    err.finish();
    const std::string report = testsupport::fileBytes(dir + "/report.html");
    EXPECT_NE(report.find("1 polygon kept"), std::string::npos);
    QSettings settings(QString::fromStdString(tmp.file("pelmora.conf")), QSettings::IniFormat);
    window.saveSettings(settings);
    EXPECT_EQ(settings.value(QStringLiteral("regions")).toStringList(),
              QStringList{QStringLiteral("keep 0,0 30,0 30,48 0,48")});
}

// After an objects run, a region drawn in the search panel is answered from the run's index at
// once, in the results, and kept as a folder of its own when asked.
TEST_F(WindowRun, ARegionDrawnToSearchShowsTheSearchsEvents) {
    testsupport::SceneRecipe scene;
    scene.seconds = 12.0;
    // A person high from 2 s to 5 s, and one low from 6.5 s to 11 s, standing at about 158.
    scene.objects = {{2.0, 5.0, {10, 24}, {20, 20}, {260, 20}},
                     {6.5, 11.0, {20, 48}, {280, 110}, {30, 110}}};
    ASSERT_EQ(testsupport::writeScene(scene, tmp.file("yard.avi")), "");
    const std::string dir = tmp.file("yard");
    setFields(tmp.file("yard.avi"), dir);
    child<QComboBox>(window, "comboBox_detector")->setCurrentIndex(1);
    testsupport::StderrCapture err;
    clickStart();
    auto* search = window.findChild<QWidget*>(QStringLiteral("searchPanel"));
    ASSERT_NE(search, nullptr);
    ASSERT_TRUE(search->isVisible());
    auto* events = window.findChild<EventList*>(QStringLiteral("eventList"));
    ASSERT_EQ(events->count(), 1);
    drawInNextEditor({{0, 150}, {320, 150}, {320, 170}, {0, 170}},
                     [](RegionEditor& editor) { editor.accept(); });
    QTest::mouseClick(child<QPushButton>(window, "pushButton_searchRegions"), Qt::LeftButton);
    EXPECT_EQ(child<QLabel>(window, "label_searchRegions")->text(),
              QStringLiteral("1 polygon kept"));
    // Only the low one stands there: its event alone, from its first snapshot.
    QTRY_VERIFY(child<QLabel>(window, "label_searchStatus")->text().contains("found"));
    ASSERT_EQ(events->count(), 1);
    EXPECT_EQ(window.findChild<ResultsPanel*>()->events().front().startMs, 6960);
    QTest::mouseClick(child<QPushButton>(window, "pushButton_saveSearch"), Qt::LeftButton);
    QTRY_VERIFY(child<QLabel>(window, "label_searchStatus")->text().startsWith("Saved in"));
    err.finish();
    std::string saved;
    for (const std::string& name : testsupport::listDir(dir)) {
        saved += name.rfind("search-", 0) == 0 ? name : std::string();
    }
    ASSERT_FALSE(saved.empty());
    EXPECT_EQ(
        testsupport::splitLines(testsupport::fileBytes(dir + "/" + saved + "/events.csv")).size(),
        2u);
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
    // Polygons drawn while it is open are what it measures and shows at once.
    auto* caption = tuning->findChild<QLabel*>(QStringLiteral("frameCaption"));
    QTRY_VERIFY(caption->text().startsWith(QStringLiteral("Frame at")));
    EXPECT_FALSE(caption->text().contains(QStringLiteral("dimmed")));
    window.findChild<RunOptionsPanel*>()->setRegions({{true, {{0, 0}, {30, 0}, {30, 48}}}});
    EXPECT_TRUE(caption->text().contains(QStringLiteral("dimmed where not watched")))
        << caption->text().toStdString();
    tuning->close();
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
    EXPECT_EQ(testsupport::snapshotFiles(again.path()),
              (std::vector<std::string>{"IMG00000040.jpg", "IMG00000080.jpg"}));
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
        EXPECT_EQ(testsupport::snapshotFiles(out.path()).size(), row.snapshots) << row.threshold;
    }
}

}  // namespace
