// The objects detector as pelmora-scan runs it: where the objects were reaches the lists and
// the summary, and a change of light is one line, not an event.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

#include "ScanProcess.h"
#include "SceneFootage.h"
#include "TestSupport.h"

namespace {

TEST(ObjectsScan, SaysWhereTheObjectsWereAndALightChangeOnce) {
    testsupport::TempDir dir;
    testsupport::SceneRecipe scene;
    scene.kind = testsupport::Distractor::LightSwitch;
    scene.seconds = 8.0;
    scene.objects = {testsupport::crossing(scene, 4.5, 8.0, {20, 48})};
    const std::string video = dir.file("yard.mkv");
    ASSERT_EQ(testsupport::writeScene(scene, video), "");
    const clitest::ScanResult result =
        clitest::runScan({"-q", "--detector", "objects", "--events", "--summary", "json", "-o",
                          dir.file("out"), video});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, video + ": light change at 00:00:03.600\n");
    const nlohmann::json line = nlohmann::json::parse(result.out);
    EXPECT_EQ(line["most_objects"], 1);
    EXPECT_NEAR(line["box"]["height"].get<int>(), 48, 6) << line;
    const std::string events = testsupport::fileBytes(dir.file("out/events.csv"));
    EXPECT_EQ(events.substr(0, events.find('\r')),
              "event,start_ms,end_ms,start,end,snapshots,peak_pixels,peak_file,picture_file,box,"
              "most_objects");
    // One event, of the person: the change of light is none.
    EXPECT_EQ(std::count(events.begin(), events.end(), '\n'), 2) << events;
}

}  // namespace
