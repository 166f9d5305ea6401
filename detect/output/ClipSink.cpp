#include "ClipSink.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>

namespace pelmora {

namespace {

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

}  // namespace

int64_t packetTime(const AVPacket& packet) {
    return packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
}

bool shownOnAt(const AVPacket& packet, int64_t time, AVRational base, int64_t keyTime,
               AVRational videoBase) {
    return packet.duration > 0 &&
           av_compare_ts(time + packet.duration, base, keyTime, videoBase) > 0;
}

bool isSubtitle(const ClipSource& source, int stream) {
    return source.container()->streams[stream]->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE;
}

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

}  // namespace pelmora
