#include "ClipWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

#include "ClipSource.h"
#include "FileOutput.h"
#include "SnapshotNaming.h"
#include "TextFormat.h"

namespace pelmora {

namespace {

constexpr char kClipPrefix[] = "EVENT";
constexpr int kClipDigits = 4;
constexpr int64_t kAacBitRate = 128000;
constexpr char kStopped[] = "stopped before it was complete";

int64_t packetTime(const AVPacket& packet) {
    return packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
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
        const int result =
            avformat_alloc_output_context2(&output, nullptr, formatName, path.c_str());
        return result < 0 ? avErrorText(result) : std::string();
    }

    std::string writeHeader(const std::string& path) {
        int result = avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE);
        if (result < 0) {
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
        if (result >= 0 && output->pb->error < 0) {
            result = output->pb->error;
        }
        const int closed = avio_closep(&output->pb);
        if (result >= 0) {
            result = closed;
        }
        return result < 0 ? avErrorText(result) : std::string();
    }

    void noteVideo(long long ms) {
        firstMs = firstMs < 0 || ms < firstMs ? ms : firstMs;
        lastMs = ms > lastMs ? ms : lastMs;
    }

    AVFormatContext* output = nullptr;
};

// The container a copy keeps: the source's own where it takes every stream, else Matroska;
// none when not even Matroska takes them.
struct CopyFormat {
    const AVOutputFormat* format = nullptr;
    std::string extension;
    std::string refused;  // the codec Matroska refuses
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

CopyFormat copyFormat(const std::string& videoPath, const AVFormatContext* input) {
    CopyFormat chosen;
    const std::string::size_type dot = videoPath.rfind('.');
    const std::string::size_type slash = videoPath.rfind('/');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    if (hasExtension) {
        const AVOutputFormat* own = av_guess_format(nullptr, videoPath.c_str(), nullptr);
        if (own != nullptr && (own->flags & AVFMT_NOFILE) == 0 &&
            takes(own, input, false, nullptr)) {
            chosen.format = own;
            chosen.extension = videoPath.substr(dot);
            return chosen;
        }
    }
    const AVOutputFormat* matroska = av_guess_format("matroska", nullptr, nullptr);
    if (matroska != nullptr && takes(matroska, input, true, &chosen.refused)) {
        chosen.format = matroska;
        chosen.extension = ".mkv";
    }
    return chosen;
}

class CopySink : public ClipSink {
public:
    explicit CopySink(const AVOutputFormat* format) : format(format) {}

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
            out->codecpar->codec_tag = 0;
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
        } else if (av_compare_ts(time, base, keyTime, source->videoBase()) < 0 ||
                   ms >= std::max(lastWantedMs, lastMs) + source->frameMs) {
            return std::string();
        }
        AVPacket* copy = av_packet_clone(&packet);
        if (copy == nullptr) {
            return avErrorText(AVERROR(ENOMEM));
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

private:
    const AVOutputFormat* format;
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

class EncodeSink : public ClipSink {
public:
    std::string start(const ClipSource& from, int64_t, long long startMs, long long endMs,
                      const std::string& path) override {
        source = &from;
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
        // H.264's 4:2:0 pictures come in whole pairs of rows and columns.
        encoder->width = std::max(2, decoder->width & ~1);
        encoder->height = std::max(2, decoder->height & ~1);
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
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
        if (ms < firstWantedMs || ms >= lastWantedMs + source->frameMs) {
            return std::string();
        }
        const AVRational base = source->base(index);
        const int64_t offset = av_rescale_q(zeroMs, AVRational{1, 1000}, base) +
                               std::llround(source->originMs / 1000.0 / av_q2d(base));
        if (tracks[index].encoder) {
            return addAac(packet, offset, tracks[index]);
        }
        Packet copy(av_packet_clone(&packet));
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
            const int64_t time = frame->best_effort_timestamp;
            const long long ms = time == AV_NOPTS_VALUE ? -1 : source->ms(time, source->video);
            if (ms >= firstWantedMs && ms <= lastWantedMs) {
                if (firstMs < 0) {
                    firstPts = time;
                }
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
                                      static_cast<AVPixelFormat>(frame.format), encoder->width,
                                      encoder->height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
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

// A clip being written: where it stands in the results, and its sink.
struct Cut {
    std::size_t index = 0;
    std::string path;
    std::string temporary;
    std::unique_ptr<ClipSink> sink;
    int64_t keyTime = 0;  // of the video packet it is fed from
};

}  // namespace

std::vector<ClipStretch> planClipStretches(const std::vector<MotionEvent>& events,
                                           long long beforeMs, long long afterMs) {
    std::vector<ClipStretch> stretches;
    for (const MotionEvent& event : events) {
        const long long start = event.startMs > beforeMs ? event.startMs - beforeMs : 0;
        const long long end = event.endMs + afterMs;
        if (!stretches.empty() && start <= stretches.back().endMs) {
            stretches.back().events.push_back(event.number);
            stretches.back().endMs = std::max(stretches.back().endMs, end);
            continue;
        }
        stretches.push_back({{event.number}, start, end});
    }
    return stretches;
}

std::string clipFileName(int event, const std::string& extension) {
    return formatText("%s%0*d%s", kClipPrefix, kClipDigits, event, extension.c_str());
}

bool isClipFileName(const std::string& name) {
    const std::string::size_type head = sizeof kClipPrefix - 1;
    const std::string::size_type dot = name.find('.');
    if (name.compare(0, head, kClipPrefix) != 0 || dot == std::string::npos ||
        dot < head + kClipDigits || dot + 1 == name.size() ||
        name.find_first_not_of("0123456789", head) != dot) {
        return false;
    }
    return name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789", dot + 1) ==
           std::string::npos;
}

bool isClipTemporaryName(const std::string& name) {
    const std::optional<std::string> target = temporaryTarget(name);
    return target && isClipFileName(*target);
}

ClipResults writeClips(const ClipRequest& request) {
    ClipResults results;
    ClipSource source;
    const std::string openError = source.open(request.videoPath);
    ClipMode mode = request.mode;
    CopyFormat copy;
    if (openError.empty() && mode == ClipMode::Copy) {
        copy = copyFormat(request.videoPath, source.container());
        if (copy.format == nullptr) {
            results.notices.push_back("Cannot copy the " + copy.refused + " stream of " +
                                      request.videoPath +
                                      " into a clip: encoding the clips instead");
            mode = ClipMode::Encode;
        }
    }
    const std::string extension = mode == ClipMode::Copy ? copy.extension : ".mp4";
    for (const ClipStretch& stretch : request.stretches) {
        ClipOutcome outcome;
        outcome.events = stretch.events;
        outcome.file = clipFileName(stretch.events.empty() ? 0 : stretch.events.front(), extension);
        outcome.encoded = mode == ClipMode::Encode;
        outcome.error = openError;
        results.clips.push_back(outcome);
    }
    // A clip given up leaves nothing behind: it is lost, or it is cut again.
    const auto drop = [](Cut& cut) {
        cut.sink.reset();
        ::unlink(cut.temporary.c_str());
    };
    const auto lose = [&results, &drop](Cut& cut, const std::string& reason) {
        results.clips[cut.index].error = reason;
        drop(cut);
    };
    std::vector<Cut> cuts;
    for (std::size_t i = 0; i < results.clips.size(); ++i) {
        const std::string path = joinPath(request.folder, results.clips[i].file);
        cuts.push_back({i, path, temporaryPath(path), nullptr});
    }
    std::size_t pending = openError.empty() ? 0 : cuts.size();
    std::vector<std::size_t> active;
    // The packets since the video's last keyframe, from which a clip that starts here is fed.
    std::vector<Packet> group;
    // The first clip to cut again, from further back, when what was read since a seek does not
    // reach back far enough for it; none otherwise.
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::size_t again = kNone;
    const auto begin = [&](Cut& cut) {
        const ClipStretch& stretch = request.stretches[cut.index];
        // A clip lost since a seek that is cut again may be saved this time.
        results.clips[cut.index].error.clear();
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
        if (mode == ClipMode::Copy) {
            cut.sink = std::make_unique<CopySink>(copy.format);
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
        ClipOutcome& outcome = results.clips[cut.index];
        std::string error = cut.sink->finish();
        if (error.empty() && cut.sink->firstMs < 0) {
            error = "no frame of the video falls in it";
        }
        if (error.empty() && ::rename(cut.temporary.c_str(), cut.path.c_str()) != 0) {
            error = systemError(errno);
        }
        if (!error.empty()) {
            lose(cut, error);
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
                results.clips[pending].error = kStopped;
            }
            results.stopped = true;
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
            source.retreat(cuts[pending].keyTime, request.stretches[pending].startMs);
        } else if (active.empty() && pending < cuts.size() &&
                   source.skipTo(request.stretches[pending].startMs)) {
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
                       request.stretches[pending].startMs < ms) {
                    beginNext();
                }
                alreadyActive = active.size();
                // The other streams' packets muxed just before the keyframe but shown with it
                // or later belong to its group.
                const AVRational videoBase = source.videoBase();
                group.erase(std::remove_if(group.begin(), group.end(),
                                           [&](const Packet& held) {
                                               const int64_t at = packetTime(*held);
                                               return held->stream_index == source.video ||
                                                      at == AV_NOPTS_VALUE ||
                                                      av_compare_ts(at,
                                                                    source.base(held->stream_index),
                                                                    time, videoBase) < 0;
                                           }),
                            group.end());
            }
            group.emplace_back(av_packet_clone(packet.get()));
            while (video && time != AV_NOPTS_VALUE && pending < cuts.size() && again == kNone &&
                   ms >= request.stretches[pending].startMs) {
                beginNext();
            }
        }
        for (std::size_t a = 0; a < active.size();) {
            Cut& cut = cuts[active[a]];
            if (a < alreadyActive) {
                const std::string error = cut.sink->add(*packet);
                if (!error.empty()) {
                    lose(cut, error);
                    active.erase(active.begin() + static_cast<long>(a));
                    continue;
                }
            }
            if (ms > request.stretches[cut.index].endMs + source.frameMs + kInterleaveSlackMs) {
                end(cut);
                active.erase(active.begin() + static_cast<long>(a));
                continue;
            }
            ++a;
        }
        av_packet_unref(packet.get());
    }
    for (const ClipOutcome& outcome : results.clips) {
        results.lost += outcome.saved ? 0 : 1;
    }
    return results;
}

}  // namespace pelmora
