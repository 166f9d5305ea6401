#include "ObjectIndex.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "FileDigest.h"
#include "FolderNames.h"
#include "TextFormat.h"

namespace pelmora {

namespace {

// A file that starts otherwise is none of ours; the version follows, and the checksum of all
// before it (see Digest) ends the file, so that one cut short or changed since shows.
constexpr char kMagic[] = "PELMORA-OBJECTS\n";
constexpr std::size_t kMagicSize = sizeof kMagic - 1;
constexpr std::size_t kDigestSize = 32;
constexpr unsigned char kEnd = 0xff;

// A frame's first byte: its scene's kind and note, and which of its fields follow.
constexpr unsigned kKindBits = 0x03;
constexpr unsigned kNoteShift = 2;
constexpr unsigned kNoteBits = 0x0c;
constexpr unsigned kNewScene = 0x10;
constexpr unsigned kTimedByRate = 0x20;  // its time is its index over the rate
constexpr unsigned kNextFrame = 0x40;    // it is the frame after the one before

void putNumber(std::string& out, unsigned long long value) {
    while (value >= 0x80) {
        out.push_back(static_cast<char>((value & 0x7f) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

void putSigned(std::string& out, long long value) {
    putNumber(out, (static_cast<unsigned long long>(value) << 1) ^
                       static_cast<unsigned long long>(value >> 63));
}

void putText(std::string& out, const std::string& text) {
    putNumber(out, text.size());
    out += text;
}

void putDouble(std::string& out, double value) {
    unsigned long long bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 8; ++i) {
        out.push_back(static_cast<char>((bits >> (8 * i)) & 0xff));
    }
}

// Reads what the put functions wrote; any read past the end leaves it failed.
class Reader {
public:
    Reader(const std::string& bytes, std::size_t from, std::size_t end)
        : bytes(bytes), at(from), end(end) {}

    bool failed() const { return bad; }
    bool atEnd() const { return at >= end; }

    unsigned char byte() {
        if (at >= end) {
            bad = true;
            return 0;
        }
        return static_cast<unsigned char>(bytes[at++]);
    }
    unsigned long long number() {
        unsigned long long value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            const unsigned char next = byte();
            value |= static_cast<unsigned long long>(next & 0x7f) << shift;
            if ((next & 0x80) == 0) {
                return value;
            }
        }
        bad = true;
        return 0;
    }
    long long signedNumber() {
        const unsigned long long value = number();
        return static_cast<long long>(value >> 1) ^ -static_cast<long long>(value & 1);
    }
    int count() {
        const unsigned long long value = number();
        if (value > 1u << 30) {
            bad = true;
            return 0;
        }
        return static_cast<int>(value);
    }
    std::string text() {
        const unsigned long long size = number();
        if (bad || size > end - at) {
            bad = true;
            return std::string();
        }
        std::string value = bytes.substr(at, size);
        at += size;
        return value;
    }
    double real() {
        unsigned long long bits = 0;
        for (int i = 0; i < 8; ++i) {
            bits |= static_cast<unsigned long long>(byte()) << (8 * i);
        }
        double value = 0.0;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

private:
    const std::string& bytes;
    std::size_t at;
    std::size_t end;
    bool bad = false;
};

bool timedByRate(const IndexedFrame& frame, double fps) {
    if (!usableFrameRate(fps)) {
        return false;
    }
    const FrameTime byRate = FrameTime::fromRate(frame.frame, fps);
    return byRate.snapshotMs == frame.time.snapshotMs && byRate.seconds == frame.time.seconds;
}

}  // namespace

void ObjectIndexWriter::begin(const IndexHead& given) {
    head = given;
    bytes.assign(kMagic, kMagicSize);
    putNumber(bytes, ObjectIndex::kVersion);
    putText(bytes, head.videoPath);
    putText(bytes, head.creationTime);
    putNumber(bytes, static_cast<unsigned>(head.frameSize.width));
    putNumber(bytes, static_cast<unsigned>(head.frameSize.height));
    putDouble(bytes, head.fps);
    putSigned(bytes, head.framesAnnounced);
    putSigned(bytes, head.framesExpected);
    putSigned(bytes, head.announcedMs);
    putText(bytes, head.maskPath);
    putNumber(bytes, head.excluded.size());
    for (const std::string& line : head.excluded) {
        putText(bytes, line);
    }
    putNumber(bytes, static_cast<unsigned>(head.leastBlob));
    started = true;
    frames = 0;
    lastFrame = -1;
    lastStreamMs = 0;
}

void ObjectIndexWriter::add(const IndexedFrame& frame) {
    const bool byRate = timedByRate(frame, head.fps);
    const bool next = frame.frame == lastFrame + 1;
    bytes.push_back(static_cast<char>(static_cast<unsigned>(frame.scene.kind) |
                                      (static_cast<unsigned>(frame.scene.note) << kNoteShift) |
                                      (frame.newScene ? kNewScene : 0u) |
                                      (byRate ? kTimedByRate : 0u) | (next ? kNextFrame : 0u)));
    if (!next) {
        putNumber(bytes, static_cast<unsigned long long>(frame.frame));
    }
    if (frame.newScene) {
        putNumber(bytes, static_cast<unsigned>(frame.shownSize.width));
        putNumber(bytes, static_cast<unsigned>(frame.shownSize.height));
    }
    if (!byRate) {
        putDouble(bytes, frame.time.seconds);
        putSigned(bytes, frame.time.snapshotMs);
    }
    putSigned(bytes, frame.streamMs - lastStreamMs);
    putNumber(bytes, frame.scene.blobs.size());
    for (const ObjectBlob& blob : frame.scene.blobs) {
        putNumber(bytes, static_cast<unsigned>(blob.box.x));
        putNumber(bytes, static_cast<unsigned>(blob.box.y));
        putNumber(bytes, static_cast<unsigned>(blob.box.width));
        putNumber(bytes, static_cast<unsigned>(blob.box.height));
        putNumber(bytes, static_cast<unsigned long long>(blob.area));
    }
    lastFrame = frame.frame;
    lastStreamMs = frame.streamMs;
    ++frames;
}

std::string ObjectIndexWriter::finish() {
    std::string whole = std::move(bytes);
    whole.push_back(static_cast<char>(kEnd));
    putNumber(whole, static_cast<unsigned long long>(frames));
    whole += textDigest(whole);
    started = false;
    return whole;
}

std::string parseObjectIndex(const std::string& bytes, const std::string& name,
                             ObjectIndex& index) {
    if (bytes.size() < kMagicSize || bytes.compare(0, kMagicSize, kMagic) != 0) {
        return name + " is no object index";
    }
    Reader version(bytes, kMagicSize, bytes.size());
    const unsigned long long found = version.number();
    if (version.failed() || found != ObjectIndex::kVersion) {
        return formatText("%s is an object index of version %llu; this program reads version %d",
                          name.c_str(), found, ObjectIndex::kVersion);
    }
    const std::string damaged = name + " is damaged: cut short or changed since it was written";
    if (bytes.size() < kMagicSize + kDigestSize ||
        textDigest(bytes.substr(0, bytes.size() - kDigestSize)) !=
            bytes.substr(bytes.size() - kDigestSize)) {
        return damaged;
    }
    Reader in(bytes, kMagicSize, bytes.size() - kDigestSize);
    in.number();
    IndexHead& head = index.head;
    head.videoPath = in.text();
    head.creationTime = in.text();
    head.frameSize.width = in.count();
    head.frameSize.height = in.count();
    head.fps = in.real();
    head.framesAnnounced = in.signedNumber();
    head.framesExpected = in.signedNumber();
    head.announcedMs = in.signedNumber();
    head.maskPath = in.text();
    head.excluded.resize(in.count());
    for (std::string& line : head.excluded) {
        line = in.text();
    }
    head.leastBlob = in.count();
    index.frames.clear();
    long long lastFrame = -1;
    long long lastStreamMs = 0;
    while (!in.failed()) {
        const unsigned flags = in.byte();
        if (flags == kEnd) {
            break;
        }
        if ((flags & kKindBits) > static_cast<unsigned>(SceneFrame::Kind::Watched) ||
            (flags & ~(kKindBits | kNoteBits | kNewScene | kTimedByRate | kNextFrame)) != 0) {
            return damaged;
        }
        IndexedFrame frame;
        frame.frame =
            (flags & kNextFrame) != 0 ? lastFrame + 1 : static_cast<long long>(in.number());
        frame.scene.kind = static_cast<SceneFrame::Kind>(flags & kKindBits);
        frame.scene.note = static_cast<ObjectOutcome::Note>((flags & kNoteBits) >> kNoteShift);
        frame.newScene = (flags & kNewScene) != 0;
        if (frame.newScene) {
            frame.shownSize.width = in.count();
            frame.shownSize.height = in.count();
        }
        if ((flags & kTimedByRate) != 0) {
            frame.time = FrameTime::fromRate(frame.frame, head.fps);
        } else {
            frame.time.seconds = in.real();
            frame.time.snapshotMs = in.signedNumber();
        }
        frame.streamMs = lastStreamMs + in.signedNumber();
        frame.scene.blobs.resize(in.count());
        for (ObjectBlob& blob : frame.scene.blobs) {
            blob.box.x = in.count();
            blob.box.y = in.count();
            blob.box.width = in.count();
            blob.box.height = in.count();
            blob.area = static_cast<long long>(in.number());
        }
        lastFrame = frame.frame;
        lastStreamMs = frame.streamMs;
        index.frames.push_back(std::move(frame));
    }
    const unsigned long long frames = in.number();
    if (in.failed() || !in.atEnd() || frames != index.frames.size() ||
        (!index.frames.empty() && !index.frames.front().newScene)) {
        return damaged;
    }
    return std::string();
}

std::string readObjectIndex(const std::string& path, ObjectIndex& index) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return formatText("%s cannot be read: %s", path.c_str(), std::strerror(errno));
    }
    std::ostringstream bytes;
    bytes << file.rdbuf();
    if (file.bad()) {
        return path + " cannot be read";
    }
    return parseObjectIndex(bytes.str(), path, index);
}

RegionShapes questionShapes(const IndexHead& head, const RegionShapes& asked) {
    RegionShapes shapes;
    for (const RegionShape& shape : asked) {
        if (shape.keep) {
            shapes.push_back(shape);
        }
    }
    std::string lines;
    for (const std::string& line : head.excluded) {
        lines += line + "\n";
    }
    RegionShapes excluded;
    parseRegionText(lines, excluded);  // written by regionLines, so read back as they were
    shapes.insert(shapes.end(), excluded.begin(), excluded.end());
    return shapes;
}

std::string questionRefusal(const IndexHead& head, const RegionShapes& asked,
                            const std::string& maskGiven, const ObjectSettings& settings) {
    if (!maskGiven.empty() && maskGiven != head.maskPath) {
        return head.maskPath.empty()
                   ? "the scan watched the whole picture, so a mask would change what it learnt"
                   : "the scan learnt the scene through the mask " + head.maskPath +
                         "; another would change what it learnt";
    }
    RegionShapes excluded;
    for (const RegionShape& shape : asked) {
        if (!shape.keep) {
            excluded.push_back(shape);
        }
    }
    if (!excluded.empty() && regionLines(excluded) != head.excluded) {
        return head.excluded.empty()
                   ? "the scan left no polygon out, and one left out would change what it learnt"
                   : "the scan left out other polygons, and they shaped what it learnt";
    }
    const std::string outside = regionsOutside(asked, head.frameSize);
    if (!outside.empty()) {
        return outside;
    }
    const int least = ObjectJudge::leastArea(settings, head.frameSize);
    if (least < head.leastBlob) {
        return formatText(
            "the index keeps objects of %d of its pixels and more, and the least "
            "object asked for is %d",
            head.leastBlob, least);
    }
    return std::string();
}

std::vector<std::string> objectIndexFolders(const std::string& folder) {
    namespace fs = std::filesystem;
    std::vector<std::string> folders;
    std::error_code error;
    if (fs::is_regular_file(fs::path(folder) / kObjectIndexName, error)) {
        folders.push_back(folder);
    }
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        if (!it->is_directory(error)) {
            continue;
        }
        const std::string name = it->path().filename().string();
        if (name.rfind(kSearchFolderPrefix, 0) == 0 || name.rfind('.', 0) == 0) {
            it.disable_recursion_pending();
            continue;
        }
        if (fs::is_regular_file(it->path() / kObjectIndexName, error)) {
            folders.push_back(it->path().string());
        }
    }
    std::sort(folders.begin() + (folders.empty() || folders.front() != folder ? 0 : 1),
              folders.end());
    return folders;
}

std::string questionName(const RegionShapes& shapes, const ObjectSettings& settings,
                         long long eventGapMs, const std::vector<std::string>& between) {
    std::string question;
    for (const std::string& line : regionLines(shapes)) {
        question += line + '\n';
    }
    question += formatText("least %.17g %lld %lld\ngap %lld\n", settings.share, settings.pixels,
                           settings.leastMs, eventGapMs);
    for (const std::string& time : between) {
        question += "between " + time + '\n';
    }
    return textDigest(question).substr(0, 8);
}

}  // namespace pelmora
