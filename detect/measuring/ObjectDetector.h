#pragma once

#include <deque>
#include <map>
#include <opencv2/core.hpp>
#include <utility>
#include <vector>

#include "BackgroundModel.h"
#include "ObjectTracker.h"

namespace pelmora {

// The objects detector's settings, as --min-object and --min-duration give them.
struct ObjectSettings {
    // The least object: a share of the picture, or where pixels is above 0, that many of the
    // video's pixels.
    double share = 0.0005;
    long long pixels = 0;
    long long leastMs = 400;  // an object is followed this long before it counts
};

// What the objects detector makes of one frame.
struct ObjectOutcome {
    // The objects seen in it, in the video's pixels (as it is shown, turned where it is).
    std::vector<cv::Rect> boxes;
    long long pixels = 0;   // their foreground, in the video's pixels
    bool snapshot = false;  // the rule below says the frame is saved
    enum class Note {
        None,
        LightChange,  // the whole picture changed beyond what light explains; learnt again
        CameraMoved,  // the picture moved too far to be undone; learnt again
        Shake,        // the camera began to shake; undone
    };
    Note note = Note::None;
};

// What the learnt scene makes of one frame, whatever is then asked of the objects in it: the
// model learns the same way for every size, duration and standing place (only the watched
// region shapes it), so a scan's scene frames answer any of those questions again exactly.
struct SceneFrame {
    enum class Kind {
        LearntAgain,  // the scene is learnt afresh from this frame: no track survives it
        Learning,     // followed, while no object may count yet
        Watched,      // followed, and objects count
    };
    Kind kind = Kind::LearntAgain;
    ObjectOutcome::Note note = ObjectOutcome::Note::None;
    // At the detector's size, every blob of kLeastBlob pixels or more.
    std::vector<ObjectBlob> blobs;

    // The least blob a scene keeps: the least object any setting asks for.
    static constexpr int kLeastBlob = 4;
};

// The learnt background of a video (see BackgroundModel), light and shake explained away: the
// frames as SceneFrame says them.
class ObjectScene {
public:
    ObjectScene(cv::Size workingSize, double fps);

    // The frame at timeMs, grey at the working size; watched: as ObjectDetector::step takes it.
    const SceneFrame& look(const cv::Mat& grey, long long timeMs, const cv::Mat& watched);
    const cv::Mat& foreground() const { return model.foreground(); }

private:
    void learnAgain(const cv::Mat& grey, long long timeMs, bool keepDeviations, long long forMs);

    cv::Size working;
    double fps;
    BackgroundModel model;
    BlobFinder finder;
    SceneFrame frame;
    long long learntUntilMs = 0;  // no object counts before: the model is still learning
    std::deque<std::pair<long long, double>> gains;  // the light's gain, over the last moments
    long long lastShiftMs = -1;                      // the last frame a shift was undone in
};

// The objects among a scene's blobs, and the snapshot rule: a frame is saved when an object
// first counts (it has lasted the least time and travelled), and then whenever one that counts
// has moved by a third of its size since the last snapshot, at most four a second; a scene
// where nothing counts saves nothing.
class ObjectJudge {
public:
    ObjectJudge(const ObjectSettings& settings, cv::Size videoSize);

    // The least blob, at the detector's size, that settings let be an object in a video of
    // videoSize: never below SceneFrame::kLeastBlob.
    static int leastArea(const ObjectSettings& settings, cv::Size videoSize);

    // standing: as ObjectDetector::step takes it.
    const ObjectOutcome& judge(const SceneFrame& scene, long long timeMs, const cv::Mat& standing);
    cv::Size videoSize() const { return video; }

private:
    cv::Rect toVideo(const cv::Rect& box) const;
    // Whether the track's box, in the video's pixels, stands where standing says it counts.
    static bool standsIn(const cv::Rect& box, const cv::Mat& standing);

    cv::Size video;
    cv::Size working;
    ObjectTracker tracker;
    ObjectOutcome outcome;
    long long lastSnapshotMs = -1;
    std::map<int, cv::Point2d> atSnapshot;  // each object's centre at the last snapshot
};

// Finds what moves in camera footage and only that: a background learnt over seconds rather
// than the last snapshot (ObjectScene), and blobs that last and travel rather than pixels (see
// ObjectTracker and ObjectJudge). It works on a small grey picture (workingSize) and says where
// the objects are in the video's own pixels.
class ObjectDetector {
public:
    ObjectDetector(const ObjectSettings& settings, cv::Size videoSize, double fps);

    // The size of the grey pictures step takes for a video of videoSize: 320 pixels wide at
    // most, as near its shape as whole pixels allow.
    static cv::Size workingSize(cv::Size videoSize);

    // The frame at timeMs, grey at workingSize; watched: 0 or 255 at that size, or empty for
    // the whole picture. standing: 0 or 255 at the video's size, where an object must stand
    // (the middle of its box's lower edge) to count; empty where any place will do.
    const ObjectOutcome& step(const cv::Mat& grey, long long timeMs, const cv::Mat& watched,
                              const cv::Mat& standing = cv::Mat());

    // What the scene made of the last frame.
    const SceneFrame& lastScene() const { return *scene; }
    // The last frame's foreground, at workingSize.
    const cv::Mat& foreground() const { return model.foreground(); }
    cv::Size videoSize() const { return judge.videoSize(); }

private:
    ObjectScene model;
    ObjectJudge judge;
    const SceneFrame* scene = nullptr;
};

// What the objects detector sees at the last of greys (at workingSize, in frame order at fps,
// from the moment it began to learn): the objects there and the foreground, for a window that
// shows one moment of a video rather than runs it through.
struct ObjectsPreview {
    std::vector<cv::Rect> boxes;  // in the video's pixels
    cv::Mat foreground;           // at workingSize
};
ObjectsPreview previewObjects(const std::vector<cv::Mat>& greys, cv::Size videoSize, double fps,
                              const ObjectSettings& settings, const cv::Mat& watched,
                              const cv::Mat& standing = cv::Mat());

}  // namespace pelmora
