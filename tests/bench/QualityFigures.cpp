// The labelled benchmark: footage of every kind a camera outdoors sees, made with its moments
// known (see SceneFootage), each run through pelmora-scan with either detector at its
// defaults; for each, the moments found of those there are, the events that hold none, and
// how long those last.

#include "QualityFigures.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "SceneFootage.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::Distractor;
using testsupport::SceneRecipe;

struct Event {
    long long startMs = 0;
    long long endMs = 0;
};

// The events of a run's events.csv: its start_ms and end_ms columns.
std::vector<Event> eventsOf(const std::string& folder) {
    std::vector<Event> events;
    std::ifstream in(folder + "/events.csv");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::stringstream fields(line);
        std::string number;
        std::string start;
        std::string end;
        if (std::getline(fields, number, ',') && std::getline(fields, start, ',') &&
            std::getline(fields, end, ',')) {
            events.push_back({std::stoll(start), std::stoll(end)});
        }
    }
    return events;
}

struct Score {
    int found = 0;
    int moments = 0;
    int falseEvents = 0;
    double falseSeconds = 0.0;
};

// A moment's margin: an event's first or last snapshot this near it is of it.
constexpr long long kMarginMs = 500;

// An event that shares a moment of time with a moment finds it; one that shares none is
// false. The false seconds are the time of every event outside the moments and their margins,
// a frame at least for an event that holds none: one event that runs through the whole clip
// finds every moment, but its time between them counts against it.
Score scoreOf(const std::vector<testsupport::SceneMoment>& moments,
              const std::vector<Event>& events, double fps) {
    Score score;
    score.moments = static_cast<int>(moments.size());
    for (const auto& moment : moments) {
        for (const Event& event : events) {
            if (event.startMs <= moment.endMs && event.endMs >= moment.startMs) {
                ++score.found;
                break;
            }
        }
    }
    for (const Event& event : events) {
        bool within = false;
        long long inside = 0;
        for (const auto& moment : moments) {
            within = within || (event.startMs <= moment.endMs && event.endMs >= moment.startMs);
            const long long from = std::max(event.startMs, moment.startMs - kMarginMs);
            const long long to = std::min(event.endMs, moment.endMs + kMarginMs);
            inside += std::max(0LL, to - from);
        }
        if (!within) {
            ++score.falseEvents;
            score.falseSeconds += 1.0 / fps;
        }
        score.falseSeconds +=
            static_cast<double>(std::max(0LL, event.endMs - event.startMs - inside)) / 1000.0;
    }
    return score;
}

}  // namespace

int qualityFigures(const std::string& scan, const std::string& dir) {
    const Distractor kinds[] = {
        Distractor::None,         Distractor::LightRamp,   Distractor::LightSwitch,
        Distractor::ColourToGrey, Distractor::CloudShadow, Distractor::Rain,
        Distractor::Night,        Distractor::Shake,       Distractor::LowBitrate,
        Distractor::Sway,
    };
    struct Detector {
        const char* name;
        const char* options;
    };
    const Detector detectors[] = {{"classic", "-t 20"}, {"objects", "--detector objects"}};
    std::printf(
        "Footage of 30 s at 640 x 360, each kind with no object and with three people "
        "(small, large, small)\n");
    std::printf("%-15s %-8s | %-22s | %-31s\n", "", "", "no object", "three people");
    std::printf("%-15s %-8s | %12s %9s | %6s %12s %11s\n", "kind", "detector", "false events",
                "false s", "found", "false events", "false s");
    Score totals[2][2];
    for (const Distractor kind : kinds) {
        SceneRecipe recipe;
        recipe.kind = kind;
        recipe.size = {640, 360};
        recipe.seconds = 30.0;
        recipe.seed = 7;
        SceneRecipe people = recipe;
        people.objects = {testsupport::crossing(people, 4.0, 9.0, {18, 44}),
                          testsupport::crossing(people, 14.0, 19.0, {52, 120}),
                          testsupport::crossing(people, 23.0, 28.0, {16, 40})};
        const std::string name = testsupport::distractorName(kind);
        Score scores[2][2];
        int column = 0;
        for (const SceneRecipe* each : {&recipe, &people}) {
            const std::string video = dir + "/" + name + (column == 0 ? "-empty" : "-people") +
                                      (kind == Distractor::LowBitrate ? ".mp4" : ".mkv");
            const std::string made = testsupport::writeScene(*each, video);
            if (!made.empty()) {
                std::fprintf(stderr, "%s\n", made.c_str());
                return 1;
            }
            for (int d = 0; d < 2; ++d) {
                const std::string out =
                    dir + "/out-" + name + std::to_string(column) + detectors[d].name;
                const std::string command = testsupport::shellQuoted(scan) + " -q --events " +
                                            detectors[d].options + " -o " +
                                            testsupport::shellQuoted(out) + " " +
                                            testsupport::shellQuoted(video) + " >/dev/null 2>&1";
                if (std::system(command.c_str()) != 0) {
                    std::fprintf(stderr, "%s failed\n", command.c_str());
                    return 1;
                }
                scores[d][column] =
                    scoreOf(testsupport::sceneMoments(*each), eventsOf(out), each->fps);
                fs::remove_all(out);
            }
            fs::remove(video);
            ++column;
        }
        for (int d = 0; d < 2; ++d) {
            const Score& empty = scores[d][0];
            const Score& with = scores[d][1];
            std::printf("%-15s %-8s | %12d %9.1f | %4d/%d %12d %11.1f\n", name.c_str(),
                        detectors[d].name, empty.falseEvents, empty.falseSeconds, with.found,
                        with.moments, with.falseEvents, with.falseSeconds);
            for (int c = 0; c < 2; ++c) {
                totals[d][c].found += scores[d][c].found;
                totals[d][c].moments += scores[d][c].moments;
                totals[d][c].falseEvents += scores[d][c].falseEvents;
                totals[d][c].falseSeconds += scores[d][c].falseSeconds;
            }
        }
        std::fflush(stdout);
    }
    for (int d = 0; d < 2; ++d) {
        std::printf("%-15s %-8s | %12d %9.1f | %3d/%d %12d %11.1f\n", "all", detectors[d].name,
                    totals[d][0].falseEvents, totals[d][0].falseSeconds, totals[d][1].found,
                    totals[d][1].moments, totals[d][1].falseEvents, totals[d][1].falseSeconds);
    }
    return 0;
}
