#pragma once

#include <cstdint>
#include <vector>

struct AVFormatContext;
struct AVPacket;

namespace pelmora {

// The times of a video read from its start, run on through the whole of it. A container whose
// times may start again part-way (MPEG transport and program streams, which recordings joined
// end to end give) has each stream's times continued from its packet before wherever they go
// back, or leap ahead further than any gap a recording leaves, as if the recordings had been
// one; other containers' times are left as they are. The scan's stream clock and the clips both
// go by these times, so that a snapshot's name and the clip that shows it agree.
class ContinuedTimes {
public:
    // For the streams of format, video being the one scanned.
    void start(const AVFormatContext* format, int video);
    // Whether the container's times may start again, and are continued.
    bool continues() const { return format != nullptr; }

    // What to add to the packet's times, in its stream's time base, to continue them; the
    // packet's stream goes on from it. Packets of a stream not started here are left as they
    // are.
    int64_t shiftFor(const AVPacket& packet);
    // What is added to the times of stream as things stand, taking no packet.
    int64_t shiftOf(int stream) const;

private:
    const AVFormatContext* format = nullptr;
    int video = -1;
    std::vector<int64_t> shifts;    // added to each stream's times to continue them
    std::vector<int64_t> lastTime;  // each stream's last decoding time as continued
    std::vector<int64_t> lastLength;
};

}  // namespace pelmora
