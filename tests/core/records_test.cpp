#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "CsvWriter.h"
#include "EventGrouper.h"
#include "FileOutput.h"
#include "HtmlText.h"
#include "OverviewPage.h"
#include "ReportPage.h"
#include "RunFolder.h"
#include "TestSupport.h"
#include "TextFormat.h"
#include "Timeline.h"
#include "Version.h"

namespace {

using pelmora::MotionEvent;
using pelmora::Timeline;
using pelmora::TimelineBucket;

TEST(Records, FormatFieldsForCsvHtmlAndTime) {
    using Fields = std::vector<std::string>;
    EXPECT_EQ(pelmora::CsvWriter::record(Fields{"frame", "12", ""}), "frame,12,\r\n");
    EXPECT_EQ(pelmora::CsvWriter::record(Fields{"a,b", "say \"hi\"", "two\nlines", "cr\r"}),
              "\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\",\"cr\r\"\r\n");
    EXPECT_EQ(pelmora::escapeHtml("<b>&\"'x</b>"), "&lt;b&gt;&amp;&quot;&#39;x&lt;/b&gt;");
    EXPECT_EQ(pelmora::relativeLink("IMG00000040-2.jpg"), "IMG00000040-2.jpg");
    EXPECT_EQ(pelmora::relativeLink("a b#?:%\xC3\xA9.jpg"), "a%20b%23%3F%3A%25%C3%A9.jpg");
    const struct {
        long long ms;
        const char* text;
    } times[] = {{0, "00:00:00.000"},
                 {59999, "00:00:59.999"},
                 {3600000, "01:00:00.000"},
                 {3723004, "01:02:03.004"},
                 {360000000, "100:00:00.000"}};
    for (const auto& time : times) {
        EXPECT_EQ(pelmora::timecode(time.ms), time.text) << time.ms;
    }
}

TEST(Records, RoundAHalfTenthOfASecondUpAsTheWindowShowsIt) {
    const struct {
        const char* name;
        double seconds;
        const char* text;
    } rows[] = {
        {"zero", 0.0, "0.0 s"},
        {"an exact half below an even tenth", 0.25, "0.3 s"},
        {"an exact half above one second", 1.25, "1.3 s"},
        {"an exact half that printf rounds up too", 0.75, "0.8 s"},
        {"just under an exact half", 1.2499999999999998, "1.2 s"},
        {"0.15 is stored just under its half", 0.15, "0.1 s"},
        {"0.35 is stored just under its half", 0.35, "0.3 s"},
        {"an exact half of a long run", 123456789.25, "123456789.3 s"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(pelmora::secondsInTenths(row.seconds), row.text) << row.name;
    }
}

TEST(Records, CsvRowsReachTheFileOneByOne) {
    testsupport::TempDir tmp;
    pelmora::CsvWriter csv;
    ASSERT_EQ(csv.open(tmp.file("list.csv"), {"a", "b"}), "");
    // Read while the writer is still open: each row is in the file as soon as it is written.
    EXPECT_EQ(testsupport::fileBytes(tmp.file("list.csv")), "a,b\r\n");
    ASSERT_TRUE(csv.writeRow({"1", "x,y"}));
    EXPECT_EQ(testsupport::fileBytes(tmp.file("list.csv")), "a,b\r\n1,\"x,y\"\r\n");

    pelmora::CsvWriter missing;
    EXPECT_EQ(missing.open(tmp.file("no/list.csv"), {"a"}), "No such file or directory");
    EXPECT_FALSE(missing.writeRow({"1"}));
}

TEST(Records, ACsvFileThatFillsUpEndsWithItsLastCompleteRow) {
    // A header of 5 bytes and rows of 6: "a,b\r\n", "1,xy\r\n", "2,xy\r\n", ...
    const struct {
        const char* name;
        long long limit;
        int rowsTaken;  // -1: not even the header
        std::string kept;
    } rows[] = {
        {"in the header", 3, -1, ""},
        {"at the header's end", 5, 0, "a,b\r\n"},
        {"in the middle of the third row", 20, 2, "a,b\r\n1,xy\r\n2,xy\r\n"},
        {"at the end of the second row", 17, 2, "a,b\r\n1,xy\r\n2,xy\r\n"},
        {"one byte short of the last row", 28, 3, "a,b\r\n1,xy\r\n2,xy\r\n3,xy\r\n"},
        {"room for all", 29, 4, "a,b\r\n1,xy\r\n2,xy\r\n3,xy\r\n4,xy\r\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        testsupport::TempDir tmp;
        const std::string path = tmp.file("list.csv");
        // The rows taken, 100 and more when the reason is not the full disk's.
        const int taken = testsupport::withFileSizeLimit(row.limit, [&] {
            pelmora::CsvWriter csv;
            if (!csv.open(path, {"a", "b"}).empty()) {
                return csv.error() == "File too large" ? 0 : 100;
            }
            for (int i = 1; i <= 4; ++i) {
                if (!csv.writeRow({std::to_string(i), "xy"})) {
                    return csv.error() == "File too large" ? i : 100 + i;
                }
            }
            return 5;
        });
        EXPECT_EQ(taken, row.rowsTaken + 1);
        EXPECT_EQ(testsupport::fileBytes(path), row.kept);
    }
}

TEST(Records, AReplacementThatFillsTheDiskLeavesTheOldFileWhole) {
    const std::string bytes(3000, 'x');
    const struct {
        const char* file;
        long long limit;
    } rows[] = {{"IMG00000040.jpg", 2999}, {pelmora::kRunRecordName, 1000}, {"report.html", 3000}};
    for (const auto& row : rows) {
        testsupport::TempDir tmp;
        const std::string path = tmp.file(row.file);
        std::ofstream(path) << "the earlier file";
        const bool fits = row.limit >= 3000;
        // 0 when replaced, 1 when refused for the full disk, 2 for another reason.
        const int outcome = testsupport::withFileSizeLimit(row.limit, [&] {
            const std::string reason = pelmora::replaceFile(path, bytes.data(), bytes.size());
            return reason.empty() ? 0 : reason == "File too large" ? 1 : 2;
        });
        EXPECT_EQ(outcome, fits ? 0 : 1) << row.file;
        EXPECT_EQ(testsupport::fileBytes(path), fits ? bytes : "the earlier file") << row.file;
        EXPECT_EQ(testsupport::listDir(tmp.path()), std::vector<std::string>{row.file});
    }
}

struct Triggered {
    long long timeMs;
    int pixels;
    bool saved;
};

// Snapshots 40 ms apart, then 960 ms, 40 ms and 1960 ms later.
const std::vector<Triggered> kMoments = {
    {200, 36, true}, {240, 72, true}, {1200, 136, false}, {1240, 136, true}, {3200, 100, true}};

std::vector<MotionEvent> grouped(const std::vector<Triggered>& moments, long long gapMs) {
    pelmora::EventGrouper grouper(gapMs);
    std::vector<MotionEvent> events;
    long long frame = 0;
    for (const Triggered& moment : moments) {
        if (auto closed = grouper.add(
                {frame, moment.timeMs, moment.pixels, "f" + std::to_string(frame), moment.saved})) {
            events.push_back(*closed);
        }
        ++frame;
    }
    if (auto closed = grouper.finish()) {
        events.push_back(*closed);
    }
    return events;
}

// "start-end:snapshots:peak@file/picture@ms" per event, "*" for a snapshot that was not saved.
std::string summary(const std::vector<MotionEvent>& events) {
    std::string text;
    int number = 0;
    for (const MotionEvent& event : events) {
        EXPECT_EQ(event.number, ++number);
        text += (text.empty() ? "" : " ") + std::to_string(event.startMs) + "-" +
                std::to_string(event.endMs) + ":" + std::to_string(event.snapshots) + ":" +
                std::to_string(event.peakPixels) + "@" + event.peakFile +
                (event.peakSaved ? "" : "*") + "/" + event.pictureFile + "@" +
                std::to_string(event.pictureMs) + (event.pictureSaved ? "" : "*");
    }
    return text;
}

TEST(Records, EventsJoinSnapshotsNoFurtherApartThanTheGap) {
    const struct {
        const char* name;
        long long gapMs;
        std::string events;
    } rows[] = {
        // The picture is the busiest snapshot but the last, which may show the scene left.
        {"the default joins all", 2000, "200-3200:5:136@f2*/f2@1200*"},
        {"a gap equal to the distance joins", 1960, "200-3200:5:136@f2*/f2@1200*"},
        {"a millisecond less splits", 1959,
         "200-1240:4:136@f2*/f2@1200* 3200-3200:1:100@f4/f4@3200"},
        {"one second", 1000, "200-1240:4:136@f2*/f2@1200* 3200-3200:1:100@f4/f4@3200"},
        {"half a second", 500,
         "200-240:2:72@f1/f0@200 1200-1240:2:136@f2*/f2@1200* 3200-3200:1:100@f4/f4@3200"},
        {"zero keeps each apart", 0,
         "200-200:1:36@f0/f0@200 240-240:1:72@f1/f1@240 1200-1200:1:136@f2*/f2@1200* "
         "1240-1240:1:136@f3/f3@1240 3200-3200:1:100@f4/f4@3200"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(summary(grouped(kMoments, row.gapMs)), row.events) << row.name;
    }
    EXPECT_EQ(summary(grouped({}, 2000)), "");
}

// With objects, an event is pictured by the snapshot of its largest object, and says the box
// round all of them and the most seen at once.
TEST(Records, AnEventOfObjectsIsPicturedByItsLargestAndBoxedWhole) {
    pelmora::EventGrouper grouper(2000);
    const std::vector<std::vector<cv::Rect>> seen = {
        {{10, 10, 5, 5}}, {{20, 10, 10, 20}, {60, 40, 4, 4}}, {{30, 12, 6, 6}}};
    for (std::size_t i = 0; i < seen.size(); ++i) {
        pelmora::SnapshotOutcome snapshot;
        snapshot.frame = static_cast<long long>(i);
        snapshot.timeMs = 200 + 40 * static_cast<long long>(i);
        snapshot.changedPixels = 100 - static_cast<int>(i);
        snapshot.file = "f" + std::to_string(i);
        snapshot.saved = true;
        snapshot.boxes = seen[i];
        ASSERT_FALSE(grouper.add(snapshot));
    }
    const std::optional<MotionEvent> event = grouper.finish();
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(event->pictureFile, "f1");
    EXPECT_EQ(event->pictureMs, 240);
    EXPECT_EQ(event->box, cv::Rect(10, 10, 54, 34));
    EXPECT_EQ(event->mostObjects, 2);
    EXPECT_EQ(event->pictureBoxes.size(), 2u);
}

TEST(Records, TimelineKeepsAtMostItsBucketsAndEveryExtreme) {
    // 10 minutes at 25 frames per second among them, and far more than a day.
    for (const long long frames : {3LL, 2000LL, 2001LL, 4001LL, 15000LL, 3000000LL}) {
        SCOPED_TRACE(frames);
        Timeline timeline;
        const long long spike = frames * 2 / 3;
        const long long dip = frames / 3;
        for (long long frame = 0; frame < frames; ++frame) {
            timeline.add(frame * 40, frame == spike ? 90000 : frame == dip ? 0 : 20);
        }
        const std::vector<TimelineBucket>& buckets = timeline.buckets();
        ASSERT_LE(buckets.size(), Timeline::kMaxBuckets);
        // A frame a bucket while they last; then more than half of them in use.
        EXPECT_GT(buckets.size(), frames <= 2000 ? frames - 1 : 1000);
        long long counted = 0;
        for (std::size_t i = 0; i < buckets.size(); ++i) {
            const TimelineBucket& bucket = buckets[i];
            EXPECT_EQ(bucket.startMs, counted * 40);
            EXPECT_EQ(bucket.endMs, (counted + bucket.frames - 1) * 40);
            if (i + 1 < buckets.size()) {
                EXPECT_EQ(bucket.frames, timeline.framesPerBucket());
            }
            const bool hasSpike = counted <= spike && spike < counted + bucket.frames;
            const bool hasDip = counted <= dip && dip < counted + bucket.frames;
            const bool alone = bucket.frames == 1;
            EXPECT_EQ(bucket.most, hasSpike ? 90000 : hasDip && alone ? 0 : 20) << i;
            EXPECT_EQ(bucket.least, hasDip ? 0 : hasSpike && alone ? 90000 : 20) << i;
            counted += bucket.frames;
        }
        EXPECT_EQ(counted, frames);
    }
}

std::size_t occurrences(const std::string& page, const std::string& text) {
    std::size_t count = 0;
    for (auto at = page.find(text); at != std::string::npos; at = page.find(text, at + 1)) {
        ++count;
    }
    return count;
}

TEST(Records, TheReportEmbedsThumbnailsOfTheFirstEventsAndSaysWhereItStops) {
    testsupport::TempDir tmp;
    ASSERT_TRUE(
        cv::imwrite(tmp.file("IMG00000040.jpg"), cv::Mat(480, 640, CV_8UC3, cv::Scalar(9))));
    pelmora::ReportContent content;
    content.facts.frameSize = cv::Size(640, 480);
    content.madeAt = "2026-12-08 01:30 UTC";
    for (int number = 1; number <= 203; ++number) {
        MotionEvent event;
        event.number = number;
        // The second was not saved; the third's file has gone since.
        event.pictureFile = number == 3 ? "IMG00000080.jpg" : "IMG00000040.jpg";
        event.pictureSaved = number != 2;
        content.events.push_back(event);
    }
    content.thumbnails = pelmora::embeddedThumbnails(content.events, tmp.path());
    ASSERT_EQ(content.thumbnails.size(), pelmora::kEmbeddedThumbnails);
    EXPECT_EQ(content.thumbnails[1] + content.thumbnails[2], "");
    EXPECT_EQ(content.thumbnails[0].rfind("data:image/jpeg;base64,/9j/", 0), 0u);

    const std::string page = pelmora::reportPage(content);
    EXPECT_EQ(occurrences(page, "<img src=\"data:image/jpeg;base64,"), 198u);
    EXPECT_EQ(occurrences(page, "<img "), 198u);
    EXPECT_EQ(occurrences(page, "<a class=\"file\" href=\"IMG000000"), 202u) << "all but unsaved";
    for (const std::string& text :
         {std::string("The first 200 events show their picture"),
          std::string("<a href=\"snapshots.csv\">"), std::string("<a href=\"events.csv\">"),
          std::string("Made by Pelmora ") + pelmora::kVersion + " on 2026-12-08 01:30 UTC"}) {
        EXPECT_NE(page.find(text), std::string::npos) << text;
    }
}

// On the night the clocks go back, 02:00 to 03:00 is shown twice: the hours' headings give
// their offsets there, and only there.
TEST(Records, TheOverviewsHoursSayTheirOffsetsWhereTheClocksChange) {
    std::string error;
    const std::optional<pelmora::TimeZone> berlin =
        pelmora::TimeZone::named("Europe/Berlin", error);
    ASSERT_TRUE(berlin.has_value()) << error;
    pelmora::OverviewContent content;
    content.zone = *berlin;
    pelmora::OverviewVideo video;
    video.video = "cam1/night.mp4";
    video.camera = "cam1";
    video.start.source = pelmora::StartSource::Name;
    video.start.utcMs = pelmora::civilAsUtcMs({2024, 10, 26, 23, 30});  // 01:30 CEST
    video.start.zone = *berlin;
    video.spanMs = 3 * 3600 * 1000LL;
    content.videos.push_back(video);
    const std::string page = pelmora::overviewPage(content);
    for (const char* heading : {"<h3 class=\"hour\">2024-10-27 01:00 to 02:00</h3>",
                                "<h3 class=\"hour\">2024-10-27 02:00 +02:00 to 02:00 +01:00</h3>",
                                "<h3 class=\"hour\">2024-10-27 02:00 +01:00 to 03:00 +01:00</h3>",
                                "<h3 class=\"hour\">2024-10-27 03:00 to 04:00</h3>"}) {
        EXPECT_NE(page.find(heading), std::string::npos) << heading;
    }
}

}  // namespace
