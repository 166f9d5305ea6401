#include "ClipSource.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "FrameClock.h"

namespace pelmora {

namespace {

// Retreats past this many would go back further than any video lasts.
constexpr int kMostRetreats = 40;

int64_t shownAt(const AVPacket& packet) {
    return packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
}

int64_t decodedAt(const AVPacket& packet) {
    return packet.dts != AV_NOPTS_VALUE ? packet.dts : packet.pts;
}

}  // namespace

bool clipKeeps(const AVStream* stream) {
    const AVMediaType type = stream->codecpar->codec_type;
    if (type == AVMEDIA_TYPE_VIDEO) {
        return (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0;
    }
    return type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_SUBTITLE;
}

ClipSource::~ClipSource() = default;

std::string ClipSource::open(const std::string& videoPath) {
    path = videoPath;
    // Copied packets need a presentation time each, which MPEG program streams give only some.
    const std::string error = file->open(path, true);
    if (!error.empty()) {
        return error;
    }
    video = file->videoIndex();
    originMs = file->originMs();
    const double fps = file->frameRate();
    frameMs = usableFrameRate(fps) ? std::llround(1000.0 / fps) : 0;
    // A stream whose first packets gave the demuxer no time gives none later either.
    numbered = file->video()->start_time == AV_NOPTS_VALUE;
    const double rate = usableFrameRate(fps) ? fps : FrameClock::kFallbackFps;
    pictureTicks = std::max<int64_t>(1, std::llround(1.0 / rate / av_q2d(videoBase())));
    restartTimes();
    // Numbered pictures and continued times hold only as counted from the start.
    seekable = file->seekable() && !numbered && !times.continues();
    firstTimes.assign(container()->nb_streams, AV_NOPTS_VALUE);
    return std::string();
}

void ClipSource::restartTimes() {
    picturesRead = 0;
    times.start(container(), video);
}

void ClipSource::placeInTime(AVPacket* packet) {
    const int index = packet->stream_index;
    if (index == video && numbered) {
        if (packet->pts == AV_NOPTS_VALUE && packet->dts == AV_NOPTS_VALUE) {
            // In the order decoded; a keyframe starts its group and is shown first in it.
            packet->dts = picturesRead * pictureTicks;
            if ((packet->flags & AV_PKT_FLAG_KEY) != 0) {
                packet->pts = packet->dts;
            }
        }
        ++picturesRead;
    }
    const int64_t shift = times.shiftFor(*packet);
    if (packet->pts != AV_NOPTS_VALUE) {
        packet->pts += shift;
    }
    if (packet->dts != AV_NOPTS_VALUE) {
        packet->dts += shift;
    }
}

long long ClipSource::ms(int64_t time, int stream) const {
    return std::llround(static_cast<double>(time) * av_q2d(base(stream)) * 1000.0 - originMs);
}

bool ClipSource::read(AVPacket* packet) {
    firstOfStream = false;
    int index = -1;
    while (true) {
        if (ended || av_read_frame(container(), packet) < 0) {
            return false;
        }
        index = packet->stream_index;
        // Streams found after the header are in no clip.
        if (index < 0 || index >= static_cast<int>(firstTimes.size()) ||
            !clipKeeps(container()->streams[index])) {
            return true;
        }
        if ((packet->flags & AV_PKT_FLAG_CORRUPT) == 0) {
            break;
        }
        av_packet_unref(packet);
    }
    placeInTime(packet);
    const int64_t decoded = decodedAt(*packet);
    if (decoded == AV_NOPTS_VALUE) {
        return true;
    }
    const long long at = ms(decoded, index);
    readMs = std::max(readMs, at);
    if (checking) {
        earliestMs = std::min(earliestMs, at);
        if (firstTimes[index] == AV_NOPTS_VALUE) {
            firstTimes[index] = shownAt(*packet);
            firstOfStream = true;
        }
    }
    return true;
}

bool ClipSource::skipTo(long long startMs) {
    if (!seekable || startMs <= soughtMs) {
        return false;
    }
    // The index gives the keyframe the clip will start from, where it reaches that far: a
    // demuxer may have read only the first part of it yet.
    long long keyMs = startMs;
    const int64_t wanted =
        std::llround((static_cast<double>(startMs) + originMs) / 1000.0 / av_q2d(videoBase()));
    AVStream* stream = container()->streams[video];
    const int entries = avformat_index_get_entries_count(stream);
    const AVIndexEntry* last =
        entries > 0 ? avformat_index_get_entry(stream, entries - 1) : nullptr;
    const AVIndexEntry* entry =
        avformat_index_get_entry_from_timestamp(stream, wanted, AVSEEK_FLAG_BACKWARD);
    if (entry != nullptr && last != nullptr && last->timestamp >= wanted) {
        keyMs = std::min(keyMs, ms(entry->timestamp, video));
    }
    const long long target = keyMs - kInterleaveSlackMs - 1;
    // Where little lies between, reading it costs no more than a seek.
    if (target <= readMs + kInterleaveSlackMs) {
        return false;
    }
    soughtMs = startMs;
    retreats = 0;
    seekBefore(target);
    return true;
}

bool ClipSource::reachesBack(int64_t keyTime) const {
    if (!checking) {
        return true;
    }
    // A packet of any stream the clip keeps, muxed before the place sought, would have to be
    // more out of order than muxers are taken to be: the earliest read comes long enough before.
    if (earliestMs >= ms(keyTime, video) - kInterleaveSlackMs) {
        return false;
    }
    for (std::size_t i = 0; i < firstTimes.size(); ++i) {
        // Subtitle lines come far apart and may stay up long: where none was read since the
        // seek, one shown from before it may still be up at the clip's start.
        const AVStream* stream = container()->streams[i];
        if (firstTimes[i] == AV_NOPTS_VALUE && clipKeeps(stream) &&
            stream->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE) {
            return false;
        }
        if (firstTimes[i] != AV_NOPTS_VALUE &&
            av_compare_ts(firstTimes[i], base(static_cast<int>(i)), keyTime, videoBase()) >= 0) {
            return false;
        }
    }
    return true;
}

bool ClipSource::firstSinceSeekFrom(const AVPacket& packet, int64_t keyTime) const {
    return firstOfStream &&
           av_compare_ts(shownAt(packet), base(packet.stream_index), keyTime, videoBase()) >= 0;
}

void ClipSource::retreat(int64_t keyTime, long long startMs) {
    ++retreats;
    const long long fromMs = std::min(ms(keyTime, video), startMs);
    const long long target =
        retreats > kMostRetreats ? -1 : fromMs - (kInterleaveSlackMs << retreats) - 1;
    if (target <= 0) {
        rewind();
        return;
    }
    seekBefore(target);
}

void ClipSource::seekBefore(long long targetMs) {
    const int64_t time =
        std::llround((static_cast<double>(targetMs) + originMs) / 1000.0 / av_q2d(videoBase()));
    if (av_seek_frame(container(), video, time, AVSEEK_FLAG_BACKWARD) < 0) {
        // Where seeking fails once it is not trusted again.
        seekable = false;
        rewind();
        return;
    }
    checking = true;
    readMs = targetMs;
    earliestMs = LLONG_MAX;
    firstTimes.assign(container()->nb_streams, AV_NOPTS_VALUE);
}

void ClipSource::rewind() {
    // Opened anew, the file is read as it was the first time; should that fail now, it ends
    // here, and the clips not cut yet have nothing to be cut from.
    auto fresh = std::make_unique<VideoFile>();
    if (!fresh->open(path, true).empty()) {
        ended = true;
        return;
    }
    file = std::move(fresh);
    checking = false;
    readMs = 0;
    restartTimes();
}

}  // namespace pelmora
