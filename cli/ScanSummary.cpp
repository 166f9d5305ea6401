#include "ScanSummary.h"

#include <nlohmann/json.hpp>

#include "JsonPath.h"
#include "TextFormat.h"

namespace {

using Status = pelmora::RunReport::Status;

const char* statusName(const VideoOutcome& outcome) {
    if (outcome.skipped) {
        return "skipped";
    }
    switch (outcome.report.status) {
        case Status::Finished:
            return "finished";
        case Status::Stopped:
            return "stopped";
        case Status::OpenFailed:
            return "not_opened";
        case Status::OutputUnusable:
            return "not_scanned";
        case Status::Failed:
            return "failed";
    }
    return "unknown";
}

double framesPerSecond(const VideoOutcome& outcome) {
    return outcome.seconds > 0.0 ? static_cast<double>(outcome.report.framesRead) / outcome.seconds
                                 : 0.0;
}

}  // namespace

bool VideoOutcome::failed() const {
    return !skipped && (!failures.empty() || report.status == Status::OpenFailed ||
                        report.status == Status::OutputUnusable || report.status == Status::Failed);
}

namespace {

std::string textLine(const VideoOutcome& outcome, bool quiet) {
    const pelmora::RunReport& report = outcome.report;
    const char* video = outcome.video.c_str();
    if (outcome.skipped) {
        return pelmora::formatText("%s: skipped, done before: %s, %lld written\n", video,
                                   pelmora::framesText(report).c_str(), report.snapshotsWritten);
    }
    switch (report.status) {
        case Status::OpenFailed:
            return pelmora::formatText("%s: not opened\n", video);
        case Status::OutputUnusable:
            return pelmora::formatText("%s: not scanned, snapshots cannot be saved in %s\n", video,
                                       report.outputDir.c_str());
        case Status::Finished:
        case Status::Stopped:
        case Status::Failed:
            break;
    }
    // Quiet, no line names a file the run saved: this one says where they went.
    const std::string ending = std::string(report.status == Status::Stopped ? ", interrupted"
                                           : outcome.failed()               ? ", failed"
                                                                            : "") +
                               (quiet ? "; files in " + report.outputDir : std::string());
    if (outcome.sweep) {
        const SweepOutcome& sweep = *outcome.sweep;
        const bool withMoments = !sweep.moments.empty();
        const std::string line =
            pelmora::formatText("%s: %s, %zu settings swept, %s, %.1f frames/s%s\n", video,
                                pelmora::framesText(report).c_str(), sweep.rows.size(),
                                pelmora::secondsInHundredths(outcome.seconds).c_str(),
                                framesPerSecond(outcome), ending.c_str());
        // A sweep that read no frame found nothing: a table of noughts and a suggestion drawn
        // from it would pass for what the video holds.
        if (report.framesRead == 0) {
            return line;
        }
        return line + pelmora::sweepTableLines(sweep.rows, withMoments) +
               pelmora::suggestionText(pelmora::suggestSetting(sweep.rows), sweep.rows,
                                       sweep.moments);
    }
    // Only where something told it, so that the line of a video without one stays as it was.
    const std::string start =
        report.start.known()
            ? pelmora::formatText(", starts %s %s", report.start.clockTime(0).c_str(),
                                  pelmora::startSourceText(report.start.source))
            : std::string();
    return pelmora::formatText("%s: %s, %lld written, %lld lost, %s, %.1f frames/s%s%s\n", video,
                               pelmora::framesText(report).c_str(), report.snapshotsWritten,
                               report.snapshotsLost,
                               pelmora::secondsInHundredths(outcome.seconds).c_str(),
                               framesPerSecond(outcome), start.c_str(), ending.c_str());
}

// The sweep's table, a row per setting with sweep.csv's columns, and the setting it suggests.
nlohmann::ordered_json sweepJson(const SweepOutcome& sweep) {
    const bool withMoments = !sweep.moments.empty();
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    for (const pelmora::SweepRow& row : sweep.rows) {
        const bool any = row.firstMs >= 0;
        nlohmann::ordered_json each = {
            {"threshold", row.setting.threshold},
            {"trigger", row.setting.minPixels},
            {"snapshots", row.snapshots},
            {"events", row.events},
            {"busiest_minute", row.busiestMinute},
            {"first_ms", any ? nlohmann::ordered_json(row.firstMs) : nlohmann::ordered_json()},
            {"last_ms", any ? nlohmann::ordered_json(row.lastMs) : nlohmann::ordered_json()},
        };
        if (withMoments) {
            each["moments_found"] = row.momentsFound();
            each["snapshots_outside"] = row.snapshotsOutside;
        }
        rows.push_back(each);
    }
    nlohmann::ordered_json json = {{"rows", rows}};
    const pelmora::SweepSuggestion suggestion = pelmora::suggestSetting(sweep.rows);
    if (suggestion.made) {
        nlohmann::ordered_json suggested = {
            {"threshold", suggestion.setting.threshold},
            {"trigger", suggestion.setting.minPixels},
            {"rule", suggestion.byMoments ? "moments" : "knee"},
        };
        if (suggestion.byMoments) {
            nlohmann::ordered_json missed = nlohmann::ordered_json::array();
            for (const std::size_t index : suggestion.missed) {
                missed.push_back({{"moment", index + 1},
                                  {"start_ms", sweep.moments[index].startMs},
                                  {"end_ms", sweep.moments[index].endMs}});
            }
            suggested["missed"] = missed;
        }
        json["suggested"] = suggested;
    }
    return json;
}

std::string jsonLine(const VideoOutcome& outcome) {
    const pelmora::RunReport& report = outcome.report;
    // In this order, the video first, so that a line reads well by eye too.
    // Each path readable and, after all else, as its exact bytes, for a path that is not UTF-8.
    nlohmann::ordered_json line = {
        {"video", readablePath(outcome.video)},
        {"status", statusName(outcome)},
        {"frames", report.framesRead},
        {"frames_announced", report.framesAnnounced},
        {"written", report.snapshotsWritten},
        {"lost", report.snapshotsLost},
        {"seconds", outcome.seconds},
        {"output", readablePath(report.outputDir)},
        {"start", report.start.known() ? nlohmann::ordered_json(report.start.clockTime(0))
                                       : nlohmann::ordered_json()},
        {"start_source", pelmora::startSourceWord(report.start.source)},
        {"video_bytes", pathBytes(outcome.video)},
        {"output_bytes", pathBytes(report.outputDir)},
    };
    if (report.findsObjects) {
        const cv::Rect& box = report.objectsBox;
        line["most_objects"] = report.mostObjects;
        line["box"] =
            box.area() > 0
                ? nlohmann::ordered_json(
                      {{"x", box.x}, {"y", box.y}, {"width", box.width}, {"height", box.height}})
                : nlohmann::ordered_json();
    }
    nlohmann::ordered_json failures = nlohmann::ordered_json::array();
    for (const std::string& failure : outcome.failures) {
        failures.push_back(failure);
    }
    line["failures"] = failures;
    if (outcome.sweep) {
        line["sweep"] = sweepJson(*outcome.sweep);
    }
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace

std::string summaryLine(SummaryFormat format, const VideoOutcome& outcome, bool quiet) {
    return format == SummaryFormat::Json ? jsonLine(outcome) : textLine(outcome, quiet);
}

void BatchTotal::add(const VideoOutcome& outcome) {
    if (outcome.skipped) {
        ++skipped;
        return;
    }
    switch (outcome.report.status) {
        case Status::Finished:
            ++(outcome.failed() ? failed : finished);
            break;
        case Status::Stopped:
            ++stopped;
            break;
        case Status::OpenFailed:
        case Status::OutputUnusable:
        case Status::Failed:
            ++failed;
            break;
    }
    frames += outcome.report.framesRead;
    written += outcome.report.snapshotsWritten;
    lost += outcome.report.snapshotsLost;
}

std::string batchTotalLine(const BatchTotal& total, double seconds) {
    std::string counts =
        pelmora::formatText("Total: %d videos, %d finished, %d stopped, %d failed", total.videos,
                            total.finished, total.stopped, total.failed);
    // Only a resumed or stopped batch has these, and the three above then do not add up alone.
    if (total.skipped > 0) {
        counts += pelmora::formatText(", %d skipped", total.skipped);
    }
    const int unread = total.videos - total.finished - total.stopped - total.failed - total.skipped;
    if (unread > 0) {
        counts += pelmora::formatText(", %d not started", unread);
    }
    return counts + pelmora::formatText(", %lld %s, %lld written, %lld lost, %s\n", total.frames,
                                        total.frames == 1 ? "frame" : "frames", total.written,
                                        total.lost, pelmora::secondsInHundredths(seconds).c_str());
}
