#pragma once

#include <cstdio>
#include <map>
#include <opencv2/core.hpp>
#include <string>
#include <utility>
#include <vector>

#include "FolderNames.h"
#include "RunObserver.h"

namespace pelmora {

// The record a run over one stretch of a video leaves in its own folder (see FolderNames.h),
// beside its snapshots, for the join that makes one run's files of all the stretches: what was
// scanned and how, where the stretch begins and ends, and what it found. Beside it, every
// frame's measure in frame order (see SegmentFrames), and the reference the stretch's run ended
// with, as a binary PPM: the picture of its last snapshot, exactly as the detector held it.

struct SegmentRecord {
    int index = 0;  // K of K/N
    int count = 1;  // N
    // What the front end says of the video and the options, by name: a join takes only
    // records that say the same of each. Names hold no spaces; values are one line each.
    std::vector<std::pair<std::string, std::string>> identity;
    RunFacts facts;  // as the stretch's run was told them, its folder aside
    long long firstFrame = 0;
    long long lastFrame = -1;
    double firstMs = 0.0;
    double lastMs = 0.0;
    bool toEnd = false;  // read to the end of the video
    long long framesRead = 0;
    // Why the stretch could not be scanned exactly; the rest says nothing then.
    std::string inexact;
    std::vector<SnapshotOutcome> snapshots;  // in frame order
    // The checksum (see Digest) of each file the stretch left in its folder, by name: its
    // measures, its reference and its snapshots. A stretch's files are copied between
    // machines, and a join takes them only as they were written.
    std::map<std::string, std::string> fileDigests;
};

// Writes the record into folder, whole or not at all; returns why it could not, or nothing.
// The record carries a checksum of its own lines, so that a line lost or changed since shows.
std::string writeSegmentRecord(const std::string& folder, const SegmentRecord& record);
// Reads the record in folder; returns why it is none, or nothing.
std::string readSegmentRecord(const std::string& folder, SegmentRecord& record);

// Sets the record's fileDigests to the checksums of the files in folder that a join of the
// stretch reads: its measures and reference (when it has them) and every saved snapshot.
// Returns why one cannot be read, or nothing.
std::string digestSegmentFiles(const std::string& folder, SegmentRecord& record);
// Why the files in folder that a join reads are not those the record's checksums were made of
// (naming the file), or nothing.
std::string checkSegmentFiles(const std::string& folder, const SegmentRecord& record);

// The per-frame measures of a stretch, written as they come and read back in the same order:
// thirteen bytes a frame (time and changed pixels as little-endian whole numbers, and whether
// the frame was compared with black), the same on every machine.
class SegmentFrames {
public:
    SegmentFrames() = default;
    ~SegmentFrames();
    SegmentFrames(const SegmentFrames&) = delete;
    SegmentFrames& operator=(const SegmentFrames&) = delete;

    // Why the file cannot be made or read, or nothing.
    std::string create(const std::string& path);
    std::string openForReading(const std::string& path);
    void add(const FrameMeasure& measure);
    // Frame frame's measure, the next in the file; false when the file ends or is damaged.
    bool next(long long frame, FrameMeasure& measure);
    // Closes the file; why a write failed, or nothing.
    std::string close();

private:
    std::FILE* file = nullptr;
    bool writing = false;
    bool failed = false;
};

// The reference image as a binary PPM, and back; why it failed, or nothing.
std::string writeReferenceImage(const std::string& path, const cv::Mat& image);
std::string readReferenceImage(const std::string& path, cv::Mat& image);

}  // namespace pelmora
