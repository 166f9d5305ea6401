#include "ObjectTracker.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <tuple>

namespace pelmora {

namespace {

// Fragments of one object (a head apart from its body, a coat apart from its legs) this many
// pixels apart are one blob.
constexpr int kJoin = 2;
// The most travel an object needs to count, as a share of the picture's width.
constexpr double kFarthestNeeded = 0.05;

cv::Point2d centreOf(const cv::Rect& box) {
    return {box.x + box.width / 2.0, box.y + box.height / 2.0};
}

// A box grown on every side by a quarter of its size and a few pixels: where its blob may be
// in the next frame.
cv::Rect reach(const cv::Rect& box) {
    const int dx = box.width / 4 + 3;
    const int dy = box.height / 4 + 3;
    return {box.x - dx, box.y - dy, box.width + 2 * dx, box.height + 2 * dy};
}

}  // namespace

const std::vector<ObjectBlob>& BlobFinder::find(const cv::Mat& foreground, const cv::Mat& changes,
                                                int leastArea) {
    cv::dilate(foreground, joined, cv::Mat(), cv::Point(-1, -1), kJoin);
    const int count = cv::connectedComponentsWithStats(joined, labels, stats, centroids, 8, CV_32S);
    found.clear();
    for (int label = 1; label < count; ++label) {
        const int* s = stats.ptr<int>(label);
        // The joining grew each blob by kJoin on every side; its area is the foreground's.
        cv::Rect box(s[cv::CC_STAT_LEFT] + kJoin, s[cv::CC_STAT_TOP] + kJoin,
                     std::max(1, s[cv::CC_STAT_WIDTH] - 2 * kJoin),
                     std::max(1, s[cv::CC_STAT_HEIGHT] - 2 * kJoin));
        const cv::Rect whole(cv::Point(), foreground.size());
        const long long area = cv::countNonZero(foreground(box & whole));
        if (area < leastArea) {
            continue;
        }
        // A moving object lasts two frames only where it overlaps itself: its leading edge is
        // in this frame's changes.
        const cv::Rect near = cv::Rect(box.x - 4, box.y - 4, box.width + 8, box.height + 8) & whole;
        const cv::Rect edge = cv::boundingRect(changes(near));
        if (edge.area() > 0) {
            box |= edge + near.tl();
        }
        found.push_back({box, area});
    }
    return found;
}

void ObjectTracker::follow(const std::vector<ObjectBlob>& given, long long timeMs, int width) {
    struct Candidate {
        cv::Rect box;
        long long area;
        bool taken;
    };
    std::vector<Candidate> blobs;
    blobs.reserve(given.size());
    for (const ObjectBlob& blob : given) {
        if (blob.area >= rules.leastArea) {
            blobs.push_back({blob.box, blob.area, false});
        }
    }
    // Each track takes the free blob it overlaps most, the oldest tracks first.
    std::vector<std::tuple<long long, std::size_t, std::size_t>> pairs;
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        tracks[t].seenNow = false;
        tracks[t].becameObject = false;
        const cv::Rect near = reach(tracks[t].box);
        for (std::size_t b = 0; b < blobs.size(); ++b) {
            const long long overlap = (near & blobs[b].box).area();
            if (overlap > 0) {
                pairs.emplace_back(-overlap, t, b);
            }
        }
    }
    std::sort(pairs.begin(), pairs.end());
    for (const auto& [overlap, t, b] : pairs) {
        Track& track = tracks[t];
        if (track.seenNow || blobs[b].taken) {
            continue;
        }
        // A blob of quite another size is another thing that happens to lie near: rain
        // streaks, speckle.
        const double ratio = static_cast<double>(blobs[b].area) / std::max(1LL, track.area);
        if (ratio > 3.0 || ratio < 1.0 / 3.0) {
            continue;
        }
        blobs[b].taken = true;
        track.seenNow = true;
        track.box = blobs[b].box;
        track.area = blobs[b].area;
        track.lastMs = timeMs;
        ++track.framesSeen;
    }
    for (const Candidate& blob : blobs) {
        if (!blob.taken) {
            Track track;
            track.id = nextId++;
            track.box = blob.box;
            track.firstCentre = centreOf(blob.box);
            track.firstMs = track.lastMs = timeMs;
            track.area = blob.area;
            track.seenNow = true;
            track.framesSeen = 0;
            track.framesLived = -1;
            tracks.push_back(track);
        }
    }
    tracks.erase(
        std::remove_if(tracks.begin(), tracks.end(),
                       [&](const Track& track) { return timeMs - track.lastMs > rules.forgetMs; }),
        tracks.end());
    for (Track& track : tracks) {
        ++track.framesLived;
        if (track.object || !track.seenNow || track.lastMs - track.firstMs < rules.leastMs ||
            4 * track.framesSeen < 3 * track.framesLived) {
            continue;
        }
        // Net movement, of half its size at least (but no more than kFarthestNeeded of the
        // picture, so that a lorry counts as soon as a person): what sways or jitters in place
        // stays near where it was first seen.
        const cv::Point2d moved = centreOf(track.box) - track.firstCentre;
        const double needed = std::max(
            rules.leastTravel,
            std::min(0.5 * std::max(track.box.width, track.box.height), kFarthestNeeded * width));
        if (std::hypot(moved.x, moved.y) >= needed) {
            track.object = true;
            track.becameObject = true;
        }
    }
}

}  // namespace pelmora
