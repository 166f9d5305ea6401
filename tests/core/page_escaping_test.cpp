#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "HtmlText.h"
#include "OverviewPage.h"
#include "ReportPage.h"
#include "SweepPage.h"

// Every text of a page that a user gave, by naming a file or a folder or by what the run met,
// holds markup, quotes and an ampersand: each shows as text and none as markup.

namespace {

// What a hostile name holds, then the field's own word, so that each field can be found again.
const std::string kHostile = "<script>alert(1)</script>\"'&";

std::string hostile(const std::string& field) {
    return kHostile + field;
}

std::size_t occurrences(const std::string& page, const std::string& text) {
    std::size_t count = 0;
    for (auto at = page.find(text); at != std::string::npos; at = page.find(text, at + 1)) {
        ++count;
    }
    return count;
}

// A path whose folder and file name are both hostile: the file name is what follows the
// hostile text's own slash.
std::string hostilePath(const std::string& folder, const std::string& file,
                        const std::string& extension) {
    return "/videos/" + hostile(folder) + "/" + hostile(file) + extension;
}

std::string reportOfHostileNames() {
    pelmora::ReportContent content;
    content.facts.videoPath = hostilePath("folder", "video", ".avi");
    content.facts.frameSize = cv::Size(64, 48);
    content.facts.wholeFrame = false;
    content.facts.watchedRegion = "/masks/" + hostile("mask") + ".png";
    content.report.status = pelmora::RunReport::Status::Failed;
    content.report.failure = hostile("failure");
    content.madeAt = hostile("made");
    content.clipsWanted = true;
    for (int number = 1; number <= 2; ++number) {
        pelmora::MotionEvent event;
        event.number = number;
        event.pictureFile = hostile(number == 1 ? "picture" : "unsaved") + ".jpg";
        event.pictureSaved = number == 1;
        content.events.push_back(event);
        pelmora::ClipOutcome clip;
        clip.events = {number};
        clip.file = hostile(number == 1 ? "clip" : "lostclip") + ".avi";
        clip.saved = number == 1;
        content.clips.push_back(clip);
    }
    // The page embeds what it is given as a picture's address, escaped as any other text.
    content.thumbnails = {hostile("thumbnail")};
    return pelmora::reportPage(content);
}

std::string overviewOfHostileNames() {
    pelmora::OverviewContent content;
    content.zone = pelmora::TimeZone::fixed(2 * 3600);
    content.madeAt = hostile("made");
    content.digest = true;
    pelmora::OverviewVideo video;
    video.video = hostilePath("folder", "video", ".avi");
    video.camera = hostile("camera");
    video.folder = hostile("snapshots");
    video.start.source = pelmora::StartSource::Name;
    video.start.utcMs = pelmora::civilAsUtcMs({2024, 5, 1, 6, 0});
    video.spanMs = 60 * 1000;
    video.report = true;
    pelmora::OverviewEvent event;
    event.number = 1;
    event.startMs = 1000;
    event.endMs = 2000;
    event.pictureFile = hostile("picture") + ".jpg";
    event.clip = hostile("clip") + ".avi";
    video.events.push_back(event);
    content.videos.push_back(video);
    // A second piece of the camera, after a gap, and one video of another whose start is not
    // known.
    video.start.utcMs += 3600 * 1000;
    content.videos.push_back(video);
    pelmora::OverviewVideo undated = video;
    undated.video = hostilePath("undatedfolder", "undated", ".avi");
    undated.camera = hostile("undatedcamera");
    undated.start = pelmora::VideoStart();
    content.videos.push_back(undated);
    content.thumbnail = [](const pelmora::OverviewVideo&, const pelmora::OverviewEvent&) {
        return hostile("thumbnail");
    };
    return pelmora::overviewPage(content);
}

std::string sweepOfHostileNames() {
    pelmora::SweepPageContent content;
    content.facts.videoPath = hostilePath("folder", "video", ".avi");
    content.facts.wholeFrame = false;
    content.facts.watchedRegion = "/masks/" + hostile("mask") + ".png";
    content.report.status = pelmora::RunReport::Status::Failed;
    content.report.failure = hostile("failure");
    content.madeAt = hostile("made");
    return pelmora::sweepPage(content);
}

struct PageCase {
    const char* page;
    std::function<std::string()> make;
    // The fields the page shows as text, and those it links to alone.
    std::vector<std::string> shown;
    std::vector<std::string> linked;
};

void PrintTo(const PageCase& row, std::ostream* out) {
    *out << row.page;
}

class HostileNames : public ::testing::TestWithParam<PageCase> {};

TEST_P(HostileNames, ShowAsTextAndNeverAsMarkup) {
    const PageCase& row = GetParam();
    const std::string page = row.make();
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("\"'&"), std::string::npos) << "quotes left as they were";
    // Every alert(1) stands in the escaped text, where no tag opens.
    EXPECT_EQ(occurrences(page, "alert(1)"),
              occurrences(page, "&lt;script&gt;alert(1)&lt;/script&gt;&quot;&#39;&amp;"));
    for (const std::string& field : row.shown) {
        EXPECT_NE(page.find("&quot;&#39;&amp;" + field), std::string::npos) << field;
    }
    for (const std::string& field : row.linked) {
        EXPECT_NE(page.find(pelmora::relativeLink("\"'&" + field)), std::string::npos) << field;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pages, HostileNames,
    ::testing::Values(
        PageCase{"report",
                 reportOfHostileNames,
                 {"folder", "video", "mask", "failure", "made", "picture", "unsaved", "clip",
                  "lostclip", "thumbnail"},
                 {"picture", "clip"}},
        PageCase{"overview",
                 overviewOfHostileNames,
                 {"folder", "video", "camera", "made", "picture", "thumbnail", "undatedfolder",
                  "undated", "undatedcamera"},
                 {"snapshots", "picture", "clip"}},
        PageCase{"sweep", sweepOfHostileNames, {"folder", "video", "mask", "failure", "made"}, {}}),
    [](const ::testing::TestParamInfo<PageCase>& info) { return std::string(info.param.page); });

}  // namespace
