#include "ClipWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
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

#include "ClipSink.h"
#include "ClipSource.h"
#include "FileOutput.h"
#include "FolderNames.h"
#include "H264Encoder.h"
#include "TextFormat.h"
#include "VideoFile.h"
#include "VideoSource.h"

namespace pelmora {

namespace {

constexpr char kStopped[] = "stopped before it was complete";

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
            cut.sink = makeCopySink(method.copyInto, method.ownContainer);
        } else {
            cut.sink = makeEncodeSink();
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
                              cut.sink->videoOut());
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
