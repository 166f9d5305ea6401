#pragma once

#include <functional>
#include <string>
#include <vector>

namespace pelmora {

// Copy: the source's packets as they are, from the keyframe at or before the stretch, so
// nothing is decoded. Encode: H.264 in MP4, cut at the stretch's own frames.
enum class ClipMode { Copy, Encode };

// A stretch of the video to cut, in milliseconds from its first frame, and the events it shows.
struct ClipStretch {
    std::vector<int> events;  // numbers counted from 1, ascending
    long long startMs = 0;
    long long endMs = 0;
};

struct ClipRequest {
    std::string videoPath;
    std::string folder;  // where the clips go; empty: the current folder
    std::vector<ClipStretch> stretches;
    ClipMode mode = ClipMode::Copy;
    // Asked once a packet; true abandons the clips not yet complete, which count as lost.
    std::function<bool()> stopRequested;
};

// One clip as it came out. The times are those of its first and last frames in the source,
// from its first frame, in whole milliseconds: a copied clip can start earlier than its
// stretch, and a stretch past either end of the video is cut to what the video holds.
struct ClipOutcome {
    std::vector<int> events;
    std::string file;  // its name in the folder
    bool saved = false;
    std::string error;  // why it was not saved
    long long startMs = 0;
    long long endMs = 0;
    bool encoded = false;
};

struct ClipResults {
    std::vector<ClipOutcome> clips;    // one per stretch, in order
    std::vector<std::string> notices;  // what changed the way the clips were cut, said once
    long long lost = 0;
    bool stopped = false;  // a stop abandoned the clips not yet complete
};

// Cuts the stretches from the video into clips named after their first event (EVENT0001.mkv,
// ...), each written under a temporary name and renamed once complete. Copied clips keep
// every stream and the source's container where it takes them all, else Matroska; encoded
// ones are MP4, with the audio copied where MP4 takes it, else AAC. A source that cannot be
// copied into any container is encoded, with a notice. Timestamps start at 0.
ClipResults writeClips(const ClipRequest& request);

}  // namespace pelmora
