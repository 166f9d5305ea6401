#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

#include <memory>
#include <string>
#include <vector>

#include "ContinuedTimes.h"
#include "VideoFile.h"

namespace pelmora {

// Whether clips keep the stream: pictures, sound and subtitles. A cover picture is no moment of
// the video, and is left out.
bool clipKeeps(const AVStream* stream);

// Packets muxers write this far out of time order across streams are still taken as in order,
// as a clip's end already assumes: the packets of its last frame may come this much later.
inline constexpr long long kInterleaveSlackMs = 1000;

// The video as the clip pass reads it: the stream the scan read (see VideoFile) gives the clock
// every time is told in.
// Between the clips it skips ahead by seeking, and it checks that what it read since a seek
// leads up to each clip's first packet as reading from the start would: no packet of any stream
// that the clip keeps lies before the place the seek went to. Where that cannot be shown, the
// clips fed since the seek are to be cut again from further back, and in the end from the start;
// a video that cannot seek is read from the start, as a whole.
//
// The times it gives run on through the whole video, as the scan's stream clock does (see
// ContinuedTimes); a video whose container may start its times again is read from the start.
// Pictures without any time (a raw H.264 stream) are numbered in the order they come, at the
// video's rate, and are read from the start too. A packet the container says is damaged (the
// last of a file cut short) is no part of any clip.
class ClipSource {
public:
    ClipSource() = default;
    ~ClipSource();
    ClipSource(const ClipSource&) = delete;
    ClipSource& operator=(const ClipSource&) = delete;

    std::string open(const std::string& videoPath);

    AVFormatContext* container() const { return file->container(); }
    int video = -1;
    double originMs = 0.0;  // the video's first timestamp
    long long frameMs = 0;  // one frame's length, 0 when the rate is unknown

    // Whether the video's pictures come without times of their own (see above): a copy cannot
    // tell which picture is shown when, and the decoder's pictures are to be numbered instead.
    bool timeless() const { return numbered; }
    // One picture's length in the video's time base, by which timeless pictures are numbered.
    int64_t frameTicks() const { return pictureTicks; }

    AVRational base(int stream) const { return container()->streams[stream]->time_base; }
    AVRational videoBase() const { return base(video); }
    // A time of stream's in milliseconds from the video's first timestamp.
    long long ms(int64_t time, int stream) const;

    // The next packet; false at the end of the file or at a read error.
    bool read(AVPacket* packet);

    // Moves to shortly before the keyframe at or before startMs where that skips packets; true
    // when it moved, so that what was read before no longer leads up to what comes next.
    bool skipTo(long long startMs);
    // Whether a clip fed from the video packet shown at keyTime can begin now: what was read
    // since the last seek reaches far enough back. False: retreat, then read on.
    bool reachesBack(int64_t keyTime) const;
    // Whether the packet just read is the first of its stream since the last seek and a clip
    // fed from keyTime would keep it: that stream's packets before it may lie before the seek.
    bool firstSinceSeekFrom(const AVPacket& packet, int64_t keyTime) const;
    // Moves further back than the last seek, for a clip of the stretch from startMs fed from
    // keyTime, twice as far each time, and to the start when that is where it gets to.
    void retreat(int64_t keyTime, long long startMs);

private:
    void seekBefore(long long targetMs);
    void rewind();
    void restartTimes();
    // Gives the packet the times the clips go by: numbered, or continued (see above).
    void placeInTime(AVPacket* packet);

    std::unique_ptr<VideoFile> file = std::make_unique<VideoFile>();
    std::string path;
    bool seekable = false;
    bool ended = false;     // the file could not be opened again
    bool checking = false;  // since a seek, rather than since the start
    int retreats = 0;       // since the last seek ahead
    // The start of the last stretch sought ahead for: each is sought once, never again after a
    // retreat from it.
    long long soughtMs = -1;
    long long readMs = 0;             // the latest decode time read since the last move
    long long earliestMs = 0;         // the earliest decode time read since the last seek
    std::vector<int64_t> firstTimes;  // each stream's first packet time since the seek
    bool firstOfStream = false;       // whether the packet just read is one of those

    bool numbered = false;       // the video's pictures are numbered
    int64_t pictureTicks = 1;    // one picture's length in the video's time base
    long long picturesRead = 0;  // since the start, for the numbering
    ContinuedTimes times;        // since the start
};

}  // namespace pelmora
