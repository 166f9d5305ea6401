#pragma once

// Camera footage made to order, with the moments it holds known: a textured scene, what a
// camera outdoors also sees (light that changes, a cloud's shadow, rain, night noise, a shaking
// pole, swaying leaves, a poor stream), and objects that cross it at known times. The labelled
// benchmark and the detector's tests both draw from here, so what the README publishes is what
// the tests hold.

#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace testsupport {

// What else the camera sees besides the objects; every kind has the sensor's noise too.
enum class Distractor {
    None,          // a still scene with sensor noise
    LightRamp,     // the light fading slowly to 60 % and back
    LightSwitch,   // the lights switched up at a moment, by half as much again
    ColourToGrey,  // the camera switching to infrared: grey, and brighter, at a moment
    CloudShadow,   // a soft shadow a third deep sweeping slowly across
    Rain,          // bright streaks, new ones every frame
    Night,         // a dark scene and strong noise
    Shake,         // the whole picture shaking by a few pixels, three times
    LowBitrate,    // H.264 at a poor rate, the picture pumping at each keyframe
    Sway,          // a patch of leaves swaying in place
};

// Its name in tables and file names: "still", "light-ramp", ...
const char* distractorName(Distractor kind);

// An object that crosses the scene in a straight line, seen from startS to endS.
struct SceneObject {
    double startS = 0.0;
    double endS = 0.0;
    cv::Size size;     // in the picture's pixels
    cv::Point2d from;  // its top left corner at startS, and at endS
    cv::Point2d to;
};

struct SceneRecipe {
    cv::Size size{320, 180};
    double fps = 25.0;
    double seconds = 8.0;
    Distractor kind = Distractor::None;
    std::vector<SceneObject> objects;
    unsigned seed = 1;
};

// The moments that hold motion: the span of each object, in milliseconds.
struct SceneMoment {
    long long startMs = 0;
    long long endMs = 0;
};
std::vector<SceneMoment> sceneMoments(const SceneRecipe& recipe);

// Frame index of the scene, as BGR.
cv::Mat sceneFrame(const SceneRecipe& recipe, long long index);

// The scene's moment of change for the kinds that have one (the lights switched, the switch to
// grey), in milliseconds; -1 for the others.
long long sceneChangeMs(const SceneRecipe& recipe);
// The frames the camera shakes in, as [first, last] pairs; none for the other kinds.
std::vector<std::pair<long long, long long>> sceneShakes(const SceneRecipe& recipe);

// Writes the scene to path with the ffmpeg command, lossless (FFV1 in Matroska) or, for
// LowBitrate, as a poor H.264 stream; the reason it could not, or empty.
std::string writeScene(const SceneRecipe& recipe, const std::string& path);

// One object of the given size crossing from left to right, from startS to endS, its top at
// the vertical middle less half its height.
SceneObject crossing(const SceneRecipe& recipe, double startS, double endS, cv::Size size);

}  // namespace testsupport
