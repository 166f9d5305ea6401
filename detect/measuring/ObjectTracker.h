#pragma once

#include <opencv2/core.hpp>
#include <vector>

namespace pelmora {

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

    // The blobs of foreground (0 or 255) at timeMs, matched to the tracks; each blob's box
    // reaches as far as changes (what differed in this frame alone) does near it.
    void follow(const cv::Mat& foreground, const cv::Mat& changes, long long timeMs);
    // Forgets every track: the scene is learnt again.
    void clear() { tracks.clear(); }

    const std::vector<Track>& all() const { return tracks; }

private:
    Rules rules;
    std::vector<Track> tracks;
    int nextId = 1;
    cv::Mat labels, stats, centroids;
};

}  // namespace pelmora
