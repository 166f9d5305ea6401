#include "ContinuedTimes.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>

namespace pelmora {

namespace {

// A leap ahead in a stream's times longer than this is where a recording was joined to
// another, not a gap within one; the same threshold FFmpeg's tools take for a discontinuity.
constexpr int64_t kLongestGapMs = 10000;

}  // namespace

void ContinuedTimes::start(const AVFormatContext* container, int videoIndex) {
    const bool mayStartAgain = (container->iformat->flags & AVFMT_TS_DISCONT) != 0;
    format = mayStartAgain ? container : nullptr;
    video = videoIndex;
    shifts.assign(container->nb_streams, 0);
    lastTime.assign(container->nb_streams, AV_NOPTS_VALUE);
    lastLength.assign(container->nb_streams, 0);
}

int64_t ContinuedTimes::shiftOf(int stream) const {
    return stream >= 0 && stream < static_cast<int>(shifts.size()) ? shifts[stream] : 0;
}

int64_t ContinuedTimes::shiftFor(const AVPacket& packet) {
    const int index = packet.stream_index;
    if (format == nullptr || index < 0 || index >= static_cast<int>(shifts.size())) {
        return 0;
    }
    const int64_t decoded = packet.dts != AV_NOPTS_VALUE ? packet.dts : packet.pts;
    if (decoded == AV_NOPTS_VALUE) {
        return shifts[index];
    }
    const AVRational base = format->streams[index]->time_base;
    const int64_t last = lastTime[index];
    const int64_t gap = av_rescale_q(kLongestGapMs, AVRational{1, 1000}, base);
    if (format->streams[index]->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE) {
        // Lines come far apart, and say nothing of where their recording starts: they go with
        // the pictures.
        shifts[index] = av_rescale_q(shifts[video], format->streams[video]->time_base, base);
    } else if (last != AV_NOPTS_VALUE &&
               (decoded + shifts[index] < last || decoded + shifts[index] > last + gap)) {
        // On from the packet before, as if the recordings had been one.
        shifts[index] = last + std::max<int64_t>(lastLength[index], 1) - decoded;
    }
    lastTime[index] = decoded + shifts[index];
    lastLength[index] = packet.duration;
    return shifts[index];
}

}  // namespace pelmora
