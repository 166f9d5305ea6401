#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "DetectionRun.h"
#include "RunFolder.h"

// What tells a file from a changed or replaced one: its path (readable, and its bytes, see
// JsonPath.h), size and modification time, to the nanosecond; null when it cannot be read.
nlohmann::json fileIdentity(const std::string& path);

// Where a video's start came from and, when known, the start itself: ISO 8601 with its
// offset, milliseconds since 1970 UTC, and the zone it is shown in.
nlohmann::json startRecord(const pelmora::VideoStart& start);
// The start such a record holds; none where it holds none, or none readable.
pelmora::VideoStart startFromRecord(const nlohmann::json& start);

// The record a finished video leaves beside its snapshots (".pelmora-run.json"), so that a
// batch run again with --resume skips what is done: the video (path, size, modification
// time), the settings that change what a run writes, the program's version and the counts, and
// where the video stands on the clock: its start and the span of it read.
class RunRecord {
public:
    static constexpr const char* kFileName = pelmora::kRunRecordName;

    // settings: every option that changes the files a run leaves, by name.
    RunRecord(std::string video, nlohmann::json settings);

    // The counts of the finished run that folder's record describes, when it is a run of this
    // very video with these settings by this version, and lost nothing.
    std::optional<pelmora::RunReport> findDone(const std::string& folder) const;

    // The record in folder. One that does not hold each field we write with the type we write
    // it with is no record of ours: it is none, and never read field by field.
    static std::optional<nlohmann::json> read(const std::string& folder);

    // The video the record in folder is of, by its exact path; nothing when there is no
    // readable record.
    static std::optional<std::string> recordedVideo(const std::string& folder);
    // The same of a record read already.
    static std::optional<std::string> recordedVideo(const nlohmann::json& record);

    // Writes the record of a finished run into its folder, whole or not at all; clipsLost
    // count against it as lost snapshots do.
    bool write(const pelmora::RunReport& report, long long clipsLost = 0) const;

private:
    nlohmann::json identity() const;

    std::string video;
    nlohmann::json settings;
};
