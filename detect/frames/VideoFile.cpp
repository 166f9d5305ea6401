#include "VideoFile.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

#include <sys/stat.h>

#include <cmath>

namespace pelmora {

VideoFile::~VideoFile() {
    close();
}

void VideoFile::close() {
    format.reset();
    index = -1;
}

namespace {

// FFmpeg finds no container in a file of no bytes, and says its data is invalid: the plain
// reason, a download or a copy that never got its bytes, is worth saying as it is.
std::string whyNotOpened(const std::string& path, int error) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size == 0) {
        return "empty file";
    }
    return avErrorText(error);
}

}  // namespace

std::string VideoFile::open(const std::string& path, bool generatedTimes) {
    close();
    // What the container opens in turn (a playlist's parts, say) is a local file too.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVFormatContext* opened = nullptr;
    int error = avformat_open_input(&opened, localFileUrl(path).c_str(), nullptr, &options);
    format.reset(opened);
    av_dict_free(&options);
    if (error < 0) {
        return whyNotOpened(path, error);
    }
    // Only the MPEG streams leave presentation times out by design; elsewhere the demuxer's
    // guess would move pictures that have none (an AVI's) a picture later.
    if (generatedTimes && (format->iformat->flags & AVFMT_TS_DISCONT) != 0) {
        format->flags |= AVFMT_FLAG_GENPTS;
    }
    error = avformat_find_stream_info(format.get(), nullptr);
    if (error < 0) {
        close();
        return whyNotOpened(path, error);
    }
    // The first video stream is the video, whatever FFmpeg would call the best one: the
    // capture this program's frames are held to takes that one.
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            index = static_cast<int>(i);
            return std::string();
        }
    }
    close();
    return "no video stream";
}

AVStream* VideoFile::video() const {
    return index < 0 ? nullptr : format->streams[index];
}

double VideoFile::frameRate() const {
    if (index < 0) {
        return 0.0;
    }
    const AVRational rate = av_guess_frame_rate(format.get(), video(), nullptr);
    return rate.num == 0 || rate.den == 0 ? 0.0 : av_q2d(rate);
}

int VideoFile::rotation() const {
    if (index < 0) {
        return 0;
    }
    const uint8_t* matrix = av_stream_get_side_data(video(), AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (matrix == nullptr) {
        return 0;
    }
    // The matrix turns counter-clockwise; the picture must be turned back.
    const int degrees = -static_cast<int>(
        std::lround(av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix))));
    return ((degrees % 360) + 360) % 360;
}

double VideoFile::originMs() const {
    const AVStream* stream = video();
    if (stream == nullptr || stream->start_time == AV_NOPTS_VALUE) {
        return 0.0;
    }
    return static_cast<double>(stream->start_time) * av_q2d(stream->time_base) * 1000.0;
}

bool VideoFile::seekable() const {
    return format != nullptr && format->pb != nullptr &&
           (format->pb->seekable & AVIO_SEEKABLE_NORMAL) != 0;
}

std::string VideoFile::creationTime() const {
    for (const AVDictionary* tags : {format != nullptr ? format->metadata : nullptr,
                                     video() != nullptr ? video()->metadata : nullptr}) {
        const AVDictionaryEntry* entry = av_dict_get(tags, "creation_time", nullptr, 0);
        if (entry != nullptr && entry->value != nullptr && *entry->value != '\0') {
            return entry->value;
        }
    }
    return std::string();
}

std::string notReadableAgain(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return std::string();
    }
    if (S_ISFIFO(status.st_mode)) {
        return "it is a pipe, which can be read only once";
    }
    if (S_ISSOCK(status.st_mode)) {
        return "it is a socket, which can be read only once";
    }
    if (S_ISCHR(status.st_mode)) {
        return "it is a device, which can be read only once";
    }
    return std::string();
}

}  // namespace pelmora
