#pragma once

// What the clip writer's parts share: FFmpeg's objects with their owners, the sink one clip's
// packets go into, and the ways of cutting a clip.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "AvOwners.h"
#include "ClipSource.h"
#include "OutputFile.h"
#include "VideoFile.h"
#include "VideoSource.h"

namespace pelmora {

int64_t packetTime(const AVPacket& packet);
// Whether a packet shown from time (in base) for its duration is still shown at keyTime (in
// the video's time base): a subtitle line that went up before a clip's first picture and stays
// up into it.
bool shownOnAt(const AVPacket& packet, int64_t time, AVRational base, int64_t keyTime,
               AVRational videoBase);
bool isSubtitle(const ClipSource& source, int stream);
// The stream's decoder, opened so that a picture cut short starts black; null with the reason.
Codec openDecoder(const AVStream* stream, std::string& error);

// Where one clip's packets go, from its keyframe on.
class ClipSink {
public:
    virtual ~ClipSink() = default;

    // keyPts: the video packet the clip is fed from, in the video's time base.
    virtual std::string start(const ClipSource& source, int64_t keyPts, long long startMs,
                              long long endMs, const std::string& path) = 0;
    virtual std::string add(const AVPacket& packet) = 0;
    virtual std::string finish() = 0;

    // Whether what failed was the file itself (a full disk, a folder missing), which another
    // way of cutting the clip would not mend, rather than the way it was cut.
    bool fileFailed() const { return file.fileFailed(); }

    // The clip's copy of the video stream, where it is copied; -1 where it is encoded.
    virtual int videoOut() const { return -1; }

    long long firstMs = -1;
    long long lastMs = -1;

protected:
    // The packet's time, or AV_NOPTS_VALUE for a packet the clip leaves out: one of a stream it
    // does not keep, or one without a time.
    int64_t keptTime(const AVPacket& packet) const {
        const int index = packet.stream_index;
        if (index < 0 || index >= static_cast<int>(streams.size()) || streams[index] < 0) {
            return AV_NOPTS_VALUE;
        }
        return packetTime(packet);
    }

    std::vector<int> streams;  // the output stream of each input stream, or -1

    // The clip's file, at its own name: the clip writer places it once it is checked.
    std::string openOutput(const char* formatName, const std::string& path) {
        return file.open(formatName, path, Placing::asNamed);
    }

    void noteVideo(long long ms) {
        firstMs = firstMs < 0 || ms < firstMs ? ms : firstMs;
        lastMs = ms > lastMs ? ms : lastMs;
    }

    // Moves a subtitle line that went up before the clip's first picture to that picture, its
    // time on screen shortened by as much: the clip starts with it shown.
    static void startLineAt(AVPacket* packet, int64_t start) {
        if (packet->pts != AV_NOPTS_VALUE && packet->pts < start) {
            packet->duration -= start - packet->pts;
            packet->pts = start;
        }
        if (packet->dts != AV_NOPTS_VALUE && packet->dts < start) {
            packet->dts = start;
        }
    }

    OutputFile file;
};

// One way of cutting clips: copied into a container, or encoded.
struct ClipMethod {
    const AVOutputFormat* copyInto = nullptr;  // null: encoded
    bool ownContainer = false;                 // copyInto is the source's own
    std::string extension;
    std::string container;  // its name for people
};

// The ways a copy is tried, in order: into the source's own container where it says it takes
// every stream, then Matroska where that does; empty where neither does, with the codec
// Matroska refuses in refused.
std::vector<ClipMethod> copyMethods(const std::string& videoPath, const AVFormatContext* input,
                                    std::string& refused);
ClipMethod encodeMethod();

// A sink that copies packets into format (ownContainer: the source's own), or one that encodes
// them as H.264 in MP4, sound copied where MP4 takes it and else as AAC.
std::unique_ptr<ClipSink> makeCopySink(const AVOutputFormat* format, bool ownContainer);
std::unique_ptr<ClipSink> makeEncodeSink();

// Why the copied clip at path cannot be shown to hold the video's pictures as they are: its
// copy of the video (its stream out) does not read as pictures of the video's kind and size, or
// its first picture does not decode. Empty where it does.
std::string copyFault(const std::string& path, const AVStream& video, int out);

}  // namespace pelmora
