// The objects detector on camera footage made to order: every object found and nothing else,
// whatever the light, the weather or the camera do.

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "ObjectDetector.h"
#include "SceneFootage.h"
#include "WatchedRegion.h"

namespace {

using pelmora::ObjectDetector;
using pelmora::ObjectOutcome;
using testsupport::Distractor;
using testsupport::SceneRecipe;

struct Found {
    std::vector<std::pair<long long, long long>> events;  // from the first to the last snapshot
    std::vector<std::pair<ObjectOutcome::Note, long long>> notes;
    std::vector<std::vector<cv::Rect>> boxes;  // of each snapshot
};

// The scene run through the detector as the frame loop runs it, its snapshots grouped into
// events no more than two seconds apart.
Found detect(const SceneRecipe& recipe, const pelmora::WatchedRegion& region = {}) {
    ObjectDetector detector(pelmora::ObjectSettings(), recipe.size, recipe.fps);
    const cv::Mat learnt = region.forModel(recipe.size, ObjectDetector::workingSize(recipe.size));
    const cv::Mat standing = region.standing(recipe.size);
    Found found;
    const long long frames = std::llround(recipe.seconds * recipe.fps);
    cv::Mat grey;
    cv::Mat small;
    for (long long i = 0; i < frames; ++i) {
        const long long ms = std::llround(i * 1000.0 / recipe.fps);
        cv::cvtColor(testsupport::sceneFrame(recipe, i), grey, cv::COLOR_BGR2GRAY);
        cv::resize(grey, small, ObjectDetector::workingSize(recipe.size), 0, 0, cv::INTER_AREA);
        const ObjectOutcome& outcome = detector.step(small, ms, learnt, standing);
        if (outcome.note != ObjectOutcome::Note::None) {
            found.notes.emplace_back(outcome.note, ms);
        }
        if (!outcome.snapshot) {
            continue;
        }
        found.boxes.push_back(outcome.boxes);
        if (!found.events.empty() && ms - found.events.back().second <= 2000) {
            found.events.back().second = ms;
        } else {
            found.events.emplace_back(ms, ms);
        }
    }
    return found;
}

// "found/true, N false": the moments an event overlaps, and the events that overlap none.
std::string score(const SceneRecipe& recipe, const Found& found) {
    const std::vector<testsupport::SceneMoment> moments = testsupport::sceneMoments(recipe);
    int hit = 0;
    for (const auto& moment : moments) {
        for (const auto& [start, end] : found.events) {
            if (start <= moment.endMs && end >= moment.startMs) {
                ++hit;
                break;
            }
        }
    }
    int wrong = 0;
    for (const auto& [start, end] : found.events) {
        bool within = false;
        for (const auto& moment : moments) {
            within = within || (start <= moment.endMs && end >= moment.startMs);
        }
        wrong += within ? 0 : 1;
    }
    return std::to_string(hit) + "/" + std::to_string(moments.size()) + ", " +
           std::to_string(wrong) + " false";
}

// Two people cross each scene, a small one and a large one: every distractor leaves both
// found and no event besides.
TEST(ObjectDetector, FindsEveryObjectAndNothingElseWhateverTheSceneDoes) {
    const Distractor kinds[] = {
        Distractor::None,         Distractor::LightRamp,   Distractor::LightSwitch,
        Distractor::ColourToGrey, Distractor::CloudShadow, Distractor::Rain,
        Distractor::Night,        Distractor::Shake,       Distractor::Sway,
    };
    for (const Distractor kind : kinds) {
        SceneRecipe recipe;
        recipe.kind = kind;
        recipe.seconds = 10.0;
        recipe.objects = {testsupport::crossing(recipe, 1.0, 4.0, {10, 24}),
                          testsupport::crossing(recipe, 6.5, 9.0, {26, 60})};
        EXPECT_EQ(score(recipe, detect(recipe)), "2/2, 0 false") << distractorName(kind);
    }
}

// A change of light, and each shake, is said once, when it happens, and is no event.
TEST(ObjectDetector, SaysEachChangeOfLightAndEachShakeOnceWhenItHappens) {
    const struct {
        Distractor kind;
        ObjectOutcome::Note note;
    } rows[] = {
        {Distractor::LightSwitch, ObjectOutcome::Note::LightChange},
        {Distractor::ColourToGrey, ObjectOutcome::Note::LightChange},
        {Distractor::Shake, ObjectOutcome::Note::Shake},
        {Distractor::LightRamp, ObjectOutcome::Note::None},
        {Distractor::Sway, ObjectOutcome::Note::None},
        {Distractor::Night, ObjectOutcome::Note::None},
    };
    for (const auto& row : rows) {
        SceneRecipe recipe;
        recipe.kind = row.kind;
        recipe.seconds = 10.0;
        std::vector<long long> expected;
        if (testsupport::sceneChangeMs(recipe) >= 0) {
            expected.push_back(testsupport::sceneChangeMs(recipe));
        }
        for (const auto& [first, last] : testsupport::sceneShakes(recipe)) {
            expected.push_back(std::llround(first * 1000.0 / recipe.fps));
        }
        const Found found = detect(recipe);
        std::vector<long long> said;
        for (const auto& [note, ms] : found.notes) {
            EXPECT_EQ(note, row.note) << distractorName(row.kind) << " at " << ms;
            said.push_back(ms);
        }
        ASSERT_EQ(said.size(), expected.size()) << distractorName(row.kind);
        for (std::size_t i = 0; i < said.size(); ++i) {
            // Within two frames of the change.
            EXPECT_NEAR(said[i], expected[i], 80) << distractorName(row.kind);
        }
        EXPECT_TRUE(found.events.empty()) << distractorName(row.kind);
    }
}

// Two people cross, one high in the picture and then one low: a polygon chooses by where each
// stands, not by where any of it reaches, and one excluded is never seen at all.
TEST(ObjectDetector, CountsAnObjectWhereItStandsAndNeverWhereExcluded) {
    SceneRecipe recipe;
    recipe.seconds = 8.0;
    // Their feet at 51 and at 141.
    recipe.objects = {{1.0, 3.5, {16, 32}, {10, 20}, {290, 20}},
                      {4.5, 7.0, {16, 32}, {10, 110}, {290, 110}}};
    const auto band = [](int top, int bottom, bool keep) {
        return pelmora::RegionShape{keep, {{0, top}, {320, top}, {320, bottom}, {0, bottom}}};
    };
    const struct {
        const char* name;
        pelmora::RegionShapes shapes;
        const char* found;  // the people an event overlaps, high (H) and low (L), and the others
    } rows[] = {
        {"no polygon", {}, "HL, 0 false"},
        {"the lower half kept", {band(90, 180, true)}, "L, 0 false"},
        {"the high one's feet kept", {band(45, 60, true)}, "H, 0 false"},
        {"all of the high one but its feet", {band(10, 48, true)}, ", 0 false"},
        {"the high one's path excluded", {band(0, 70, false)}, "L, 0 false"},
        // Not seen below the top of the excluded band, it stands at its top.
        {"kept, with its feet excluded", {band(0, 90, true), band(45, 60, false)}, "H, 0 false"},
    };
    for (const auto& row : rows) {
        pelmora::WatchedRegion region;
        region.setShapes(row.shapes);
        const Found found = detect(recipe, region);
        const std::vector<testsupport::SceneMoment> moments = testsupport::sceneMoments(recipe);
        std::string people;
        int wrong = 0;
        for (const auto& [start, end] : found.events) {
            bool within = false;
            for (std::size_t i = 0; i < moments.size(); ++i) {
                if (start <= moments[i].endMs && end >= moments[i].startMs) {
                    within = true;
                    const char person = i == 0 ? 'H' : 'L';
                    if (people.find(person) == std::string::npos) {
                        people += person;
                    }
                }
            }
            wrong += within ? 0 : 1;
        }
        EXPECT_EQ(people + ", " + std::to_string(wrong) + " false", row.found) << row.name;
    }
}

// Where a person of known size stands, its box says so, to within a few pixels.
TEST(ObjectDetector, BoxesAnObjectWhereItIs) {
    SceneRecipe moving;
    moving.seconds = 4.0;
    moving.size = {640, 360};
    moving.objects = {{2.0, 4.0, {40, 96}, {100, 150}, {420, 150}}};
    const Found found = detect(moving);
    ASSERT_FALSE(found.boxes.empty());
    const std::vector<cv::Rect>& boxes = found.boxes.back();
    ASSERT_EQ(boxes.size(), 1u);
    // The last snapshot's time gives where the person was then.
    const long long lastMs = found.events.back().second;
    const double along = (lastMs / 1000.0 - 2.0) / 2.0;
    const cv::Rect truth(static_cast<int>(std::lround(100 + along * 320)), 150, 40, 96);
    EXPECT_NEAR(boxes[0].x, truth.x, 4) << boxes[0];
    EXPECT_NEAR(boxes[0].y, truth.y, 4) << boxes[0];
    EXPECT_NEAR(boxes[0].width, truth.width, 8) << boxes[0];
    EXPECT_NEAR(boxes[0].height, truth.height, 8) << boxes[0];
}

}  // namespace

// A blob followed frame by frame becomes an object at the first frame where it is big enough,
// has been followed long enough and has travelled far enough: each at its least, exactly.
TEST(ObjectTracker, MakesAnObjectOfABlobAtItsLeastAreaTimeAndTravel) {
    const pelmora::ObjectTracker::Rules rules;
    const struct {
        const char* name;
        long long area;
        int framesPerPixel;    // how slowly it moves right, 0 for not at all
        long long objectAtMs;  // -1 for never
    } rows[] = {
        {"the least area, followed the least time", rules.leastArea, 1, rules.leastMs},
        {"a pixel smaller", rules.leastArea - 1, 1, -1},
        {"the least travel reached after the least time", rules.leastArea, 2, 480},
        {"in place", rules.leastArea, 0, -1},
    };
    for (const auto& row : rows) {
        pelmora::ObjectTracker tracker(rules);
        long long objectAt = -1;
        for (int frame = 0; frame < 25; ++frame) {
            const int x = 10 + (row.framesPerPixel > 0 ? frame / row.framesPerPixel : 0);
            tracker.follow({{cv::Rect(x, 10, 4, 4), row.area}}, frame * 40LL, 320);
            for (const pelmora::ObjectTracker::Track& track : tracker.all()) {
                if (track.becameObject && objectAt < 0) {
                    objectAt = frame * 40LL;
                }
            }
        }
        EXPECT_EQ(objectAt, row.objectAtMs) << row.name;
    }
}
