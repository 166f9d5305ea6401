#include "ClipWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

#include "ClipSource.h"
#include "FileOutput.h"
#include "FolderNames.h"
#include "TextFormat.h"
#include "VideoFile.h"
#include "VideoSource.h"

namespace pelmora {

namespace {

constexpr int64_t kAacBitRate = 128000;
constexpr char kStopped[] = "stopped before it was complete";

int64_t packetTime(const AVPacket& packet) {
    return packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
}

// Whether a packet shown from time (in base) for its duration is still shown at keyTime (in
// the video's time base): a subtitle line that went up before a clip's first picture and stays
// up into it.
bool shownOnAt(const AVPacket& packet, int64_t time, AVRational base, int64_t keyTime,
               AVRational videoBase) {
    return packet.duration > 0 &&
           av_compare_ts(time + packet.duration, base, keyTime, videoBase) > 0;
}

bool isSubtitle(const ClipSource& source, int stream) {
    return source.container()->streams[stream]->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE;
}

// Where one clip's packets go, from its keyframe on.
class ClipSink {
public:
    virtual ~ClipSink() {
        if (output != nullptr) {
            avio_closep(&output->pb);
            avformat_free_context(output);
        }
    }

    // keyPts: the video packet the clip is fed from, in the video's time base.
    virtual std::string start(const ClipSource& source, int64_t keyPts, long long startMs,
                              long long endMs, const std::string& path) = 0;
    virtual std::string add(const AVPacket& packet) = 0;
    virtual std::string finish() = 0;

    // Whether what failed was the file itself (a full disk, a folder missing), which another
    // way of cutting the clip would not mend, rather than the way it was cut.
    bool fileFailed() const {
        return storageFailed ||
               (output != nullptr && output->pb != nullptr && output->pb->error < 0);
    }

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

    std::string openOutput(const char* formatName, const std::string& path) {
        const int result = avformat_alloc_output_context2(&output, nullptr, formatName,
                                                          localFileUrl(path).c_str());
        if (result < 0) {
            return avErrorText(result);
        }
        // Clips of the same stretch are the same bytes whenever they are cut, so that a resumed
        // or joined run can be checked against one that ran through.
        output->flags |= AVFMT_FLAG_BITEXACT;
        return std::string();
    }

    std::string writeHeader(const std::string& path) {
        int result = avio_open(&output->pb, localFileUrl(path).c_str(), AVIO_FLAG_WRITE);
        if (result < 0) {
            storageFailed = true;
            return avErrorText(result);
        }
        result = avformat_write_header(output, nullptr);
        return result < 0 ? avErrorText(result) : std::string();
    }

    // Writes a packet already in the output stream's time base.
    std::string write(AVPacket* packet) {
        const int result = av_interleaved_write_frame(output, packet);
        return result < 0 ? avErrorText(result) : std::string();
    }

    std::string writeTrailer() {
        int result = av_write_trailer(output);
        if (output->pb->error < 0) {
            storageFailed = true;
            if (result >= 0) {
                result = output->pb->error;
            }
        }
        const int closed = avio_closep(&output->pb);
        if (closed < 0) {
            storageFailed = true;
        }
        if (result >= 0) {
            result = closed;
        }
        return result < 0 ? avErrorText(result) : std::string();
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

    AVFormatContext* output = nullptr;
    bool storageFailed = false;
};

bool takes(const AVOutputFormat* format, const AVFormatContext* input, bool unknownTakes,
           std::string* refused) {
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        if (!clipKeeps(input->streams[i])) {
            continue;
        }
        const AVCodecID codec = input->streams[i]->codecpar->codec_id;
        int answer = avformat_query_codec(format, codec, FF_COMPLIANCE_NORMAL);
        // Matroska also holds what has a Windows codec tag, as Windows' own files would.
        const AVMediaType type = input->streams[i]->codecpar->codec_type;
        const AVCodecTag* const riff[] = {type == AVMEDIA_TYPE_VIDEO
                                              ? avformat_get_riff_video_tags()
                                              : avformat_get_riff_audio_tags(),
                                          nullptr};
        if (answer == 0 && unknownTakes && type != AVMEDIA_TYPE_SUBTITLE &&
            av_codec_get_tag(riff, codec) != 0) {
            answer = 1;
        }
        if (answer == 0 || (answer < 0 && !unknownTakes)) {
            if (refused != nullptr) {
                *refused = avcodec_get_name(codec);
            }
            return false;
        }
    }
    return true;
}

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
                                    std::string& refused) {
    std::vector<ClipMethod> methods;
    const std::string::size_type dot = videoPath.rfind('.');
    const std::string::size_type slash = videoPath.rfind('/');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const AVOutputFormat* matroska = av_guess_format("matroska", nullptr, nullptr);
    const AVOutputFormat* own =
        hasExtension ? av_guess_format(nullptr, videoPath.c_str(), nullptr) : nullptr;
    if (own != nullptr && own != matroska && (own->flags & AVFMT_NOFILE) == 0 &&
        takes(own, input, false, nullptr)) {
        methods.push_back({own, true, videoPath.substr(dot), own->name});
    }
    if (matroska != nullptr && takes(matroska, input, true, &refused)) {
        methods.push_back({matroska, own == matroska, ".mkv", "Matroska"});
    }
    return methods;
}

ClipMethod encodeMethod() {
    return {nullptr, false, ".mp4", "MP4"};
}

// The codec tag a copied stream keeps. Raw pictures are told apart by theirs alone (I420 in an
// AVI), and keep the source's in its own container, else one after their pixel format. Other
// codecs' tags mean different things in different containers, and each container picks its own.
uint32_t copiedTag(const AVOutputFormat* format, const AVCodecParameters& in, bool ownContainer) {
    if (in.codec_id != AV_CODEC_ID_RAWVIDEO) {
        return 0;
    }
    uint32_t tag = ownContainer ? in.codec_tag : 0;
    if (tag == 0) {
        tag = avcodec_pix_fmt_to_codec_tag(static_cast<AVPixelFormat>(in.format));
    }
    if (tag == 0 || format->codec_tag == nullptr ||
        av_codec_get_id(format->codec_tag, tag) != in.codec_id) {
        return 0;
    }
    return tag;
}

class CopySink : public ClipSink {
public:
    // ownContainer: format is the source's own.
    CopySink(const AVOutputFormat* format, bool ownContainer)
        : format(format), ownContainer(ownContainer) {}

    std::string start(const ClipSource& from, int64_t keyPts, long long, long long endMs,
                      const std::string& path) override {
        source = &from;
        keyTime = keyPts;
        keyMs = from.ms(keyPts, from.video);
        lastWantedMs = endMs;
        std::string error = openOutput(format->name, path);
        if (!error.empty()) {
            return error;
        }
        const AVFormatContext* input = from.container();
        for (unsigned i = 0; i < input->nb_streams; ++i) {
            const AVStream* in = input->streams[i];
            if (!clipKeeps(in)) {
                streams.push_back(-1);
                offsets.push_back(0);
                continue;
            }
            AVStream* out = avformat_new_stream(output, nullptr);
            if (out == nullptr) {
                return avErrorText(AVERROR(ENOMEM));
            }
            const int result = avcodec_parameters_copy(out->codecpar, in->codecpar);
            if (result < 0) {
                return avErrorText(result);
            }
            out->codecpar->codec_tag = copiedTag(format, *in->codecpar, ownContainer);
            out->time_base = in->time_base;
            out->disposition = in->disposition;
            av_dict_copy(&out->metadata, in->metadata, 0);
            streams.push_back(out->index);
            offsets.push_back(av_rescale_q(keyPts, from.videoBase(), in->time_base));
        }
        return writeHeader(path);
    }

    std::string add(const AVPacket& packet) override {
        const int index = packet.stream_index;
        const int64_t time = keptTime(packet);
        if (time == AV_NOPTS_VALUE) {
            return std::string();
        }
        const AVRational base = source->base(index);
        const long long ms = source->ms(time, index);
        if (index == source->video) {
            // Every frame shown from the keyframe to the stretch's end, and every frame those
            // are predicted from, which always comes earlier in the file.
            // Past the end, the frames shown before the last one taken still come, so that the
            // clip has no gap: they are predicted from frames it already holds.
            const int64_t decodeTime = packet.dts != AV_NOPTS_VALUE ? packet.dts : time;
            const bool fillsGap = lastMs >= 0 && ms < lastMs;
            if (ms < keyMs || (source->ms(decodeTime, index) > lastWantedMs && !fillsGap)) {
                return std::string();
            }
            noteVideo(ms);
        } else if (ms >= std::max(lastWantedMs, lastMs) + source->frameMs) {
            return std::string();
        } else if (av_compare_ts(time, base, keyTime, source->videoBase()) < 0 &&
                   !(isSubtitle(*source, index) &&
                     shownOnAt(packet, time, base, keyTime, source->videoBase()))) {
            return std::string();
        }
        AVPacket* copy = av_packet_clone(&packet);
        if (copy == nullptr) {
            return avErrorText(AVERROR(ENOMEM));
        }
        if (isSubtitle(*source, index)) {
            startLineAt(copy, av_rescale_q(keyTime, source->videoBase(), base));
        }
        if (copy->pts != AV_NOPTS_VALUE) {
            copy->pts -= offsets[index];
        }
        if (copy->dts != AV_NOPTS_VALUE) {
            copy->dts -= offsets[index];
        }
        copy->stream_index = streams[index];
        copy->pos = -1;
        av_packet_rescale_ts(copy, base, output->streams[streams[index]]->time_base);
        std::string error = write(copy);
        av_packet_free(&copy);
        return error;
    }

    std::string finish() override { return writeTrailer(); }

    // The clip's copy of the video stream.
    int videoOut() const { return streams[source->video]; }

private:
    const AVOutputFormat* format;
    const bool ownContainer;
    const ClipSource* source = nullptr;
    int64_t keyTime = 0;
    long long keyMs = 0;
    long long lastWantedMs = 0;
    std::vector<int64_t> offsets;
};

struct CodecFree {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
using Codec = std::unique_ptr<AVCodecContext, CodecFree>;

struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using Frame = std::unique_ptr<AVFrame, FrameFree>;

struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using Packet = std::unique_ptr<AVPacket, PacketFree>;

Codec openDecoder(const AVStream* stream, std::string& error) {
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (codec == nullptr) {
        error = std::string("no decoder for ") + avcodec_get_name(stream->codecpar->codec_id);
        return nullptr;
    }
    Codec context(avcodec_alloc_context3(codec));
    int result = avcodec_parameters_to_context(context.get(), stream->codecpar);
    context->pkt_timebase = stream->time_base;
    // An encoded clip is the same file each time it is cut, a picture cut short too.
    startPicturesBlack(context.get());
    if (result >= 0) {
        result = avcodec_open2(context.get(), codec, nullptr);
    }
    if (result < 0) {
        error = avErrorText(result);
        return nullptr;
    }
    return context;
}

// One sample of any common layout as a float.
float sampleAt(const AVFrame& frame, int channel, int index, int channels) {
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const uint8_t* plane = frame.extended_data[planar ? channel : 0];
    const int at = planar ? index : index * channels + channel;
    switch (av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_U8:
            return (plane[at] - 128) / 128.0f;
        case AV_SAMPLE_FMT_S16:
            return reinterpret_cast<const int16_t*>(plane)[at] / 32768.0f;
        case AV_SAMPLE_FMT_S32:
            return static_cast<float>(reinterpret_cast<const int32_t*>(plane)[at] / 2147483648.0);
        case AV_SAMPLE_FMT_FLT:
            return reinterpret_cast<const float*>(plane)[at];
        case AV_SAMPLE_FMT_DBL:
            return static_cast<float>(reinterpret_cast<const double*>(plane)[at]);
        default:
            return 0.0f;
    }
}

struct FifoFree {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};

// Audio MP4 does not take, as AAC: decoded, gathered into the encoder's frame size, encoded.
struct AacTrack {
    Codec decoder;
    Codec encoder;
    std::unique_ptr<AVAudioFifo, FifoFree> fifo;
    int64_t nextPts = AV_NOPTS_VALUE;  // in samples from the clip's start
    int outIndex = -1;
};

// H.264's 4:2:0 pictures come in whole pairs of rows and columns: an odd size is made even by
// an edge that repeats the picture's last column or row, so that no picture loses any of itself.
int evenSize(int size) {
    return std::max(2, size + (size & 1));
}

class EncodeSink : public ClipSink {
public:
    std::string start(const ClipSource& from, int64_t keyPts, long long startMs, long long endMs,
                      const std::string& path) override {
        source = &from;
        keyTime = keyPts;
        firstWantedMs = startMs;
        lastWantedMs = endMs;
        zeroMs = startMs;
        std::string error = openOutput("mp4", path);
        if (!error.empty()) {
            return error;
        }
        const AVFormatContext* input = from.container();
        streams.assign(input->nb_streams, -1);
        tracks.resize(input->nb_streams);
        const AVStream* in = input->streams[from.video];
        decoder = openDecoder(in, error);
        if (!decoder) {
            return error;
        }
        const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
        if (h264 == nullptr) {
            return "no H.264 encoder (libx264) in this FFmpeg";
        }
        encoder.reset(avcodec_alloc_context3(h264));
        pictureWidth = std::max(1, decoder->width);
        pictureHeight = std::max(1, decoder->height);
        encoder->width = evenSize(pictureWidth);
        encoder->height = evenSize(pictureHeight);
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        encoder->flags |= AV_CODEC_FLAG_BITEXACT;
        encoder->sample_aspect_ratio = decoder->sample_aspect_ratio;
        encoder->time_base = in->time_base;
        encoder->framerate = in->avg_frame_rate;
        if ((output->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
            encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        // Frames in their own order keep MP4 free of edit lists that players read differently.
        encoder->max_b_frames = 0;
        av_opt_set(encoder->priv_data, "preset", "veryfast", 0);
        int result = avcodec_open2(encoder.get(), h264, nullptr);
        if (result < 0) {
            return avErrorText(result);
        }
        AVStream* out = avformat_new_stream(output, nullptr);
        if (out == nullptr) {
            return avErrorText(AVERROR(ENOMEM));
        }
        avcodec_parameters_from_context(out->codecpar, encoder.get());
        out->time_base = encoder->time_base;
        streams[from.video] = out->index;
        for (unsigned i = 0; i < input->nb_streams; ++i) {
            const AVStream* other = input->streams[i];
            const AVMediaType type = other->codecpar->codec_type;
            if (static_cast<int>(i) == from.video ||
                (type != AVMEDIA_TYPE_AUDIO && type != AVMEDIA_TYPE_SUBTITLE)) {
                continue;
            }
            const bool copies = avformat_query_codec(output->oformat, other->codecpar->codec_id,
                                                     FF_COMPLIANCE_NORMAL) == 1;
            if (!copies && type == AVMEDIA_TYPE_SUBTITLE) {
                continue;  // MP4 takes text subtitles only as its own kind
            }
            AVStream* copy = avformat_new_stream(output, nullptr);
            if (copy == nullptr) {
                return avErrorText(AVERROR(ENOMEM));
            }
            av_dict_copy(&copy->metadata, other->metadata, 0);
            streams[i] = copy->index;
            if (copies) {
                avcodec_parameters_copy(copy->codecpar, other->codecpar);
                copy->codecpar->codec_tag = 0;
                copy->time_base = other->time_base;
                continue;
            }
            error = openAac(other, copy, tracks[i]);
            if (!error.empty()) {
                return error;
            }
        }
        converted.reset(av_frame_alloc());
        converted->format = AV_PIX_FMT_YUV420P;
        converted->width = encoder->width;
        converted->height = encoder->height;
        result = av_frame_get_buffer(converted.get(), 0);
        if (result < 0) {
            return avErrorText(result);
        }
        return writeHeader(path);
    }

    ~EncodeSink() override { sws_freeContext(scaler); }

    std::string add(const AVPacket& packet) override {
        const int index = packet.stream_index;
        const int64_t time = keptTime(packet);
        if (time == AV_NOPTS_VALUE) {
            return std::string();
        }
        if (index == source->video) {
            const int64_t decodeTime = packet.dts != AV_NOPTS_VALUE ? packet.dts : time;
            if (source->ms(decodeTime, index) > lastWantedMs) {
                return std::string();
            }
            const int result = avcodec_send_packet(decoder.get(), &packet);
            // A damaged packet costs its frame only.
            return result < 0 && result != AVERROR_INVALIDDATA ? avErrorText(result) : drainVideo();
        }
        const long long ms = source->ms(time, index);
        const AVRational base = source->base(index);
        const bool line = isSubtitle(*source, index);
        if (ms >= lastWantedMs + source->frameMs ||
            (ms < firstWantedMs && !(line && packet.duration > 0 &&
                                     source->ms(time + packet.duration, index) > firstWantedMs))) {
            return std::string();
        }
        const int64_t offset = av_rescale_q(zeroMs, AVRational{1, 1000}, base) +
                               std::llround(source->originMs / 1000.0 / av_q2d(base));
        if (tracks[index].encoder) {
            return addAac(packet, offset, tracks[index]);
        }
        Packet copy(av_packet_clone(&packet));
        if (line) {
            startLineAt(copy.get(), offset);
        }
        copy->pts = copy->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : copy->pts - offset;
        copy->dts = copy->dts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : copy->dts - offset;
        copy->stream_index = streams[index];
        copy->pos = -1;
        av_packet_rescale_ts(copy.get(), base, output->streams[streams[index]]->time_base);
        return write(copy.get());
    }

    std::string finish() override {
        avcodec_send_packet(decoder.get(), nullptr);
        std::string error = drainVideo();
        if (error.empty()) {
            avcodec_send_frame(encoder.get(), nullptr);
            error = drainEncoder(encoder.get(), streams[source->video]);
        }
        for (AacTrack& track : tracks) {
            if (error.empty() && track.encoder) {
                error = flushAac(track);
            }
        }
        if (!error.empty()) {
            return error;
        }
        if (firstMs < 0) {
            return "no frame of the video falls in it";
        }
        return writeTrailer();
    }

private:
    std::string openAac(const AVStream* in, AVStream* out, AacTrack& track) {
        std::string error;
        track.decoder = openDecoder(in, error);
        if (!track.decoder) {
            return error;
        }
        const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (aac == nullptr) {
            return "no AAC encoder in this FFmpeg";
        }
        track.encoder.reset(avcodec_alloc_context3(aac));
        track.encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
        track.encoder->sample_rate = track.decoder->sample_rate;
        // A count of channels without their places is the usual layout for that many.
        if (track.decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
            av_channel_layout_default(&track.encoder->ch_layout,
                                      track.decoder->ch_layout.nb_channels);
        } else {
            av_channel_layout_copy(&track.encoder->ch_layout, &track.decoder->ch_layout);
        }
        // AAC carries at most six bits a sample and channel.
        track.encoder->bit_rate =
            std::min<int64_t>(kAacBitRate, int64_t{2} * track.decoder->sample_rate *
                                               track.decoder->ch_layout.nb_channels);
        track.encoder->time_base = AVRational{1, track.decoder->sample_rate};
        track.encoder->flags |= AV_CODEC_FLAG_BITEXACT;
        if ((output->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
            track.encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        const int result = avcodec_open2(track.encoder.get(), aac, nullptr);
        if (result < 0) {
            return avErrorText(result);
        }
        avcodec_parameters_from_context(out->codecpar, track.encoder.get());
        out->time_base = track.encoder->time_base;
        track.outIndex = out->index;
        track.fifo.reset(av_audio_fifo_alloc(
            AV_SAMPLE_FMT_FLTP, track.encoder->ch_layout.nb_channels, track.encoder->frame_size));
        return !track.fifo ? avErrorText(AVERROR(ENOMEM)) : std::string();
    }

    std::string addAac(const AVPacket& packet, int64_t offset, AacTrack& track) {
        if (avcodec_send_packet(track.decoder.get(), &packet) < 0) {
            return std::string();
        }
        Frame frame(av_frame_alloc());
        const int channels = track.encoder->ch_layout.nb_channels;
        while (avcodec_receive_frame(track.decoder.get(), frame.get()) >= 0) {
            if (track.nextPts == AV_NOPTS_VALUE && frame->pts != AV_NOPTS_VALUE) {
                track.nextPts = av_rescale_q(frame->pts - offset, track.decoder->pkt_timebase,
                                             track.encoder->time_base);
            }
            std::vector<std::vector<float>> planes(
                channels, std::vector<float>(static_cast<std::size_t>(frame->nb_samples)));
            std::vector<void*> pointers;
            for (int c = 0; c < channels; ++c) {
                for (int i = 0; i < frame->nb_samples; ++i) {
                    planes[c][i] = sampleAt(*frame, c, i, channels);
                }
                pointers.push_back(planes[c].data());
            }
            av_audio_fifo_write(track.fifo.get(), pointers.data(), frame->nb_samples);
            av_frame_unref(frame.get());
        }
        while (av_audio_fifo_size(track.fifo.get()) >= track.encoder->frame_size) {
            const std::string error = encodeAac(track, track.encoder->frame_size);
            if (!error.empty()) {
                return error;
            }
        }
        return std::string();
    }

    std::string encodeAac(AacTrack& track, int samples) {
        Frame frame(av_frame_alloc());
        frame->nb_samples = track.encoder->frame_size;
        frame->format = AV_SAMPLE_FMT_FLTP;
        frame->sample_rate = track.encoder->sample_rate;
        av_channel_layout_copy(&frame->ch_layout, &track.encoder->ch_layout);
        int result = av_frame_get_buffer(frame.get(), 0);
        if (result < 0) {
            return avErrorText(result);
        }
        av_samples_set_silence(frame->extended_data, 0, frame->nb_samples,
                               frame->ch_layout.nb_channels, AV_SAMPLE_FMT_FLTP);
        av_audio_fifo_read(track.fifo.get(), reinterpret_cast<void**>(frame->extended_data),
                           samples);
        frame->pts = track.nextPts == AV_NOPTS_VALUE ? 0 : track.nextPts;
        track.nextPts = frame->pts + samples;
        result = avcodec_send_frame(track.encoder.get(), frame.get());
        return result < 0 ? avErrorText(result) : drainEncoder(track.encoder.get(), track.outIndex);
    }

    std::string flushAac(AacTrack& track) {
        const int left = av_audio_fifo_size(track.fifo.get());
        if (left > 0) {
            const std::string error = encodeAac(track, left);
            if (!error.empty()) {
                return error;
            }
        }
        avcodec_send_frame(track.encoder.get(), nullptr);
        return drainEncoder(track.encoder.get(), track.outIndex);
    }

    // The decoded frames of the stretch, from its first to its last, encoded.
    std::string drainVideo() {
        Frame frame(av_frame_alloc());
        while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
            // Pictures without times of their own come in their order from the keyframe.
            int64_t time = source->timeless() ? keyTime + picturesOut++ * source->frameTicks()
                                              : frame->best_effort_timestamp;
            // A picture given the time of the one before (as a program stream's packets can
            // be) is still a picture of its own, and comes as soon after it as can be told.
            if (time != AV_NOPTS_VALUE && lastTime != AV_NOPTS_VALUE && time <= lastTime) {
                time = lastTime + 1;
            }
            const long long ms = time == AV_NOPTS_VALUE ? -1 : source->ms(time, source->video);
            if (ms >= firstWantedMs && ms <= lastWantedMs) {
                if (firstMs < 0) {
                    firstPts = time;
                }
                lastTime = time;
                noteVideo(ms);
                std::string error = encodeFrame(*frame, time - firstPts);
                if (!error.empty()) {
                    return error;
                }
            }
            av_frame_unref(frame.get());
        }
        return std::string();
    }

    std::string encodeFrame(const AVFrame& frame, int64_t pts) {
        scaler = sws_getCachedContext(scaler, frame.width, frame.height,
                                      static_cast<AVPixelFormat>(frame.format), pictureWidth,
                                      pictureHeight, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
                                      nullptr, nullptr);
        if (scaler == nullptr) {
            return "cannot convert the frames for the encoder";
        }
        int result = av_frame_make_writable(converted.get());
        if (result < 0) {
            return avErrorText(result);
        }
        sws_scale(scaler, frame.data, frame.linesize, 0, frame.height, converted->data,
                  converted->linesize);
        // The edge repeats the last column and row. Its colour is already the pixels' beside it,
        // whose pairs it completes; only its brightness is to be copied.
        uint8_t* luma = converted->data[0];
        const int stride = converted->linesize[0];
        if (pictureWidth < converted->width) {
            for (int row = 0; row < pictureHeight; ++row) {
                luma[row * stride + pictureWidth] = luma[row * stride + pictureWidth - 1];
            }
        }
        if (pictureHeight < converted->height) {
            std::memcpy(luma + pictureHeight * stride, luma + (pictureHeight - 1) * stride,
                        static_cast<std::size_t>(converted->width));
        }
        converted->pts = pts;
        result = avcodec_send_frame(encoder.get(), converted.get());
        return result < 0 ? avErrorText(result)
                          : drainEncoder(encoder.get(), streams[source->video]);
    }

    std::string drainEncoder(AVCodecContext* codec, int outIndex) {
        Packet packet(av_packet_alloc());
        while (avcodec_receive_packet(codec, packet.get()) >= 0) {
            packet->stream_index = outIndex;
            if (packet->duration == 0 && codec == encoder.get() && source->frameMs > 0) {
                packet->duration =
                    av_rescale_q(source->frameMs, AVRational{1, 1000}, codec->time_base);
            }
            av_packet_rescale_ts(packet.get(), codec->time_base,
                                 output->streams[outIndex]->time_base);
            const std::string error = write(packet.get());
            if (!error.empty()) {
                return error;
            }
        }
        return std::string();
    }

    const ClipSource* source = nullptr;
    int64_t keyTime = 0;
    int64_t lastTime = AV_NOPTS_VALUE;  // of the last picture encoded
    long long picturesOut = 0;          // decoded since the keyframe, for a timeless video
    int pictureWidth = 0;               // of the video's pictures, within the encoder's
    int pictureHeight = 0;
    long long firstWantedMs = 0;
    long long lastWantedMs = 0;
    long long zeroMs = 0;
    int64_t firstPts = 0;
    Codec decoder;
    Codec encoder;
    Frame converted;
    SwsContext* scaler = nullptr;
    std::vector<AacTrack> tracks;
};

struct InputFree {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};

// The packets one picture may take to come out of a decoder that holds some back.
constexpr int kMostPacketsToAPicture = 64;

std::string pictureText(int format, int width, int height) {
    const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(format));
    return formatText("%s %dx%d", name != nullptr ? name : "unknown", width, height);
}

// Why the copied clip at path cannot be shown to hold the video's pictures as they are: its
// copy of the video (its stream out) does not read as pictures of the video's kind and size, or
// its first picture does not decode. Empty where it does.
std::string copyFault(const std::string& path, const AVStream& video, int out) {
    AVFormatContext* opened = nullptr;
    int result = avformat_open_input(&opened, localFileUrl(path).c_str(), nullptr, nullptr);
    if (result < 0) {
        return "it does not open again: " + avErrorText(result);
    }
    const std::unique_ptr<AVFormatContext, InputFree> clip(opened);
    result = avformat_find_stream_info(clip.get(), nullptr);
    if (result < 0) {
        return "it does not open again: " + avErrorText(result);
    }
    if (out < 0 || out >= static_cast<int>(clip->nb_streams)) {
        return "its pictures are missing";
    }
    const AVStream* copy = clip->streams[out];
    const AVCodecParameters& want = *video.codecpar;
    const AVCodecParameters& got = *copy->codecpar;
    const std::string wanted = pictureText(want.format, want.width, want.height);
    if (got.codec_id != want.codec_id || got.width != want.width || got.height != want.height ||
        (got.format >= 0 && want.format >= 0 && got.format != want.format)) {
        return "its pictures read as " + pictureText(got.format, got.width, got.height) +
               ", the video's as " + wanted;
    }
    std::string error;
    const Codec decoder = openDecoder(copy, error);
    if (!decoder) {
        return error;
    }
    const Packet packet(av_packet_alloc());
    const Frame frame(av_frame_alloc());
    for (int sent = 0; sent < kMostPacketsToAPicture;) {
        const bool atEnd = av_read_frame(clip.get(), packet.get()) < 0;
        if (!atEnd && packet->stream_index != out) {
            av_packet_unref(packet.get());
            continue;
        }
        ++sent;
        result = avcodec_send_packet(decoder.get(), atEnd ? nullptr : packet.get());
        av_packet_unref(packet.get());
        if (result < 0 && result != AVERROR_EOF) {
            return "its first picture does not decode: " + avErrorText(result);
        }
        result = avcodec_receive_frame(decoder.get(), frame.get());
        if (result >= 0) {
            if (want.format >= 0 && frame->format != want.format) {
                return "its first picture decodes as " +
                       pictureText(frame->format, frame->width, frame->height) +
                       ", the video's as " + wanted;
            }
            return std::string();
        }
        if (result != AVERROR(EAGAIN) || atEnd) {
            return "its first picture does not decode: " + avErrorText(result);
        }
    }
    return "no picture decodes from its first packets";
}

// A clip being written: where it stands in the pass, and its sink.
struct Cut {
    std::size_t index = 0;
    std::string path;
    std::string temporary;
    std::unique_ptr<ClipSink> sink;
    int64_t keyTime = 0;  // of the video packet it is fed from
};

// What one pass over the video made of its stretches.
struct ClipPass {
    std::vector<ClipOutcome> clips;
    // Each clip that failed for the way it was cut rather than for its file, which the next
    // way may save.
    std::vector<bool> otherWay;
    bool stopped = false;
};

}  // namespace

namespace {

// Cuts the stretches from the source, opened and read from its start, in one pass: each clip
// named after its first event with the method's extension, written under a temporary name and
// renamed once complete.
ClipPass cutClips(ClipSource& source, const ClipRequest& request,
                  const std::vector<ClipStretch>& stretches, const ClipMethod& method) {
    ClipPass pass;
    pass.otherWay.assign(stretches.size(), false);
    for (const ClipStretch& stretch : stretches) {
        ClipOutcome outcome;
        outcome.events = stretch.events;
        outcome.file =
            clipFileName(stretch.events.empty() ? 0 : stretch.events.front(), method.extension);
        outcome.encoded = method.copyInto == nullptr;
        pass.clips.push_back(outcome);
    }
    // A clip given up leaves nothing behind: it is lost, or it is cut again.
    const auto drop = [](Cut& cut) {
        cut.sink.reset();
        ::unlink(cut.temporary.c_str());
    };
    const auto lose = [&pass, &drop](Cut& cut, const std::string& reason) {
        pass.clips[cut.index].error = reason;
        pass.otherWay[cut.index] = cut.sink && !cut.sink->fileFailed();
        drop(cut);
    };
    std::vector<Cut> cuts;
    for (std::size_t i = 0; i < pass.clips.size(); ++i) {
        const std::string path = joinPath(request.folder, pass.clips[i].file);
        cuts.push_back({i, path, temporaryPath(path), nullptr});
    }
    std::size_t pending = 0;
    std::vector<std::size_t> active;
    // The packets since the video's last keyframe, from which a clip that starts here is fed.
    std::vector<Packet> group;
    // The first clip to cut again, from further back, when what was read since a seek does not
    // reach back far enough for it; none otherwise.
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::size_t again = kNone;
    const auto begin = [&](Cut& cut) {
        const ClipStretch& stretch = stretches[cut.index];
        // A clip lost since a seek that is cut again may be saved this time.
        pass.clips[cut.index].error.clear();
        pass.otherWay[cut.index] = false;
        cut.keyTime = 0;
        for (const Packet& packet : group) {
            if (packet->stream_index == source.video) {
                cut.keyTime = packetTime(*packet);
                break;
            }
        }
        if (!source.reachesBack(cut.keyTime)) {
            again = cut.index;
            return;
        }
        if (method.copyInto != nullptr) {
            cut.sink = std::make_unique<CopySink>(method.copyInto, method.ownContainer);
        } else {
            cut.sink = std::make_unique<EncodeSink>();
        }
        std::string error =
            cut.sink->start(source, cut.keyTime, stretch.startMs, stretch.endMs, cut.temporary);
        for (std::size_t i = 0; error.empty() && i < group.size(); ++i) {
            error = cut.sink->add(*group[i]);
        }
        if (!error.empty()) {
            lose(cut, error);
            return;
        }
        active.push_back(cut.index);
    };
    const auto beginNext = [&] { begin(cuts[pending++]); };
    const auto end = [&](Cut& cut) {
        ClipOutcome& outcome = pass.clips[cut.index];
        std::string error = cut.sink->finish();
        if (error.empty() && cut.sink->firstMs < 0) {
            error = "no frame of the video falls in it";
        }
        if (error.empty() && method.copyInto != nullptr) {
            // Copied packets can make a file that looks whole and shows nothing right (raw
            // pictures whose kind the container lost, say): it is shown to decode first.
            error = copyFault(cut.temporary, *source.container()->streams[source.video],
                              static_cast<const CopySink&>(*cut.sink).videoOut());
        }
        if (!error.empty()) {
            lose(cut, error);
            return;
        }
        if (::rename(cut.temporary.c_str(), cut.path.c_str()) != 0) {
            pass.clips[cut.index].error = systemError(errno);
            drop(cut);
            return;
        }
        outcome.saved = true;
        outcome.startMs = cut.sink->firstMs;
        outcome.endMs = cut.sink->lastMs;
        cut.sink.reset();
    };

    Packet packet(av_packet_alloc());
    while (pending < cuts.size() || !active.empty() || again != kNone) {
        if (request.stopRequested && request.stopRequested()) {
            for (const std::size_t index : active) {
                lose(cuts[index], kStopped);
            }
            active.clear();
            for (pending = std::min(pending, again); pending < cuts.size(); ++pending) {
                pass.clips[pending].error = kStopped;
            }
            pass.stopped = true;
            break;
        }
        if (again != kNone) {
            // The clips begun since the seek are all still being cut, the first of them first.
            pending = active.empty() ? again : std::min(again, active.front());
            for (const std::size_t index : active) {
                drop(cuts[index]);
            }
            active.clear();
            again = kNone;
            group.clear();
            source.retreat(cuts[pending].keyTime, stretches[pending].startMs);
        } else if (active.empty() && pending < cuts.size() &&
                   source.skipTo(stretches[pending].startMs)) {
            group.clear();
        }
        // A read error is where the file ends for the clips: they cover what came before it.
        if (!source.read(packet.get())) {
            // Stretches not begun yet start in the video's last group, and the others end.
            while (pending < cuts.size() && again == kNone) {
                beginNext();
            }
            if (again != kNone) {
                continue;
            }
            for (const std::size_t index : active) {
                end(cuts[index]);
            }
            active.clear();
            break;
        }
        if (!active.empty() && source.firstSinceSeekFrom(*packet, cuts[active.front()].keyTime)) {
            again = active.front();
            av_packet_unref(packet.get());
            continue;
        }
        const bool video = packet->stream_index == source.video;
        const int64_t time = packetTime(*packet);
        const long long ms = time == AV_NOPTS_VALUE ? -1 : source.ms(time, packet->stream_index);
        std::size_t alreadyActive = active.size();
        if (pending < cuts.size()) {
            if (video && (packet->flags & AV_PKT_FLAG_KEY) != 0 && time != AV_NOPTS_VALUE) {
                // A stretch that starts before this keyframe starts in the group before it.
                const bool groupHasVideo = std::any_of(
                    group.begin(), group.end(),
                    [&source](const Packet& held) { return held->stream_index == source.video; });
                while (groupHasVideo && pending < cuts.size() && again == kNone &&
                       stretches[pending].startMs < ms) {
                    beginNext();
                }
                alreadyActive = active.size();
                // The other streams' packets muxed just before the keyframe but shown with it
                // or later belong to its group, and so do the subtitle lines still shown then.
                const AVRational videoBase = source.videoBase();
                const auto before = [&](const Packet& held) {
                    const int64_t at = packetTime(*held);
                    const int stream = held->stream_index;
                    if (stream == source.video || at == AV_NOPTS_VALUE) {
                        return true;
                    }
                    const AVRational base = source.base(stream);
                    return av_compare_ts(at, base, time, videoBase) < 0 &&
                           !(isSubtitle(source, stream) &&
                             shownOnAt(*held, at, base, time, videoBase));
                };
                group.erase(std::remove_if(group.begin(), group.end(), before), group.end());
            }
            group.emplace_back(av_packet_clone(packet.get()));
            while (video && time != AV_NOPTS_VALUE && pending < cuts.size() && again == kNone &&
                   ms >= stretches[pending].startMs) {
                beginNext();
            }
        }
        for (std::size_t a = 0; a < active.size();) {
            Cut& cut = cuts[active[a]];
            // Those begun at this packet hold it already.
            const bool older = a < alreadyActive;
            std::string error = older ? cut.sink->add(*packet) : std::string();
            const bool ends = error.empty() &&
                              ms > stretches[cut.index].endMs + source.frameMs + kInterleaveSlackMs;
            if (!error.empty()) {
                lose(cut, error);
            } else if (ends) {
                end(cut);
            }
            if (!error.empty() || ends) {
                active.erase(active.begin() + static_cast<long>(a));
                alreadyActive -= older ? 1 : 0;
                continue;
            }
            ++a;
        }
        av_packet_unref(packet.get());
    }
    return pass;
}

// What cannot be cut from the video, for every one of its clips: one that cannot be read a second
// time, or opened again.
ClipResults allLost(const ClipRequest& request, const std::string& extension,
                    const std::string& reason) {
    ClipResults results;
    for (const ClipStretch& stretch : request.stretches) {
        ClipOutcome outcome;
        outcome.events = stretch.events;
        outcome.file = clipFileName(stretch.events.empty() ? 0 : stretch.events.front(), extension);
        outcome.encoded = request.mode == ClipMode::Encode;
        outcome.error = reason;
        results.clips.push_back(outcome);
    }
    results.lost = static_cast<long long>(results.clips.size());
    return results;
}

std::string clipsText(const std::vector<std::string>& files) {
    return files.size() == 1 ? files.front() : formatText("%zu clips", files.size());
}

}  // namespace

ClipResults writeClips(const ClipRequest& request) {
    const std::string extension = encodeMethod().extension;
    const std::string once = notReadableAgain(request.videoPath);
    if (!once.empty()) {
        return allLost(request, request.mode == ClipMode::Copy ? ".mkv" : extension, once);
    }
    auto source = std::make_unique<ClipSource>();
    const std::string openError = source->open(request.videoPath);
    if (!openError.empty()) {
        return allLost(request, request.mode == ClipMode::Copy ? ".mkv" : extension, openError);
    }
    ClipResults results;
    std::vector<ClipMethod> methods;
    if (request.mode == ClipMode::Copy && source->timeless()) {
        results.notices.push_back("The pictures of " + request.videoPath +
                                  " carry no times to copy them by: encoding the clips instead");
    } else if (request.mode == ClipMode::Copy) {
        std::string refused;
        methods = copyMethods(request.videoPath, source->container(), refused);
        if (methods.empty()) {
            results.notices.push_back("Cannot copy the " + refused + " stream of " +
                                      request.videoPath +
                                      " into a clip: encoding the clips instead");
        }
    }
    methods.push_back(encodeMethod());
    // Each way in turn, for the clips the ways before it could not cut as they are.
    std::vector<ClipStretch> stretches = request.stretches;
    std::vector<std::size_t> places(stretches.size());
    for (std::size_t i = 0; i < places.size(); ++i) {
        places[i] = i;
    }
    results.clips.resize(stretches.size());
    bool sizeSaid = false;
    for (std::size_t m = 0; m < methods.size() && !stretches.empty(); ++m) {
        const ClipMethod& method = methods[m];
        if (m > 0) {
            source = std::make_unique<ClipSource>();
            if (!source->open(request.videoPath).empty()) {
                break;
            }
        }
        const AVCodecParameters& video = *source->container()->streams[source->video]->codecpar;
        const int width = std::max(1, video.width);
        const int height = std::max(1, video.height);
        if (method.copyInto == nullptr && !sizeSaid &&
            (evenSize(width) != width || evenSize(height) != height)) {
            const char* edge = evenSize(width) == width     ? "row"
                               : evenSize(height) == height ? "column"
                                                            : "column and row";
            results.notices.push_back(formatText(
                "Encoding the clips of %s at %dx%d: H.264 takes only even sizes, so its %dx%d "
                "pictures gain a copy of their last %s",
                request.videoPath.c_str(), evenSize(width), evenSize(height), width, height, edge));
            sizeSaid = true;
        }
        const ClipPass pass = cutClips(*source, request, stretches, method);
        std::vector<ClipStretch> again;
        std::vector<std::size_t> againPlaces;
        std::vector<std::string> againFiles;
        std::string reason;
        for (std::size_t i = 0; i < pass.clips.size(); ++i) {
            results.clips[places[i]] = pass.clips[i];
            if (pass.otherWay[i] && m + 1 < methods.size() && !pass.stopped) {
                again.push_back(stretches[i]);
                againPlaces.push_back(places[i]);
                againFiles.push_back(pass.clips[i].file);
                if (reason.empty()) {
                    reason = pass.clips[i].error;
                }
            }
        }
        if (pass.stopped) {
            results.stopped = true;
            break;
        }
        if (!again.empty()) {
            const ClipMethod& next = methods[m + 1];
            const bool one = again.size() == 1;
            results.notices.push_back(
                "Cannot copy " + clipsText(againFiles) + " of " + request.videoPath + " as " +
                (one ? "it is" : "they are") + " (" + (one ? reason : "the first: " + reason) +
                "): " +
                (next.copyInto != nullptr
                     ? "copying " + std::string(one ? "it" : "them") + " into " + next.container
                     : "encoding " + std::string(one ? "it" : "them")) +
                " instead");
        }
        stretches = std::move(again);
        places = std::move(againPlaces);
    }
    for (const ClipOutcome& outcome : results.clips) {
        results.lost += outcome.saved ? 0 : 1;
    }
    return results;
}

}  // namespace pelmora
