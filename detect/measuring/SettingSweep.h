#pragma once

#include <cstddef>
#include <opencv2/core.hpp>
#include <vector>

#include "ChangeCounter.h"
#include "PictureConverter.h"
#include "RunObserver.h"
#include "VideoSource.h"
#include "WatchedRegion.h"

namespace pelmora {

// One setting of a run that a sweep measures: the threshold and the trigger size.
struct SweepSetting {
    int threshold = 0;
    int minPixels = 0;  // a snapshot needs more changed pixels than this
};

// What one frame gave each setting of a sweep.
struct SweptFrame {
    // Compared with the black a video starts from, for every setting at once: the first frame,
    // or the first of a new size.
    bool againstBlack = false;
    // The changed pixels of each setting, in the order of the settings.
    std::vector<int> changedPixels;
    // The settings whose run would save this frame, in their order.
    std::vector<std::size_t> triggered;
};

// Told, for each setting, every snapshot a run of that setting would take, in frame order. The
// snapshot's file is empty and it is not saved: a sweep writes none.
class SweepObserver {
public:
    virtual ~SweepObserver() = default;
    virtual void settingSnapshot(std::size_t setting, const SnapshotOutcome& snapshot) = 0;
};

// Measures every frame of a video for many settings at once, each exactly as a run with that
// setting alone would: each setting keeps its own reference, the frame of its last snapshot
// (black at the start and after a change of frame size), and a frame triggers a setting when
// more than its trigger's pixels changed in the busiest channel against that reference.
//
// Settings whose last snapshot is the same frame share that frame as their reference, so a
// frame costs one comparison per distinct reference, however many settings there are, and
// memory holds one picture per distinct reference. A comparison yields the counts of all of
// its settings' thresholds at once (see ChangeHistogram), reads only what a count at the
// lowest of them reads, and converts to colour only the rows that may hold a change at that
// threshold, as a run does (see PictureRows); only frames that some setting saves are
// converted whole.
class SettingSweep {
public:
    // Thresholds from 0 to 254.
    SettingSweep(std::vector<SweepSetting> settings, WatchedRegion watched);
    ~SettingSweep();
    SettingSweep(const SettingSweep&) = delete;
    SettingSweep& operator=(const SettingSweep&) = delete;

    const std::vector<SweepSetting>& settings() const { return all; }

    // Measures the next picture of the video, converted with converter (which has seen the
    // pictures before it), for every setting, and makes it the reference of each setting it
    // triggers. Throws where the converter refuses the picture.
    const SweptFrame& measure(PictureConverter& converter, const Picture& picture);

    // The distinct references held now, and the most held at once so far.
    std::size_t references() const;
    std::size_t mostReferences() const { return most; }

private:
    struct Reference;

    // Whether every reference allows the picture to be compared with it row by row.
    bool allowsRows(const Picture& picture) const;
    void compare(Reference& reference, PictureConverter& converter, const Picture& picture,
                 bool byRows, const cv::Mat& watchedBytes);
    void moveTriggered(const Picture& picture);

    std::vector<SweepSetting> all;
    WatchedRegion watched;
    std::vector<Reference> held;
    std::size_t most = 0;
    SweptFrame frame;
    cv::Mat image;
    std::vector<bool> madePairs;
    ChangeCounter counter;
    ChangeHistogram histogram;
};

}  // namespace pelmora
