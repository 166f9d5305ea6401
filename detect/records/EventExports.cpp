#include "EventExports.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "FolderNames.h"
#include "FrameClock.h"
#include "TextFormat.h"

namespace pelmora {

namespace {

constexpr const char* kFormatNames[] = {"edl", "otio", "vtt", "json"};

bool* formatFlag(ExportFormats& formats, const std::string& name) {
    bool* flags[] = {&formats.edl, &formats.otio, &formats.vtt, &formats.json};
    for (std::size_t i = 0; i < std::size(kFormatNames); ++i) {
        if (name == kFormatNames[i]) {
            return flags[i];
        }
    }
    return nullptr;
}

std::string stem(const std::string& name) {
    const std::string::size_type dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// What a marker or a chapter is called: "Event 3, 2.04 s" and, where the start is known, its
// clock time as people read it.
std::string eventTitle(const MotionEvent& event, long long endMs, const VideoStart& start) {
    std::string title =
        formatText("Event %d, %s", event.number, plainSeconds(endMs - event.startMs).c_str());
    if (start.known()) {
        title += ", " + readableClockTime(start.utcAt(event.startMs), start.zone);
    }
    return title;
}

// The rate CMX 3600 counts frames at: the video's, to the nearest whole frame, in the two
// digits the format has; 25 where that is not known.
int timecodeRate(double fps) {
    if (!usableFrameRate(fps) || std::lround(fps) < 1 || std::lround(fps) > 99) {
        return 0;
    }
    return static_cast<int>(std::lround(fps));
}

// "HH:MM:SS:FF" for the frame at ms at the rate, non-drop-frame.
std::string smpteTimecode(long long ms, double fps, int rate) {
    const long long frames = std::llround(static_cast<double>(ms) * fps / 1000.0);
    const long long seconds = frames / rate;
    return formatText("%02lld:%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                      seconds % 60, frames % rate);
}

// "HH:MM:SS.mmm" as WebVTT writes a cue's time.
std::string cueTime(long long ms) {
    return formatText("%02lld:%02lld:%02lld.%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                      ms % 1000);
}

// Text of a cue, which must not hold markup nor the arrow of a cue's times.
std::string cueText(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        escaped += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    }
    return escaped;
}

// One line: an EDL line ends at its line's end, and a name may hold anything.
std::string oneLine(const std::string& text) {
    std::string line = text;
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return line;
}

}  // namespace

std::optional<ExportFormats> parseExportFormats(const std::string& text, std::string& problem) {
    ExportFormats formats;
    std::string::size_type from = 0;
    while (true) {
        const std::string::size_type comma = text.find(',', from);
        const std::string name =
            text.substr(from, comma == std::string::npos ? comma : comma - from);
        bool* flag = formatFlag(formats, name);
        if (flag == nullptr || *flag) {
            problem = flag == nullptr ? "\"" + name + "\" is no export format"
                                      : "\"" + name + "\" is given twice";
            return std::nullopt;
        }
        *flag = true;
        if (comma == std::string::npos) {
            return formats;
        }
        from = comma + 1;
    }
}

std::vector<std::string> exportFormatNames(const ExportFormats& formats) {
    const bool given[] = {formats.edl, formats.otio, formats.vtt, formats.json};
    std::vector<std::string> names;
    for (std::size_t i = 0; i < std::size(kFormatNames); ++i) {
        if (given[i]) {
            names.emplace_back(kFormatNames[i]);
        }
    }
    return names;
}

long long exportedEndMs(const MotionEvent& event, double fps) {
    const long long frameMs = usableFrameRate(fps) ? std::max(1LL, std::llround(1000.0 / fps)) : 1;
    return event.endMs + frameMs;
}

std::vector<ExportFile> eventExports(const ExportFormats& formats, const ExportContent& content) {
    std::vector<ExportFile> files;
    if (formats.edl) {
        files.push_back({kEdlExportName, edlText(content)});
    }
    if (formats.otio) {
        files.push_back({kOtioExportName, otioText(content)});
    }
    if (formats.vtt) {
        files.push_back({kVttExportName, vttText(content)});
    }
    if (formats.json) {
        files.push_back({kJsonExportName, eventsJsonText(content)});
    }
    return files;
}

std::string edlText(const ExportContent& content) {
    const RunFacts& facts = content.facts;
    const std::string file = fileNameOf(facts.videoPath);
    const int known = timecodeRate(facts.fps);
    // Without a rate, the frames are counted at 25 a second, and the list says so.
    const int rate = known != 0 ? known : 25;
    const double fps = known != 0 ? facts.fps : 25.0;
    std::string text = "TITLE: " + oneLine(stem(file)) + "\nFCM: NON-DROP FRAME\n";
    if (known == 0) {
        text += "* THE VIDEO'S FRAME RATE IS NOT KNOWN: FRAMES ARE COUNTED AT 25 A SECOND\n";
    }
    for (const ExportedEvent& exported : content.events) {
        const MotionEvent& event = exported.event;
        const long long endMs = exportedEndMs(event, facts.fps);
        const std::string in = smpteTimecode(event.startMs, fps, rate);
        // At least one frame long, as the list's own frames count it.
        std::string out = smpteTimecode(endMs, fps, rate);
        if (out == in) {
            out = smpteTimecode(event.startMs + static_cast<long long>(std::ceil(1000.0 / fps)),
                                fps, rate);
        }
        text += formatText("\n%03d  AX       V     C        %s %s %s %s\n", event.number,
                           in.c_str(), out.c_str(), in.c_str(), out.c_str());
        text += "* FROM CLIP NAME: " + oneLine(file) + "\n";
        text +=
            "* LOC: " + in + " RED     " + oneLine(eventTitle(event, endMs, facts.start)) + "\n";
    }
    return text;
}

std::string vttText(const ExportContent& content) {
    const RunFacts& facts = content.facts;
    std::string text = "WEBVTT - " + cueText(oneLine(fileNameOf(facts.videoPath))) + "\n";
    for (const ExportedEvent& exported : content.events) {
        const MotionEvent& event = exported.event;
        const long long endMs = exportedEndMs(event, facts.fps);
        text += formatText("\n%d\n%s --> %s\n", event.number, cueTime(event.startMs).c_str(),
                           cueTime(endMs).c_str());
        text += cueText(oneLine(eventTitle(event, endMs, facts.start))) + "\n";
    }
    return text;
}

}  // namespace pelmora
