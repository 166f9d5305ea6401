#pragma once

#include <opencv2/core.hpp>
#include <string>

#include "PictureConverter.h"
#include "VideoSource.h"

namespace pelmora {

// The frames of one video at the times asked for, in any order, with the bytes a run reads at
// those moments: the same source and conversion. Times are milliseconds of presentation time
// from the stream's start. Asked for a time a little after the last one, it decodes on from
// where it is; asked for any other, it seeks to the keyframe before it and decodes on from
// there.
class FrameSeeker {
public:
    // False, with the reason, when the file does not open as a video.
    bool open(const std::string& path, std::string& reason);
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

private:
    bool seekTo(double ms);
    // Decodes on until the next picture would come after ms.
    void readOn(double ms);
    bool nextPicture(Picture& picture);
    bool reopen();

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
};

}  // namespace pelmora
