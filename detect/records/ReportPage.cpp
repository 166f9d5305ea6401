#include "ReportPage.h"

#include <algorithm>
#include <cmath>

#include "FolderNames.h"
#include "FrameClock.h"
#include "HtmlText.h"
#include "PageSkeleton.h"
#include "PageTemplates.h"
#include "TextFormat.h"
#include "TimelineChart.h"
#include "WatchedRegion.h"

namespace pelmora {

namespace {

std::string rateText(const RunFacts& facts) {
    if (!usableFrameRate(facts.fps)) {
        return "not given";
    }
    std::string rate = formatText("%.3f", facts.fps);
    rate.erase(rate.find_last_not_of('0') + 1);
    if (rate.back() == '.') {
        rate.pop_back();
    }
    return rate + " frames/s";
}

// The video, how the run looked at it, and what it found: a row each.
PageList factGroups(const ReportContent& content) {
    const RunFacts& facts = content.facts;
    const RunReport& report = content.report;
    PageList video = {
        pageFact("Frame size",
                 facts.frameSize.area() > 0
                     ? formatText("%d \u00d7 %d", facts.frameSize.width, facts.frameSize.height)
                     : std::string("not given")),
        pageFact("Frame rate", rateText(facts)), pageFact("Duration", timecode(content.durationMs)),
        pageFact("Frames read", framesText(report))};
    PageList run = {pageFact("Threshold", std::to_string(facts.threshold)),
                    pageFact("Trigger", "more than " + groupedNumber(facts.minPixels) + " pixels"),
                    pageFact("Watched region", regionText(facts.watchedRegion, facts.regions)),
                    pageFact("Event gap", plainSeconds(content.eventGapMs))};
    if (facts.start.known()) {
        run.push_back(pageFact("First frame",
                               readableClockTime(facts.start.utcMs, facts.start.zone), false,
                               startSourceText(facts.start.source)));
    }
    PageList found = {
        pageFact("Snapshots written", groupedNumber(report.snapshotsWritten)),
        pageFact("Snapshots lost", groupedNumber(report.snapshotsLost), report.snapshotsLost > 0),
        pageFact("Events", groupedNumber(static_cast<long long>(content.events.size())))};
    return {factGroup(video), factGroup(run), factGroup(found)};
}

// The clip that shows the event, linked where it was saved; false for none. A clip that
// several events share is linked from each.
PageData clipOf(const ReportContent& content, int event) {
    for (const ClipOutcome& clip : content.clips) {
        if (std::find(clip.events.begin(), clip.events.end(), event) != clip.events.end()) {
            PageData cell;
            cell["file"] = clip.file;
            cell["href"] = relativeLink(clip.file);
            cell["saved"] = clip.saved;
            return cell;
        }
    }
    return PageData(false);
}

PageList eventRows(const ReportContent& content) {
    const VideoStart& start = content.facts.start;
    PageList rows;
    for (std::size_t i = 0; i < content.events.size(); ++i) {
        const MotionEvent& event = content.events[i];
        const bool thumbnail = i < content.thumbnails.size() && !content.thumbnails[i].empty();
        PageData row;
        row["number"] = std::to_string(event.number);
        row["start"] = timecode(event.startMs);
        row["clock"] = start.known()
                           ? PageData(readableClockTime(start.utcAt(event.startMs), start.zone))
                           : PageData(false);
        row["end"] = timecode(event.endMs);
        row["snapshots"] = groupedNumber(event.snapshots);
        row["peakPixels"] = groupedNumber(event.peakPixels);
        row["picture"] = event.pictureFile;
        row["link"] = relativeLink(event.pictureFile);
        row["thumbnail"] = thumbnail ? PageData(content.thumbnails[i]) : PageData(false);
        row["linked"] = thumbnail || event.pictureSaved;
        row["clip"] = content.clipsWanted ? clipOf(content, event.number) : PageData(false);
        rows.push_back(std::move(row));
    }
    return rows;
}

// The thumbnails' size in the page, before they load: as wide as they are made at most, as
// high as the frame's shape makes them.
PageData thumbnailSize(const cv::Size& size) {
    if (size.area() <= 0) {
        return PageData(false);
    }
    const int width = std::min(kThumbnailWidth, size.width);
    PageData shape;
    shape["width"] = std::to_string(width);
    shape["height"] = std::to_string(
        static_cast<int>(std::lround(static_cast<double>(width) * size.height / size.width)));
    return shape;
}

}  // namespace

std::string reportPage(const ReportContent& content) {
    const std::string name = fileNameOf(content.facts.videoPath);
    PageData page;
    page["name"] = name;
    page["path"] = content.facts.videoPath;
    addBanner(page, content.report, "run", "what it had read by then");
    page["factGroups"] = PageData(factGroups(content));
    page["chart"] = timelineChart(content.buckets, content.events, content.facts.minPixels,
                                  content.scalePixels);
    page["eventGap"] = plainSeconds(content.eventGapMs);
    page["snapshotList"] = std::string(kSnapshotListName);
    page["eventList"] = std::string(kEventListName);
    page["digest"] = content.digestSaved ? PageData(std::string(kDigestName)) : PageData(false);
    PageList exports;
    for (std::size_t i = 0; i < content.exports.size(); ++i) {
        PageData file;
        file["name"] = content.exports[i];
        file["more"] = i + 1 < content.exports.size();
        exports.push_back(file);
    }
    page["exports"] = PageData(exports);
    page["exported"] = !content.exports.empty();
    page["regionsPicture"] =
        content.regionsPicture.empty() ? PageData(false) : PageData(content.regionsPicture);
    page["events"] = PageData(eventRows(content));
    page["table"] = !content.events.empty();
    page["clockColumn"] = content.facts.start.known();
    page["clipColumn"] = content.clipsWanted;
    page["thumbnailSize"] = thumbnailSize(content.facts.frameSize);
    page["moreThanShown"] = content.events.size() > kEmbeddedThumbnails;
    page["shown"] = groupedNumber(static_cast<long long>(kEmbeddedThumbnails));
    return renderPage(page, "Motion in " + name, content.madeAt, kReportTemplate, kReportStyle);
}

}  // namespace pelmora
