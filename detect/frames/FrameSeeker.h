#pragma once

#include <opencv2/core.hpp>
#include <string>

#include "PictureConverter.h"
#include "VideoSource.h"

namespace pelmora {

// The one reader that seeks a video to a frame: the frames at the times asked for (the tuning
// window), or the pictures at the frame indices asked for (the digests), in any order, with the
// bytes a run reads there: the same source and conversion. Asked for a place a little after the
// last one, it decodes on from where it is; asked for any other, it seeks to the keyframe before
// it and decodes on from there, or reads from the start where that cannot be done exactly.
class FrameSeeker {
public:
    // Why the file does not open as a video; empty when it does.
    std::string open(const std::string& path);
    bool isOpen() const { return source.isOpen(); }
    // 0 where the container does not say.
    double durationMs() const { return source.durationMs(); }
    // The rate FFmpeg guesses for the stream; 0 where it has none.
    double frameRate() const { return source.fps(); }

    // The frame shown at ms: the last one whose presentation time is at or before it. A time
    // before the first frame gives the first frame; one past the end, the last. The frame goes
    // into image, which keeps its buffer when it fits. False, with image unchanged, when no
    // frame can be read or converted.
    bool frameAt(double ms, cv::Mat& image);
    // The presentation time of the frame that frameAt last gave.
    double shownMs() const { return shownTime; }

    // The picture of frame index, as a run from the start counts frames, into picture; or,
    // where keyframeFrom > 0 and the keyframe before index lies that many frames or more before
    // it, the keyframe's. Frames are found by seeking where the video allows that exactly (see
    // whyNotSplittable and seekToFrame), else by reading on, from the start when they lie
    // behind. Returns the index of the picture given; -1 with the reason when there is none.
    long long pictureAt(long long index, long long keyframeFrom, Picture& picture,
                        std::string& error);
    // Whether the last pictureAt failed because the video had ended.
    bool atEnd() const { return indexEnded; }
    const VideoSource& video() const { return source; }

private:
    bool seekTo(double ms);
    // Decodes on until the next picture would come after ms.
    void readOn(double ms);
    bool nextPicture(Picture& picture);
    bool reopen();
    // Seeks for index; the index of the picture it gave, or -1 when the reading is to go on
    // from where it is (seeking is then given up where it could not be done exactly).
    long long seekNear(long long index, long long keyframeFrom, Picture& picture);
    std::string readFromStart();

    std::string videoPath;
    VideoSource source;
    PictureConverter converter;
    // The last picture at or before the last time asked for, and the one after it when it has
    // been decoded already.
    Picture shown;
    double shownTime = 0.0;
    bool hasShown = false;
    Picture ahead;
    bool hasAhead = false;
    bool ended = false;

    // For pictureAt: whether frames are sought by index, how many it reads on through rather
    // than seek, and the index of the picture the source gives next; -1 after frameAt has
    // moved it, when that is not known.
    bool seeksByIndex = false;
    long long readOnFrames = 1;
    long long nextIndex = 0;
    bool indexEnded = false;
};

}  // namespace pelmora
