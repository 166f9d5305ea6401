#pragma once

#include <string>

#include "AvError.h"
#include "AvOwners.h"

namespace pelmora {

// A video file's container, open, and the stream this program takes for its video: the first
// video stream, as the imaging library's capture takes it, at the rate FFmpeg guesses for that
// stream. The scan, the stretches, the tuning window and the clips all open their files here,
// so that they read the same stream at the same rate and word the same failure alike.
class VideoFile {
public:
    VideoFile() = default;
    ~VideoFile();
    VideoFile(const VideoFile&) = delete;
    VideoFile& operator=(const VideoFile&) = delete;

    // Empty when the file opened and holds a video stream; else why not, in FFmpeg's words or
    // ours. With generatedTimes the demuxer of an MPEG program or transport stream, which leave
    // presentation times out of most packets, fills them in, at the cost of reading ahead: for
    // the clips, which copy packets as they are and must place every one of them.
    std::string open(const std::string& path, bool generatedTimes = false);
    void close();

    AVFormatContext* container() const { return format.get(); }
    // The video stream and its index in the container; null and -1 until opened.
    AVStream* video() const;
    int videoIndex() const { return index; }

    // FFmpeg's guess at the video's rate (0 where it has none).
    double frameRate() const;
    // The rotation the video's display matrix asks for: 0, 90, 180 or 270 degrees clockwise.
    int rotation() const;
    // The video stream's first timestamp in milliseconds; 0 where the container gives none.
    double originMs() const;
    // Whether the file can be read out of order.
    bool seekable() const;
    // When the recording was made, as the container's creation_time says it (ISO 8601, UTC),
    // else as its video stream's; empty where neither says.
    std::string creationTime() const;

private:
    Input format;
    int index = -1;
};

// Why the file at path cannot be opened and read from its start a second time, as a pipe, a
// socket or a terminal cannot, whose bytes are gone once read; empty where it can. Paths that
// are not files (a network address, say) are taken to be readable again.
std::string notReadableAgain(const std::string& path);

}  // namespace pelmora
