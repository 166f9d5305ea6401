#pragma once

#include <cstdint>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "FrameClock.h"
#include "ObjectDetector.h"
#include "RegionShapes.h"

namespace pelmora {

// What an objects run was, as its index says: the video, what shaped its model, and what the
// run's records say of it before the first frame.
struct IndexHead {
    std::string videoPath;     // absolute, so that a search from elsewhere finds the video
    std::string creationTime;  // the container's, for the clock time of the first frame
    cv::Size frameSize;        // as the video is shown
    double fps = 0.0;
    long long framesAnnounced = 0;
    long long framesExpected = 0;
    long long announcedMs = 0;  // the video's announced length, which sets the names' digits
    // What shaped the model (see WatchedRegion::forModel): the mask picture's path, empty for
    // none, and the excluded polygons as region files write them.
    std::string maskPath;
    std::vector<std::string> excluded;
    int leastBlob = SceneFrame::kLeastBlob;  // the smallest blob kept
};

// One frame as the frame loop stepped it.
struct IndexedFrame {
    long long frame = 0;
    FrameTime time;
    long long streamMs = 0;
    // The detector started afresh at this frame, for a picture of shownSize (as the video is
    // shown): the run's first frame, or where the frame size changed.
    bool newScene = false;
    cv::Size shownSize;
    SceneFrame scene;
};

// Every object a finished objects run's scene held, frame by frame: what any later question
// of where, how big and how long is answered from, exactly, without decoding again.
struct ObjectIndex {
    static constexpr int kVersion = 1;
    IndexHead head;
    std::vector<IndexedFrame> frames;
};

// Builds an index's bytes frame by frame, as a run goes: a few bytes a quiet frame.
class ObjectIndexWriter {
public:
    void begin(const IndexHead& head);
    void add(const IndexedFrame& frame);
    // The whole index, once the run has finished.
    std::string finish();
    bool begun() const { return started; }

private:
    std::string bytes;
    IndexHead head;
    bool started = false;
    long long frames = 0;
    long long lastFrame = -1;
    long long lastStreamMs = 0;
};

// Reads the index at path into index; why it cannot, naming the file, or nothing. A file of
// another program, of another version or cut short or changed since is refused.
std::string readObjectIndex(const std::string& path, ObjectIndex& index);
// The same, of the bytes themselves; name is what the reason calls them.
std::string parseObjectIndex(const std::string& bytes, const std::string& name, ObjectIndex& index);

// Why index cannot answer a question of these kept polygons (asked's, whose excluded ones and
// mask, where given, must be the scan's) and settings exactly, or nothing: what the scan's model
// learnt or kept cannot be asked otherwise afterwards.
std::string questionRefusal(const IndexHead& head, const RegionShapes& asked,
                            const std::string& maskGiven, const ObjectSettings& settings);
// The polygons a question asks the index with: asked's kept ones, then the scan's excluded
// ones, as a scan given both has them.
RegionShapes questionShapes(const IndexHead& head, const RegionShapes& asked);

// The folders under folder (itself included) that hold an object index, in path order; those of
// earlier searches (search-NAME) are none of them.
std::vector<std::string> objectIndexFolders(const std::string& folder);

// The name of a question's folder (search-NAME) where none is given: eight hexadecimal digits
// of its kept polygons, settings, event gap and clock window, so that the same question asked
// again, by either front end, goes to the same folder.
std::string questionName(const RegionShapes& shapes, const ObjectSettings& settings,
                         long long eventGapMs, const std::vector<std::string>& between);

}  // namespace pelmora
