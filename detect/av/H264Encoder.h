#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdint>
#include <string>

#include "AvOwners.h"
#include "OutputFile.h"

namespace pelmora {

// H.264's 4:2:0 pictures come in whole pairs of rows and columns: the even size a picture of
// this size is encoded at, an edge repeating its last column or row, so that no picture loses
// any of itself.
int evenSize(int size);
// The even size at most size (and at least 2) that a picture scaled to fit is made.
int evenSizeWithin(int size);

struct H264Settings {
    int width = 0;  // even (see evenSize)
    int height = 0;
    AVRational timeBase{0, 1};
    AVRational frameRate{0, 1};
    AVRational pixelAspect{0, 1};   // 0/1: not known
    int keyframeEvery = 0;          // pictures; 0: the encoder's own choice
    const char* quality = nullptr;  // x264's constant rate factor; null: its default
    // What a packet the encoder leaves without a duration is given, in the time base; 0 leaves
    // it without.
    int64_t pictureDuration = 0;
};

// The one H.264 encoder of every video we make (encoded clips, digests): libx264, fast, the
// same bytes on every run, and no B-frames, so that MP4 needs no edit list that players read
// differently. Its stream is added to the file it is opened for, and what it encodes is written
// there.
class H264Encoder {
public:
    std::string open(OutputFile& file, const H264Settings& settings);
    // A picture of the encoder's size and format to convert into.
    Frame makePicture(std::string& error) const;
    // Encodes picture (null: the end of the stream) and writes every packet that comes out.
    std::string encode(const AVFrame* picture);

    AVCodecContext* context() const { return encoder.get(); }
    int stream() const { return streamIndex; }

private:
    OutputFile* into = nullptr;
    Codec encoder;
    int streamIndex = -1;
    int64_t fill = 0;
};

// Writes every packet encoder has ready into file's stream, rescaled to its time base; a packet
// without a duration is given fillDuration (in the encoder's time base) where that is not 0.
std::string writeEncoded(AVCodecContext* encoder, OutputFile& file, int stream,
                         int64_t fillDuration);

}  // namespace pelmora
