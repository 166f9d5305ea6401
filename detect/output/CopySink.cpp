#include "ClipSink.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <string>
#include <vector>

namespace pelmora {

namespace {

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
            AVStream* out = file.addStream();
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
        return file.writeHeader();
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
        Packet copy(av_packet_clone(&packet));
        if (!copy) {
            return avErrorText(AVERROR(ENOMEM));
        }
        if (isSubtitle(*source, index)) {
            startLineAt(copy.get(), av_rescale_q(keyTime, source->videoBase(), base));
        }
        if (copy->pts != AV_NOPTS_VALUE) {
            copy->pts -= offsets[index];
        }
        if (copy->dts != AV_NOPTS_VALUE) {
            copy->dts -= offsets[index];
        }
        copy->stream_index = streams[index];
        copy->pos = -1;
        av_packet_rescale_ts(copy.get(), base,
                             file.container()->streams[streams[index]]->time_base);
        return file.write(copy.get());
    }

    std::string finish() override { return file.finish(); }

    // The clip's copy of the video stream.
    int videoOut() const override { return streams[source->video]; }

private:
    const AVOutputFormat* format;
    const bool ownContainer;
    const ClipSource* source = nullptr;
    int64_t keyTime = 0;
    long long keyMs = 0;
    long long lastWantedMs = 0;
    std::vector<int64_t> offsets;
};

}  // namespace

std::unique_ptr<ClipSink> makeCopySink(const AVOutputFormat* format, bool ownContainer) {
    return std::make_unique<CopySink>(format, ownContainer);
}

}  // namespace pelmora
