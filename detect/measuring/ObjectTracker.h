#pragma once

#include <opencv2/core.hpp>
#include <vector>

namespace pelmora {

// A patch of a foreground: its box, which reaches as far as the frame's own changes do near it,
// and its pixels.
struct ObjectBlob {
    cv::Rect box;
    long long area = 0;
};

// Finds the blobs of a foreground. What a blob is depends on no setting, so that the blobs of a
// scan can be followed again under other rules.
class BlobFinder {
public:
    // The blobs of foreground (0 or 255) of at least leastArea pixels; changes is what differed
    // in this frame alone.
    const std::vector<ObjectBlob>& find(const cv::Mat& foreground, const cv::Mat& changes,
                                        int leastArea);

private:
    cv::Mat joined, labels, stats, centroids;
    std::vector<ObjectBlob> found;
};

// The blobs of a foreground followed from frame to frame. A blob is an object once it has been
// followed for long enough and has travelled: rain streaks and speckle do not last, a branch
// swaying in place does not travel, a person crossing does both.
class ObjectTracker {
public:
    struct Rules {
        int leastArea = 16;        // of a blob, in the foreground's pixels
        long long leastMs = 400;   // followed for at least this long
        double leastTravel = 6.0;  // and moved at least this far, in pixels, and half its
                                   // own size, seen in three frames of four
        long long forgetMs = 300;  // a track unseen for this long is lost
    };

    struct Track {
        int id = 0;
        cv::Rect box;  // where it was last seen
        cv::Point2d firstCentre;
        long long firstMs = 0;
        long long lastMs = 0;
        long long area = 0;  // of its blob when last seen
        int framesSeen = 0;
        int framesLived = 0;  // since it was first seen
        bool object = false;
        bool seenNow = false;       // in the last frame
        bool becameObject = false;  // in the last frame
    };

    explicit ObjectTracker(Rules rules) : rules(rules) {}

    // The blobs of a frame at timeMs, of a picture width pixels wide, matched to the tracks;
    // those smaller than the rules' least area are none.
    void follow(const std::vector<ObjectBlob>& blobs, long long timeMs, int width);
    // Forgets every track: the scene is learnt again.
    void clear() { tracks.clear(); }

    const std::vector<Track>& all() const { return tracks; }

private:
    Rules rules;
    std::vector<Track> tracks;
    int nextId = 1;
};

}  // namespace pelmora
