#include <gtest/gtest.h>

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <functional>
#include <string>
#include <vector>

#include "EventList.h"
#include "EventTableModel.h"
#include "ResultsPanel.h"
#include "SnapshotViewer.h"
#include "TestSupport.h"
#include "TimelineView.h"
#include "UiTestSupport.h"
#include "VideoRun.h"

namespace {

using testsupport::TempDir;

// Hands what a run's records tell to the panel in batches, as the window's run thread does;
// the rows listed before the run ends are those of the events that closed during it, and atEnd
// looks at the panel then, when the frames are done but the records not yet finished.
class PanelFeed : public pelmora::RecordListener, public pelmora::RunObserver {
public:
    PanelFeed(ResultsPanel& panel, long long gapMs) : panel(panel), gapMs(gapMs) {}

    void recordStarted(const pelmora::RunFacts& facts) override { panel.beginRun(facts, gapMs); }
    void framePlotted(const pelmora::FrameMeasure& measure) override {
        batch.frames.push_back(measure);
        if (batch.frames.size() == 7) {
            flush();
        }
    }
    void snapshotListed(const pelmora::SnapshotOutcome& snapshot) override {
        batch.snapshots.push_back(snapshot);
        if (batch.snapshots.size() == 2) {
            flush();
        }
    }
    void eventGrowing(const pelmora::MotionEvent& event) override { batch.openEvent = event; }
    void eventClosed(const pelmora::MotionEvent& event) override {
        batch.closedEvents.push_back(event);
        batch.openEvent.reset();
    }
    void clipsCut(const std::vector<pelmora::ClipOutcome>&) override {}
    void digestSaved(const std::string&) override {}

    void runStarted(const pelmora::RunFacts&) override {}
    void frameMeasured(const pelmora::FrameMeasure&) override {}
    void snapshotDone(const pelmora::SnapshotOutcome&) override {}
    void runFinished(const pelmora::RunReport&) override {
        flush();
        rowsDuringRun = list().count();
        if (atEnd) {
            atEnd();
        }
    }

    void flush() {
        panel.addRecords(batch);
        batch = {};
    }

    EventList& list() { return *panel.findChild<EventList*>(QStringLiteral("eventList")); }

    int rowsDuringRun = -1;
    std::function<void()> atEnd;

private:
    ResultsPanel& panel;
    const long long gapMs;
    RecordBatch batch;
};

// The known moments of the test support: snapshots at 200, 240, 1200, 1240 and 3200 ms.
class PanelRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(testsupport::writeVideo(video, testsupport::knownMoments(), 25.0));
    }

    // Runs the clip into the panel and ends with the report path given.
    PanelFeed run(long long gapMs, const QString& reportPath, std::function<void()> atEnd = nullptr,
                  pelmora::StartOptions start = {}) {
        PanelFeed feed(panel, gapMs);
        feed.atEnd = std::move(atEnd);
        pelmora::VideoRunRequest request;
        request.run = {video, dir, 20};
        request.run.start = std::move(start);
        request.run.observer = &feed;
        request.records.eventGapMs = gapMs;
        request.listener = &feed;
        testsupport::TestHost host;
        pelmora::FrameDetector detector;
        const pelmora::VideoRunResult result = pelmora::runVideo(detector, request, host);
        feed.flush();
        panel.finishRun(result.report, reportPath);
        return feed;
    }

    template <typename T>
    T* found(const char* name) {
        return panel.findChild<T*>(QString::fromLatin1(name));
    }

    QString cell(int row, int column) {
        const EventTableModel& events = found<EventList>("eventList")->events();
        return events.data(events.index(row, column), Qt::DisplayRole).toString();
    }

    TempDir tmp;
    const std::string video = tmp.file("moments.avi");
    const std::string dir = tmp.file("moments");
    ResultsPanel panel;
};

// A file that announces twice the frames it holds: the live timeline spans what there is to
// read, not what the header claims.
TEST(PanelStart, TheLiveTimelineSpansTheFramesExpected) {
    // How far along the plot one minute lies, for a file announcing 3000 frames at 25 per
    // second of which it is expected to hold these (0: unknown).
    const auto minuteFor = [](long long expected) {
        ResultsPanel panel;
        panel.resize(800, 300);
        pelmora::RunFacts facts;
        facts.fps = 25.0;
        facts.framesAnnounced = 3000;
        facts.framesExpected = expected;
        panel.beginRun(facts, 2000);
        const auto* timeline = panel.findChild<TimelineView*>(QStringLiteral("timeline"));
        return timeline->pointAt(60000).x() - timeline->pointAt(0).x();
    };
    const int whole = minuteFor(3000);
    EXPECT_GT(whole, 100);
    EXPECT_NEAR(minuteFor(1500), 2 * whole, 2);
    EXPECT_EQ(minuteFor(0), whole);
}

TEST_F(PanelRun, ListsTheEventsAsTheyCloseAndTheTimelineHoldsEveryFrame) {
    struct Event {
        const char* start;
        const char* end;
        const char* length;
        const char* snapshots;
    };
    const struct {
        const char* name;
        long long gapMs;
        QString reportPath;
        int rowsDuringRun;
        std::vector<Event> events;
    } rows[] = {
        {"the default gap joins all",
         2000,
         "/runs/report.html",
         0,
         {{"00:00:00.200", "00:00:03.200", "3 s", "5"}}},
        {"one second splits off the last",
         1000,
         "",
         1,
         {{"00:00:00.200", "00:00:01.240", "1.04 s", "4"},
          {"00:00:03.200", "00:00:03.200", "0 s", "1"}}},
        {"half a second splits three ways",
         500,
         "",
         2,
         {{"00:00:00.200", "00:00:00.240", "0.04 s", "2"},
          {"00:00:01.200", "00:00:01.240", "0.04 s", "2"},
          {"00:00:03.200", "00:00:03.200", "0 s", "1"}}},
    };
    // One panel for all: each run replaces the one before.
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const PanelFeed feed = run(row.gapMs, row.reportPath);
        EXPECT_EQ(feed.rowsDuringRun, row.rowsDuringRun);
        ASSERT_EQ(found<EventList>("eventList")->count(), static_cast<int>(row.events.size()));
        for (std::size_t i = 0; i < row.events.size(); ++i) {
            const int at = static_cast<int>(i);
            EXPECT_EQ(cell(at, EventTableModel::Number), QString::number(at + 1));
            EXPECT_EQ(cell(at, EventTableModel::Start), row.events[i].start);
            EXPECT_EQ(cell(at, EventTableModel::End), row.events[i].end);
            EXPECT_EQ(cell(at, EventTableModel::Length), row.events[i].length);
            EXPECT_EQ(cell(at, EventTableModel::Snapshots), row.events[i].snapshots);
        }
        // A bucket for each of the 85 frames.
        const auto& buckets = found<TimelineView>("timeline")->timeline().buckets();
        EXPECT_EQ(buckets.size(), 85u);
        EXPECT_EQ(buckets.back().endMs, 3360);
        EXPECT_TRUE(found<QPushButton>("openFolderButton")->isEnabled());
        EXPECT_EQ(found<QPushButton>("openReportButton")->isEnabled(), !row.reportPath.isEmpty());
        // Nothing on screen: no thumbnail read.
        EXPECT_EQ(found<EventList>("eventList")->events().thumbnailsRead(), 0);
    }
}

TEST_F(PanelRun, AClickOnTheTimelineShowsTheNearestSnapshotAndItsEventToStepThrough) {
    EXPECT_FALSE(found<QPushButton>("openFolderButton")->isEnabled());
    EXPECT_FALSE(found<QPushButton>("openReportButton")->isEnabled());
    std::vector<QUrl> opened;
    panel.setUrlOpener([&opened](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    panel.resize(800, 300);
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    run(500, QString());

    auto* timeline = found<TimelineView>("timeline");
    auto* viewer = found<SnapshotViewer>("snapshotViewer");
    auto* list = found<EventList>("eventList");
    const struct {
        const char* name;
        long long ms;
        int row;
        const char* shown;
        std::size_t position;
    } clicks[] = {
        {"inside the second event", 1300, 1, "IMG00001240.jpg", 1},
        {"nearer the last than the second", 2500, 2, "IMG00003200.jpg", 0},
        {"before the first", 0, 0, "IMG00000200.jpg", 0},
    };
    QSignalSpy chosen(&panel, &ResultsPanel::momentChosen);
    for (const auto& click : clicks) {
        SCOPED_TRACE(click.name);
        QTest::mouseClick(timeline, Qt::LeftButton, {}, timeline->pointAt(click.ms));
        ASSERT_NE(viewer->current(), nullptr);
        EXPECT_EQ(viewer->current()->file, click.shown);
        EXPECT_EQ(viewer->position(), click.position);
        EXPECT_EQ(list->chosenRow(), click.row);
        ASSERT_FALSE(chosen.isEmpty());
        EXPECT_NEAR(chosen.takeLast().at(0).toLongLong(), click.ms, 20);
    }

    // The second event, from the list at its picture (the busiest but its last snapshot), then
    // stepped no further than its ends, with the arrow keys in the viewer and in the list.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(1, EventTableModel::Start)).center());
    EXPECT_EQ(viewer->current()->file, "IMG00001200.jpg");
    EXPECT_EQ(viewer->caption(),
              "IMG00001200.jpg  (1 of 2)\n00:00:01.200  \u00b7  136 changed pixels");
    const struct {
        QWidget* target;
        Qt::Key key;
        const char* shown;
    } steps[] = {
        {viewer, Qt::Key_Left, "IMG00001200.jpg"}, {viewer, Qt::Key_Left, "IMG00001200.jpg"},
        {list, Qt::Key_Right, "IMG00001240.jpg"},  {viewer, Qt::Key_Right, "IMG00001240.jpg"},
        {list, Qt::Key_Left, "IMG00001200.jpg"},
    };
    for (const auto& step : steps) {
        QTest::keyClick(step.target, step.key);
        EXPECT_EQ(viewer->current()->file, step.shown);
    }

    QTest::mouseDClick(found<QLabel>("snapshotPicture"), Qt::LeftButton);
    QPointer<QScrollArea> fullSize = viewer->findChild<QScrollArea*>();
    ASSERT_FALSE(fullSize.isNull());
    EXPECT_TRUE(fullSize->isWindow());
    EXPECT_EQ(qobject_cast<QLabel*>(fullSize->widget())->pixmap(Qt::ReturnByValue).size(),
              QSize(64, 48));
    fullSize->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(fullSize.isNull());

    // The thumbnails of rows in view are read from the run's folder.
    const EventTableModel& events = list->events();
    EXPECT_EQ(events.data(events.index(0, EventTableModel::Peak), Qt::DecorationRole)
                  .value<QPixmap>()
                  .size(),
              QSize(64, 48));
    EXPECT_GT(events.thumbnailsRead(), 0);

    EXPECT_FALSE(found<QPushButton>("openReportButton")->isEnabled());
    QTest::mouseClick(found<QPushButton>("openFolderButton"), Qt::LeftButton);
    EXPECT_EQ(opened, std::vector<QUrl>{QUrl::fromLocalFile(QString::fromStdString(dir))});
    panel.setUrlOpener([](const QUrl&) { return false; });
    QString said;
    QObject::connect(&panel, &ResultsPanel::openFailed,
                     [&said](const QString& text) { said = text; });
    QTest::mouseClick(found<QPushButton>("openFolderButton"), Qt::LeftButton);
    const QString text =
        "Could not open " + QString::fromStdString(dir) + ": the desktop has no program for it";
    EXPECT_EQ(found<QLabel>("runSummary")->text(), text);
    EXPECT_EQ(said, text);
}

// Before the run ends, the event still open has no row yet: a click in it shows its snapshots
// so far, and one in the last closed event shows that event up to where the open one begins.
TEST_F(PanelRun, DuringTheRunAClickShowsTheOpenEventOrTheClosedOneItFalls) {
    panel.resize(800, 300);
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    auto* timeline = found<TimelineView>("timeline");
    auto* viewer = found<SnapshotViewer>("snapshotViewer");
    const struct {
        const char* name;
        long long gapMs;
        long long ms;
        int row;
        const char* shown;
        std::size_t count;
        const char* during;
        const char* after;
    } rows[] = {
        {"all in the open event", 2000, 1300, -1, "IMG00001240.jpg", 5,
         "Reading moments.avi: 0 events, 5 snapshots so far",
         "moments.avi: 1 event, 5 snapshots, 85 frames"},
        {"in the closed event", 1000, 1300, 0, "IMG00001240.jpg", 4,
         "Reading moments.avi: 1 event, 5 snapshots so far",
         "moments.avi: 2 events, 5 snapshots, 85 frames"},
        {"in the open event after a closed one", 1000, 3300, -1, "IMG00003200.jpg", 1,
         "Reading moments.avi: 1 event, 5 snapshots so far",
         "moments.avi: 2 events, 5 snapshots, 85 frames"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        run(row.gapMs, QString(), [&] {
            QTest::mouseClick(timeline, Qt::LeftButton, {}, timeline->pointAt(row.ms));
            ASSERT_NE(viewer->current(), nullptr);
            EXPECT_EQ(viewer->current()->file, row.shown);
            EXPECT_EQ(viewer->count(), row.count);
            EXPECT_EQ(found<EventList>("eventList")->chosenRow(), row.row);
            EXPECT_EQ(found<QLabel>("runSummary")->text(), row.during);
        });
        EXPECT_EQ(found<QLabel>("runSummary")->text(), row.after);
    }
}

// The events of a video whose start is known are shown on the clock as well; those of one
// whose start nothing tells have no clock column.
TEST_F(PanelRun, TheClockColumnShowsWhereTheStartIsKnownOnly) {
    pelmora::StartOptions start;
    start.given = pelmora::parseIsoTime("2024-05-01T08:00:00");
    start.zone = pelmora::TimeZone::fixed(2 * 3600);
    run(1000, QString(), nullptr, start);
    const EventList* list = found<EventList>("eventList");
    ASSERT_EQ(list->count(), 2);
    EXPECT_FALSE(list->isColumnHidden(EventTableModel::Clock));
    EXPECT_EQ(cell(0, EventTableModel::Clock), "2024-05-01 08:00:00 +02:00");
    EXPECT_EQ(cell(1, EventTableModel::Clock), "2024-05-01 08:00:03 +02:00");

    pelmora::StartOptions none;
    none.from = pelmora::StartFrom::None;
    run(1000, QString(), nullptr, none);
    EXPECT_TRUE(list->isColumnHidden(EventTableModel::Clock));
    EXPECT_EQ(cell(0, EventTableModel::Clock), "");
}

}  // namespace
