#include "SegmentRecord.h"

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <opencv2/imgproc.hpp>
#include <sstream>

#include "FileDigest.h"
#include "FileOutput.h"
#include "FolderNames.h"
#include "TextFormat.h"

namespace pelmora {

namespace {

constexpr const char* kRecordHeader = "pelmora-segment 2";
constexpr std::size_t kFrameBytes = 13;

// One line whatever the value holds: a path may hold a line break.
std::string escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            out += text[++i] == 'n' ? '\n' : text[i];
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string number(double value) {
    return formatText("%.17g", value);
}

// The names of the files a join of the stretch reads besides its record.
std::vector<std::string> filesOf(const SegmentRecord& record) {
    std::vector<std::string> names;
    if (!record.inexact.empty() || record.lastFrame < 0) {
        return names;
    }
    names = {kSegmentFramesName, kSegmentReferenceName};
    for (const SnapshotOutcome& snapshot : record.snapshots) {
        if (snapshot.saved) {
            names.push_back(snapshot.file);
        }
    }
    return names;
}

}  // namespace

std::string writeSegmentRecord(const std::string& folder, const SegmentRecord& record) {
    const RunFacts& facts = record.facts;
    std::string text = std::string(kRecordHeader) + "\n";
    text += formatText("stretch %d %d\n", record.index, record.count);
    for (const auto& [name, value] : record.identity) {
        text += "identity " + name + " " + escaped(value) + "\n";
    }
    text += "video " + escaped(facts.videoPath) + "\n";
    text += formatText("size %d %d\n", facts.frameSize.width, facts.frameSize.height);
    text += "fps " + number(facts.fps) + "\n";
    text += formatText("announced %lld\n", facts.framesAnnounced);
    text += formatText("threshold %d\nmin_pixels %d\nwhole_frame %d\n", facts.threshold,
                       facts.minPixels, facts.wholeFrame ? 1 : 0);
    text += "watched_region " + escaped(facts.watchedRegion) + "\n";
    for (const std::string& region : regionLines(facts.regions)) {
        text += "region " + region + "\n";
    }
    text += formatText("first %lld ", record.firstFrame) + number(record.firstMs) + "\n";
    text += formatText("last %lld ", record.lastFrame) + number(record.lastMs) + "\n";
    text += formatText("to_end %d\nframes_read %lld\n", record.toEnd ? 1 : 0, record.framesRead);
    text += "inexact " + escaped(record.inexact) + "\n";
    for (const SnapshotOutcome& snapshot : record.snapshots) {
        text += formatText("snapshot %lld %lld %d %lld %d %d ", snapshot.frame, snapshot.timeMs,
                           snapshot.changedPixels, snapshot.streamMs, snapshot.againstBlack ? 1 : 0,
                           snapshot.saved ? 1 : 0) +
                escaped(snapshot.file) + "\n";
    }
    for (const auto& [name, digest] : record.fileDigests) {
        text += "file " + digest + " " + escaped(name) + "\n";
    }
    text += "check " + textDigest(text) + "\n";
    text += "end\n";
    return replaceFile(joinPath(folder, kSegmentRecordName), text.data(), text.size());
}

std::string readSegmentRecord(const std::string& folder, SegmentRecord& record) {
    const std::string path = joinPath(folder, kSegmentRecordName);
    std::ifstream in(path);
    if (!in) {
        return "there is no record " + path;
    }
    std::string line;
    if (!std::getline(in, line) || line != kRecordHeader) {
        return path + " is no segment record of this version";
    }
    record = SegmentRecord();
    RunFacts& facts = record.facts;
    // The lines before the checksum, as they were written.
    std::string text = line + "\n";
    bool checked = false;
    bool ended = false;
    while (!ended && std::getline(in, line)) {
        const std::string::size_type space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string rest =
            space == std::string::npos ? std::string() : line.substr(space + 1);
        std::istringstream fields(rest);
        bool good = true;
        if (key == "stretch") {
            good = static_cast<bool>(fields >> record.index >> record.count);
        } else if (key == "identity") {
            const std::string::size_type gap = rest.find(' ');
            good = gap != std::string::npos;
            record.identity.emplace_back(rest.substr(0, gap), unescaped(rest.substr(gap + 1)));
        } else if (key == "video") {
            facts.videoPath = unescaped(rest);
        } else if (key == "size") {
            good = static_cast<bool>(fields >> facts.frameSize.width >> facts.frameSize.height);
        } else if (key == "fps") {
            good = static_cast<bool>(fields >> facts.fps);
        } else if (key == "announced") {
            good = static_cast<bool>(fields >> facts.framesAnnounced);
        } else if (key == "threshold") {
            good = static_cast<bool>(fields >> facts.threshold);
        } else if (key == "min_pixels") {
            good = static_cast<bool>(fields >> facts.minPixels);
        } else if (key == "whole_frame") {
            good = static_cast<bool>(fields >> facts.wholeFrame);
        } else if (key == "watched_region") {
            facts.watchedRegion = unescaped(rest);
        } else if (key == "region") {
            RegionShapes one;
            good = parseRegionText(rest, one).empty();
            if (good) {
                facts.regions.push_back(one.front());
            }
        } else if (key == "first") {
            good = static_cast<bool>(fields >> record.firstFrame >> record.firstMs);
        } else if (key == "last") {
            good = static_cast<bool>(fields >> record.lastFrame >> record.lastMs);
        } else if (key == "to_end") {
            good = static_cast<bool>(fields >> record.toEnd);
        } else if (key == "frames_read") {
            good = static_cast<bool>(fields >> record.framesRead);
        } else if (key == "inexact") {
            record.inexact = unescaped(rest);
        } else if (key == "snapshot") {
            SnapshotOutcome snapshot;
            good = static_cast<bool>(fields >> snapshot.frame >> snapshot.timeMs >>
                                     snapshot.changedPixels >> snapshot.streamMs >>
                                     snapshot.againstBlack >> snapshot.saved);
            std::string file;
            std::getline(fields >> std::ws, file);
            snapshot.file = unescaped(file);
            good = good && isSnapshotFileName(snapshot.file);
            record.snapshots.push_back(snapshot);
        } else if (key == "file") {
            std::string digest;
            std::string name;
            good = static_cast<bool>(fields >> digest) && std::getline(fields >> std::ws, name);
            record.fileDigests[unescaped(name)] = digest;
        } else if (key == "check") {
            if (rest != textDigest(text)) {
                return path + " does not match its checksum: it was changed after its stretch " +
                       "was scanned";
            }
            checked = true;
        } else if (key == "end") {
            ended = true;
        } else {
            good = false;
        }
        if (!good) {
            return path + " is damaged: '" + line + "'";
        }
        text += line + "\n";
    }
    if (!ended) {
        return path + " ends early";
    }
    if (!checked) {
        return path + " has no checksum";
    }
    return std::string();
}

std::string digestSegmentFiles(const std::string& folder, SegmentRecord& record) {
    record.fileDigests.clear();
    for (const std::string& name : filesOf(record)) {
        const std::string path = joinPath(folder, name);
        std::string digest;
        const std::string reason = fileDigest(path, digest);
        if (!reason.empty()) {
            return "cannot read " + path + ": " + reason;
        }
        record.fileDigests[name] = digest;
    }
    return std::string();
}

std::string checkSegmentFiles(const std::string& folder, const SegmentRecord& record) {
    for (const std::string& name : filesOf(record)) {
        const std::string path = joinPath(folder, name);
        const auto recorded = record.fileDigests.find(name);
        if (recorded == record.fileDigests.end()) {
            return path + " has no checksum in the record";
        }
        std::string digest;
        const std::string reason = fileDigest(path, digest);
        if (!reason.empty()) {
            return "cannot read " + path + ": " + reason;
        }
        if (digest != recorded->second) {
            return path + " does not match its checksum: it was changed after its stretch was " +
                   "scanned";
        }
    }
    return std::string();
}

SegmentFrames::~SegmentFrames() {
    close();
}

std::string SegmentFrames::create(const std::string& path) {
    close();
    file = std::fopen(path.c_str(), "wbe");
    writing = true;
    failed = false;
    return file == nullptr ? systemError(errno) : std::string();
}

std::string SegmentFrames::openForReading(const std::string& path) {
    close();
    file = std::fopen(path.c_str(), "rbe");
    writing = false;
    failed = false;
    return file == nullptr ? systemError(errno) : std::string();
}

void SegmentFrames::add(const FrameMeasure& measure) {
    if (file == nullptr || failed) {
        return;
    }
    unsigned char bytes[kFrameBytes];
    const auto time = static_cast<std::uint64_t>(measure.timeMs);
    const auto pixels = static_cast<std::uint32_t>(measure.changedPixels);
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<unsigned char>(time >> (8 * i));
    }
    for (int i = 0; i < 4; ++i) {
        bytes[8 + i] = static_cast<unsigned char>(pixels >> (8 * i));
    }
    bytes[12] = measure.againstBlack ? 1 : 0;
    failed = std::fwrite(bytes, 1, kFrameBytes, file) != kFrameBytes;
}

bool SegmentFrames::next(long long frame, FrameMeasure& measure) {
    unsigned char bytes[kFrameBytes];
    if (file == nullptr || std::fread(bytes, 1, kFrameBytes, file) != kFrameBytes ||
        bytes[12] > 1) {
        return false;
    }
    std::uint64_t time = 0;
    std::uint32_t pixels = 0;
    for (int i = 7; i >= 0; --i) {
        time = (time << 8) | bytes[i];
    }
    for (int i = 3; i >= 0; --i) {
        pixels = (pixels << 8) | bytes[8 + i];
    }
    measure = FrameMeasure();
    measure.frame = frame;
    measure.timeMs = static_cast<long long>(time);
    measure.changedPixels = static_cast<int>(pixels);
    measure.againstBlack = bytes[12] == 1;
    return true;
}

std::string SegmentFrames::close() {
    if (file == nullptr) {
        return std::string();
    }
    const bool closed = std::fclose(file) == 0;
    file = nullptr;
    if (writing && (failed || !closed)) {
        return failed ? "a frame's measure could not be written" : systemError(errno);
    }
    return std::string();
}

std::string writeReferenceImage(const std::string& path, const cv::Mat& image) {
    if (image.type() != CV_8UC3 || image.empty()) {
        return "the reference is no colour picture";
    }
    cv::Mat rgb;
    cv::cvtColor(image, rgb, cv::COLOR_BGR2RGB);
    std::string data = formatText("P6\n%d %d\n255\n", rgb.cols, rgb.rows);
    for (int row = 0; row < rgb.rows; ++row) {
        data.append(reinterpret_cast<const char*>(rgb.ptr(row)),
                    static_cast<std::size_t>(rgb.cols) * 3);
    }
    return replaceFile(path, data.data(), data.size());
}

std::string readReferenceImage(const std::string& path, cv::Mat& image) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int width = 0;
    int height = 0;
    int maximum = 0;
    if (!(in >> magic >> width >> height >> maximum) || magic != "P6" || maximum != 255 ||
        width <= 0 || height <= 0 || in.get() != '\n') {
        return path + " is no reference picture";
    }
    cv::Mat rgb(height, width, CV_8UC3);
    for (int row = 0; row < height; ++row) {
        if (!in.read(reinterpret_cast<char*>(rgb.ptr(row)),
                     static_cast<std::streamsize>(width) * 3)) {
            return path + " ends early";
        }
    }
    cv::cvtColor(rgb, image, cv::COLOR_RGB2BGR);
    return std::string();
}

}  // namespace pelmora
