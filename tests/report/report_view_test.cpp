// The report of a real run as a browser engine shows it: QtWebKit loads report.html from the
// snapshot folder on the offscreen platform, and the page is read back through JavaScript.

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QWebFrame>
#include <QWebPage>
#include <cstdlib>
#include <filesystem>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "DetectionRun.h"
#include "FrameDetector.h"
#include "LibraryDiagnostics.h"
#include "ProgramPaths.h"
#include "RunRecorder.h"
#include "TestSupport.h"
#include "Version.h"

namespace {

// How far the widest part of a page reaches past its column (a table), or the column past the
// window; 0 where everything fits.
#define PELMORA_OVERFLOW                                                     \
    "function overflow() {"                                                  \
    "  var most = document.documentElement.scrollWidth - window.innerWidth;" \
    "  var wide = document.querySelectorAll('.wide');"                       \
    "  for (var i = 0; i < wide.length; ++i) {"                              \
    "    most = Math.max(most, wide[i].scrollWidth - wide[i].clientWidth);"  \
    "  }"                                                                    \
    "  return Math.max(most, 0);"                                            \
    "}"

// Everything the test asks of the page, measured in the page itself.
const char* const kMeasure = PELMORA_OVERFLOW R"(
(function () {
  var svg = document.querySelector('svg.timeline');
  var most = svg.querySelector('polyline.most');
  var trigger = svg.querySelector('line.trigger');
  var triggerY = trigger.y1.baseVal.value;
  var bands = [];
  var rects = svg.querySelectorAll('rect.event');
  for (var i = 0; i < rects.length; ++i) {
    var x = rects[i].x.baseVal.value;
    bands.push([x, x + rects[i].width.baseVal.value]);
  }
  var above = 0, aboveInBand = 0;
  for (var i = 0; i < most.points.numberOfItems; ++i) {
    var point = most.points.getItem(i);
    if (point.y < triggerY) {
      ++above;
      aboveInBand += bands.some(function (b) { return b[0] <= point.x && point.x <= b[1]; });
    }
  }
  var images = document.querySelectorAll('table.events img');
  var loaded = [], links = [], embedded = 0;
  for (var i = 0; i < images.length; ++i) {
    loaded.push(images[i].complete ? images[i].naturalWidth : 0);
    links.push(images[i].parentNode.getAttribute('href'));
    embedded += images[i].getAttribute('src').indexOf('data:image/jpeg;base64,') === 0;
  }
  var lists = [];
  var listLinks = document.querySelectorAll('.lists a');
  for (var i = 0; i < listLinks.length; ++i) {
    lists.push(listLinks[i].getAttribute('href'));
  }
  return JSON.stringify({
    overflow: overflow(),
    rangePoints: svg.querySelector('polygon.range').points.numberOfItems,
    mostPoints: most.points.numberOfItems,
    triggerLines: svg.querySelectorAll('line.trigger').length,
    triggerAcross: trigger.x2.baseVal.value - trigger.x1.baseVal.value,
    above: above, aboveInBand: aboveInBand, bands: rects.length,
    rows: document.querySelectorAll('table.events tbody tr').length,
    naturalWidths: loaded, links: links, embedded: embedded, lists: lists,
    made: document.querySelector('.made').textContent,
    video: document.querySelector('.video').textContent, title: document.title,
    injected: document.querySelectorAll('b, i').length,
    fetched: document.querySelectorAll('script, link, iframe, object').length
  });
})()
)";

TEST(ReportView, ABrowserShowsThePlotTheEventsAndEveryThumbnail) {
    testsupport::TempDir tmp;
    // Markup and quotes in the folder and file names: they must show as text.
    const std::string folder = tmp.file("cam <i>2 & \"yard\"");
    std::filesystem::create_directories(folder);
    const std::string video = folder + "/gate <b>east & 'west'.avi";
    ASSERT_TRUE(testsupport::writeVideo(video, testsupport::knownMoments(), 25.0));

    testsupport::TestHost host;
    pelmora::RunRecorder recorder({true, true, 1000}, host);
    pelmora::RunRequest request{video, folder + "/shots", 20};
    // A clock column too, the table's widest.
    request.start.given = pelmora::parseIsoTime("2024-05-01T08:00:00+02:00");
    request.observer = &recorder;
    pelmora::FrameDetector detector;
    const pelmora::RunReport report = pelmora::runDetection(detector, request, host);
    ASSERT_EQ(report.snapshotsWritten, 5) << host.text();
    ASSERT_FALSE(recorder.failed()) << host.text();

    // The page beside its snapshots, and the page alone, as it is sent: its thumbnails come
    // with it.
    const std::string alone = tmp.file("alone");
    std::filesystem::create_directories(alone);
    std::filesystem::copy_file(folder + "/shots/report.html", alone + "/report.html");
    const struct {
        const char* name;
        std::string page;
    } rows[] = {{"besideItsSnapshots", folder + "/shots/report.html"},
                {"aloneInAnEmptyFolder", alone + "/report.html"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QWebPage page;
        // A laptop's screen: every table fits the page's column.
        page.setViewportSize(QSize(1366, 768));
        QEventLoop loop;
        bool loaded = false;
        QObject::connect(&page, &QWebPage::loadFinished, [&](bool ok) {
            loaded = ok;
            loop.quit();
        });
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        page.mainFrame()->load(QUrl::fromLocalFile(QString::fromStdString(row.page)));
        loop.exec();
        ASSERT_TRUE(loaded) << "report.html did not load";

        const QJsonObject page_ =
            QJsonDocument::fromJson(
                page.mainFrame()->evaluateJavaScript(kMeasure).toString().toUtf8())
                .object();
        ASSERT_FALSE(page_.isEmpty()) << "the measuring script failed";
        EXPECT_EQ(page_["overflow"].toInt(), 0);
        // One bucket for each of the 85 frames: the polygon goes along the most and back along
        // the least.
        EXPECT_EQ(page_["mostPoints"].toInt(), 85);
        EXPECT_EQ(page_["rangePoints"].toInt(), 170);
        EXPECT_EQ(page_["triggerLines"].toInt(), 1);
        EXPECT_GT(page_["triggerAcross"].toDouble(), 900.0);
        // Exactly the five snapshots rise above the trigger level, each inside an event's band.
        EXPECT_EQ(page_["above"].toInt(), 5);
        EXPECT_EQ(page_["aboveInBand"].toInt(), 5);
        // Snapshots up to 1.24 s, then one at 3.2 s: two events a second apart or more.
        EXPECT_EQ(page_["bands"].toInt(), 2);
        EXPECT_EQ(page_["rows"].toInt(), 2);
        // Decoded from the page itself: the frames are narrower than a thumbnail, so whole.
        EXPECT_EQ(page_["naturalWidths"].toArray(), QJsonArray({64, 64}));
        EXPECT_EQ(page_["embedded"].toInt(), 2);
        EXPECT_EQ(page_["links"].toArray(), QJsonArray({"IMG00001200.jpg", "IMG00003200.jpg"}));
        EXPECT_EQ(page_["lists"].toArray(), QJsonArray({"snapshots.csv", "events.csv"}));
        EXPECT_TRUE(page_["made"].toString().contains(QRegularExpression(
            QStringLiteral("^Made by Pelmora %1 on \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d ")
                .arg(QString::fromLatin1(pelmora::kVersion)))))
            << page_["made"].toString().toStdString();
        EXPECT_EQ(page_["video"].toString().toStdString(), video);
        EXPECT_EQ(page_["title"].toString(), "Motion in gate <b>east & 'west'.avi");
        EXPECT_EQ(page_["injected"].toInt(), 0);
        EXPECT_EQ(page_["fetched"].toInt(), 0);
    }
}

// What the overview test asks of the page.
const char* const kMeasureOverview = PELMORA_OVERFLOW R"(
(function () {
  var images = document.querySelectorAll('table.events img');
  var widths = [], embedded = 0;
  for (var i = 0; i < images.length; ++i) {
    widths.push(images[i].complete ? images[i].naturalWidth : 0);
    embedded += images[i].getAttribute('src').indexOf('data:image/jpeg;base64,') === 0;
  }
  var marks = document.querySelectorAll('svg.lanes a rect.mark');
  var targets = [];
  for (var i = 0; i < marks.length; ++i) {
    targets.push(marks[i].parentNode.getAttribute('xlink:href'));
  }
  var lanes = document.querySelectorAll('svg.lanes')[0].querySelectorAll('rect.footage');
  var cameras = {};
  for (var i = 0; i < lanes.length; ++i) {
    cameras[lanes[i].getAttribute('data-camera')] = lanes[i].y.baseVal.value;
  }
  return JSON.stringify({
    overflow: overflow(),
    rows: document.querySelectorAll('table.events tbody tr').length,
    widths: widths, embedded: embedded, targets: targets, cameras: cameras,
    charts: document.querySelectorAll('svg.lanes').length,
    fetched: document.querySelectorAll('script, link, iframe, object').length
  });
})()
)";

// overview.html of a real batch of two cameras, as a browser shows it from a copy alone in an
// empty folder, away from every snapshot: its pictures come with it, and each mark on the
// lanes links to its event in a report.
TEST(OverviewView, ABrowserShowsTheLanesTheMarksAndEveryThumbnailOffline) {
    testsupport::TempDir tmp;
    for (const char* name : {"/in/yard/20240501_080000.avi", "/in/gate/20240501_083000.avi"}) {
        std::filesystem::create_directories(std::filesystem::path(tmp.path() + name).parent_path());
        ASSERT_TRUE(testsupport::writeVideo(tmp.path() + name, testsupport::knownMoments(), 25.0));
    }
    const std::string command = std::string("'") + testsupport::kScanProgram +
                                "' -q --overview --event-gap 1 -o '" + tmp.file("out") +
                                "' --time-zone UTC '" + tmp.file("in/yard") + "' '" +
                                tmp.file("in/gate") + "' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::string alone = tmp.file("alone");
    std::filesystem::create_directories(alone);
    std::filesystem::copy_file(tmp.file("out/overview.html"), alone + "/overview.html");

    QWebPage page;
    page.setViewportSize(QSize(1366, 768));
    QEventLoop loop;
    bool loaded = false;
    QObject::connect(&page, &QWebPage::loadFinished, [&](bool ok) {
        loaded = ok;
        loop.quit();
    });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    page.mainFrame()->load(QUrl::fromLocalFile(QString::fromStdString(alone + "/overview.html")));
    loop.exec();
    ASSERT_TRUE(loaded) << "overview.html did not load";
    const QJsonObject measured =
        QJsonDocument::fromJson(
            page.mainFrame()->evaluateJavaScript(kMeasureOverview).toString().toUtf8())
            .object();
    ASSERT_FALSE(measured.isEmpty()) << "the measuring script failed";
    EXPECT_EQ(measured["overflow"].toInt(), 0);
    // Two events a video, four in all, each thumbnail decoded from the page itself.
    EXPECT_EQ(measured["rows"].toInt(), 4);
    EXPECT_EQ(measured["widths"].toArray(), QJsonArray({64, 64, 64, 64}));
    EXPECT_EQ(measured["embedded"].toInt(), 4);
    EXPECT_EQ(measured["fetched"].toInt(), 0);
    // The whole morning's chart and one for each hour, and a lane each, in the cameras' order.
    EXPECT_EQ(measured["charts"].toInt(), 2);
    const QJsonObject cameras = measured["cameras"].toObject();
    ASSERT_EQ(cameras.keys(), QStringList({"gate", "yard"}));
    EXPECT_LT(cameras["gate"].toDouble(), cameras["yard"].toDouble());
    // Every mark of the whole chart and the hour's, in time order, links to its event.
    const QJsonArray targets = measured["targets"].toArray();
    ASSERT_EQ(targets.size(), 8);
    EXPECT_EQ(targets[0].toString(), "yard/20240501_080000/report.html#event-1");
    EXPECT_EQ(targets[3].toString(), "gate/20240501_083000/report.html#event-2");
}

// A page that counts the alerts its scripts would show, rather than showing them.
class AlertCounter : public QWebPage {
public:
    int alerts = 0;

protected:
    void javaScriptAlert(QWebFrame*, const QString&) override { ++alerts; }
};

// What the test of hostile names asks of a page: the elements and attributes that only markup
// of a name could have made, and the page's text.
const char* const kMeasureMarkup = R"(
(function () {
  var handlers = 0, outside = 0;
  var all = document.querySelectorAll('*');
  for (var i = 0; i < all.length; ++i) {
    for (var j = 0; j < all[i].attributes.length; ++j) {
      handlers += all[i].attributes[j].name.indexOf('on') === 0;
    }
  }
  var images = document.querySelectorAll('img');
  for (var i = 0; i < images.length; ++i) {
    outside += images[i].getAttribute('src').indexOf('data:image/jpeg;base64,') !== 0;
  }
  return JSON.stringify({
    injected: document.querySelectorAll('script, b, i, iframe, object, link').length,
    handlers: handlers, outside: outside, title: document.title,
    text: document.body.textContent
  });
})()
)";

// Markup, quotes and an ampersand in the names of a camera's folder, a video and a mask, through
// a real batch and a sweep: in a browser, each of the three pages shows them as text, and no
// element, handler or script of them is there.
TEST(PagesView, ABrowserShowsHostileNamesAsText) {
    testsupport::TempDir tmp;
    const std::string camera = "yard <script>alert(1)<\\script> \"'&";
    const std::string folder = tmp.file("in/" + camera);
    std::filesystem::create_directories(folder);
    const std::string dated = folder + "/20240501_080000.avi";
    const std::string undated = folder + "/gate <img src=x onerror=alert(2)> \"'&.avi";
    for (const std::string& video : {dated, undated}) {
        ASSERT_TRUE(testsupport::writeVideo(video, testsupport::knownMoments(), 25.0));
    }
    const std::string mask = tmp.file("in/mask <b>\"'&.png");
    ASSERT_TRUE(cv::imwrite(mask, cv::Mat(48, 64, CV_8UC1, cv::Scalar(255))));
    // Each path in single quotes for the shell, its own single quotes closed round.
    const auto quoted = [](const std::string& text) {
        std::string shell = "'";
        for (const char c : text) {
            shell += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        return shell + "'";
    };
    const std::string scan =
        quoted(testsupport::kScanProgram) + " -q --time-zone UTC --mask " + quoted(mask) + " -o ";
    for (const std::string& command :
         {scan + quoted(tmp.file("out")) + " --overview --clips " + quoted(dated) + " " +
              quoted(undated),
          scan + quoted(tmp.file("sweep")) + " --sweep 10:12 --report " + quoted(undated)}) {
        ASSERT_EQ(std::system((command + " >/dev/null").c_str()), 0) << command;
    }
    const std::string gate = "gate <img src=x onerror=alert(2)> \"'&.avi";
    const struct {
        const char* name;
        std::string page;
        std::string title;
        std::vector<std::string> shown;
    } rows[] = {{"report",
                 tmp.file("out/gate <img src=x onerror=alert(2)> \"'&/report.html"),
                 "Motion in " + gate,
                 {undated, "mask <b>\"'&.png"}},
                {"overview", tmp.file("out/overview.html"), "Motion on 1 camera", {camera, gate}},
                {"sweep",
                 tmp.file("sweep/sweep.html"),
                 "Every threshold of " + gate,
                 {undated, "mask <b>\"'&.png"}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        AlertCounter page;
        QEventLoop loop;
        bool loaded = false;
        QObject::connect(&page, &QWebPage::loadFinished, [&](bool ok) {
            loaded = ok;
            loop.quit();
        });
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        page.mainFrame()->load(QUrl::fromLocalFile(QString::fromStdString(row.page)));
        loop.exec();
        ASSERT_TRUE(loaded) << row.page << " did not load";
        const QJsonObject measured =
            QJsonDocument::fromJson(
                page.mainFrame()->evaluateJavaScript(kMeasureMarkup).toString().toUtf8())
                .object();
        ASSERT_FALSE(measured.isEmpty()) << "the measuring script failed";
        EXPECT_EQ(page.alerts, 0);
        EXPECT_EQ(measured["injected"].toInt(), 0);
        EXPECT_EQ(measured["handlers"].toInt(), 0);
        EXPECT_EQ(measured["outside"].toInt(), 0);
        EXPECT_EQ(measured["title"].toString().toStdString(), row.title);
        const std::string text = measured["text"].toString().toStdString();
        for (const std::string& name : row.shown) {
            EXPECT_NE(text.find(name), std::string::npos) << name;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    // A runtime folder of the test's own, gone when it ends: without a login session Qt would
    // warn and leave its fallback folder in /tmp.
    testsupport::TempDir runtimeDir;
    ::setenv("XDG_RUNTIME_DIR", runtimeDir.path().c_str(), 1);
    QApplication app(argc, argv);
    pelmora::setLibraryDiagnostics(false);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
