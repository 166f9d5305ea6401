#include "ClipSink.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "H264Encoder.h"
#include "TextFormat.h"

namespace pelmora {

namespace {

constexpr int64_t kAacBitRate = 128000;

// Whether MP4 takes the codec as it is: FFmpeg's MP4 muxer says it takes FLAC and TrueHD, but
// only as an experimental feature that it refuses to write, and players may not know.
bool mp4TakesAsIs(const AVOutputFormat* mp4, AVCodecID codec) {
    return codec != AV_CODEC_ID_FLAC && codec != AV_CODEC_ID_TRUEHD &&
           avformat_query_codec(mp4, codec, FF_COMPLIANCE_NORMAL) == 1;
}

// Audio MP4 does not take, as AAC: decoded, gathered into the encoder's frame size, encoded.
struct AacTrack {
    Codec decoder;
    Codec encoder;
    SampleQueue fifo;
    // From the decoder's samples, whatever their format and layout, to the encoder's; made for
    // the first frame decoded, which is when a decoder is sure to say its format.
    Resampler resampler;
    int64_t nextPts = AV_NOPTS_VALUE;  // in samples from the clip's start
    int outIndex = -1;
};

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
        pictureWidth = std::max(1, decoder->width);
        pictureHeight = std::max(1, decoder->height);
        H264Settings settings;
        settings.width = evenSize(pictureWidth);
        settings.height = evenSize(pictureHeight);
        settings.pixelAspect = decoder->sample_aspect_ratio;
        settings.timeBase = in->time_base;
        settings.frameRate = in->avg_frame_rate;
        if (from.frameMs > 0) {
            settings.pictureDuration =
                av_rescale_q(from.frameMs, AVRational{1, 1000}, settings.timeBase);
        }
        error = encoder.open(file, settings);
        if (!error.empty()) {
            return error;
        }
        streams[from.video] = encoder.stream();
        for (unsigned i = 0; i < input->nb_streams; ++i) {
            const AVStream* other = input->streams[i];
            const AVMediaType type = other->codecpar->codec_type;
            if (static_cast<int>(i) == from.video ||
                (type != AVMEDIA_TYPE_AUDIO && type != AVMEDIA_TYPE_SUBTITLE)) {
                continue;
            }
            const bool copies = mp4TakesAsIs(file.container()->oformat, other->codecpar->codec_id);
            if (!copies && type == AVMEDIA_TYPE_SUBTITLE) {
                continue;  // MP4 takes text subtitles only as its own kind
            }
            AVStream* copy = file.addStream();
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
        converted = encoder.makePicture(error);
        if (!converted) {
            return error;
        }
        return file.writeHeader();
    }

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
        av_packet_rescale_ts(copy.get(), base,
                             file.container()->streams[streams[index]]->time_base);
        return file.write(copy.get());
    }

    std::string finish() override {
        avcodec_send_packet(decoder.get(), nullptr);
        std::string error = drainVideo();
        if (error.empty()) {
            error = encoder.encode(nullptr);
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
        return file.finish();
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
        if (file.wantsGlobalHeader()) {
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

    // The frame's samples as the encoder takes them, into the track's queue.
    static std::string resample(const AVFrame& frame, AacTrack& track) {
        if (!track.resampler) {
            AVChannelLayout from{};
            if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
                av_channel_layout_default(&from, frame.ch_layout.nb_channels);
            } else {
                av_channel_layout_copy(&from, &frame.ch_layout);
            }
            SwrContext* made = nullptr;
            int result = swr_alloc_set_opts2(&made, &track.encoder->ch_layout,
                                             track.encoder->sample_fmt, track.encoder->sample_rate,
                                             &from, static_cast<AVSampleFormat>(frame.format),
                                             frame.sample_rate, 0, nullptr);
            av_channel_layout_uninit(&from);
            track.resampler.reset(made);
            if (result >= 0) {
                result = swr_init(made);
            }
            if (result < 0) {
                return "cannot convert the sound for AAC: " + avErrorText(result);
            }
        }
        const int room = swr_get_out_samples(track.resampler.get(), frame.nb_samples);
        if (room <= 0) {
            return std::string();
        }
        std::vector<std::vector<float>> planes(track.encoder->ch_layout.nb_channels,
                                               std::vector<float>(static_cast<std::size_t>(room)));
        std::vector<uint8_t*> pointers;
        for (std::vector<float>& plane : planes) {
            pointers.push_back(reinterpret_cast<uint8_t*>(plane.data()));
        }
        const int made =
            swr_convert(track.resampler.get(), pointers.data(), room,
                        const_cast<const uint8_t**>(frame.extended_data), frame.nb_samples);
        if (made < 0) {
            return "cannot convert the sound for AAC: " + avErrorText(made);
        }
        av_audio_fifo_write(track.fifo.get(), reinterpret_cast<void**>(pointers.data()), made);
        return std::string();
    }

    std::string addAac(const AVPacket& packet, int64_t offset, AacTrack& track) {
        if (avcodec_send_packet(track.decoder.get(), &packet) < 0) {
            return std::string();
        }
        Frame frame(av_frame_alloc());
        while (avcodec_receive_frame(track.decoder.get(), frame.get()) >= 0) {
            if (track.nextPts == AV_NOPTS_VALUE && frame->pts != AV_NOPTS_VALUE) {
                track.nextPts = av_rescale_q(frame->pts - offset, track.decoder->pkt_timebase,
                                             track.encoder->time_base);
            }
            std::string error = resample(*frame, track);
            if (!error.empty()) {
                return error;
            }
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
        return result < 0 ? avErrorText(result)
                          : writeEncoded(track.encoder.get(), file, track.outIndex, 0);
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
        return writeEncoded(track.encoder.get(), file, track.outIndex, 0);
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
        if (cachedScaler(scaler, frame.width, frame.height,
                         static_cast<AVPixelFormat>(frame.format), pictureWidth, pictureHeight,
                         AV_PIX_FMT_YUV420P, SWS_BICUBIC) == nullptr) {
            return "cannot convert the frames for the encoder";
        }
        int result = av_frame_make_writable(converted.get());
        if (result < 0) {
            return avErrorText(result);
        }
        sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, converted->data,
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
        return encoder.encode(converted.get());
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
    H264Encoder encoder;
    Frame converted;
    Scaler scaler;
    std::vector<AacTrack> tracks;
};

}  // namespace

std::unique_ptr<ClipSink> makeEncodeSink() {
    return std::make_unique<EncodeSink>();
}

}  // namespace pelmora
