#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "EventExports.h"
#include "KnownMoments.h"
#include "OptionTable.h"
#include "RecordOptions.h"
#include "RunRequest.h"
#include "ScanSummary.h"
#include "VideoBatch.h"
#include "WatchedRegion.h"

// What pelmora-scan was asked to do.
// Its defaults and limits are those of the table of options.
struct ScanOptions {
    int threshold = static_cast<int>(pelmora::option::kThreshold.scanDefault);
    std::string outputDir;  // empty: derived from each video's path
    // snapshot writers; 0: enough for this machine
    int jobs = static_cast<int>(pelmora::option::kJobs.scanDefault);
    // videos of a batch run at once; 0: one for each processor
    int videosAtOnce = static_cast<int>(pelmora::option::kVideosAtOnce.scanDefault);
    bool quiet = false;
    bool verbose = false;  // let the decoder's own messages through
    bool events = false;   // snapshots.csv and events.csv beside the snapshots
    long long eventGapMs = pelmora::option::kEventGap.scanDefault;
    bool report = false;  // report.html too
    bool clips = false;   // a video of each event, with the lists
    pelmora::ClipMode clipMode = pelmora::ClipMode::Copy;
    long long clipBeforeMs = pelmora::option::kBefore.scanDefault;
    long long clipAfterMs = pelmora::option::kAfter.scanDefault;
    std::string maskPath;  // empty: the whole frame counts
    // The polygons as given, each a kept or an excluded one, and the file of more.
    std::vector<std::string> regionTexts;
    std::vector<std::string> excludeTexts;
    std::string regionFile;
    pelmora::WatchedRegion watched;  // read from maskPath, with every polygon
    int minPixels = static_cast<int>(pelmora::option::kMinPixels.scanDefault);
    pelmora::RunClock clock = pelmora::RunClock::Index;
    pelmora::DetectorKind detector = pelmora::DetectorKind::Classic;
    std::string minObjectText;  // --min-object as given
    // The least object as the detector has it, lasting as long as --min-duration's default says.
    pelmora::ObjectSettings objects{pelmora::ObjectSettings().share, 0,
                                    pelmora::option::kMinDuration.scanDefault};
    bool boxes = false;
    // The clock time of each video's first frame: where it comes from, and the zone.
    std::string startTimeText;  // --start-time as given
    std::string timeZoneName;   // --time-zone as given; empty: the machine's
    pelmora::StartOptions start;
    bool contactSheet = false;       // contact.jpg in each snapshot folder
    pelmora::ExportFormats exports;  // the events for other programs in each snapshot folder
    bool digest = false;             // digest.mp4 in each snapshot folder, or of the overview's day
    int digestSpeed = static_cast<int>(pelmora::option::kDigestSpeed.scanDefault);
    bool help = false;
    bool version = false;
    std::vector<std::string> videos;  // files and folders, as given
    // Batch work.
    std::string listFile;  // more videos, one a line; "-" for standard input
    std::optional<Shard> shard;
    bool resume = false;  // skip the videos a matching record says are done
    bool clean = false;   // remove the snapshots of earlier runs from each folder first
    SummaryFormat summary = SummaryFormat::Text;
    bool overview = false;           // overview.html in the output folder after the batch
    std::string overviewFromFolder;  // make overview.html of a finished batch's folder alone
    // One video across processes.
    std::optional<Shard> segment;  // scan only stretch K of N of the one video
    std::string joinFolder;        // make one run's files of the stretches in this folder
    // Every setting at once instead of one run: thresholds sweepFirst to sweepLast at each
    // trigger size, and the moments known to hold motion, read from expectPath.
    bool sweep = false;
    int sweepFirst = static_cast<int>(pelmora::option::kThreshold.minimum);
    int sweepLast = static_cast<int>(pelmora::option::kThreshold.maximum);
    std::vector<int> sweepTriggers{static_cast<int>(pelmora::option::kMinPixels.scanDefault)};
    std::string expectPath;
    std::vector<pelmora::KnownMoment> expected;
    // Only the frames between these times are swept.
    pelmora::StretchTimes stretch;
    // A question put to the object indexes in searchFolder instead of a scan.
    std::string searchFolder;
    std::string searchName;                 // empty: one made of the question
    std::vector<std::string> betweenTexts;  // START and END, as given
    bool snapshots = false;                 // the answer's snapshots saved as pictures too
};

struct ParsedOptions {
    ScanOptions options;
    std::string error;    // non-empty for a usage error
    std::string warning;  // a line to say before the work starts, such as an unreadable TZ
};

ParsedOptions parseScanOptions(const std::vector<std::string>& arguments);

// The options that change the files a run leaves, by name, for the record that --resume
// compares.
nlohmann::json resultSettings(const ScanOptions& options);

// What one video's run is asked to do and to record, as the options say.
pelmora::RecordOptions recordOptions(const ScanOptions& options);
// Why --start-time was refused: more than one video.
extern const char* const kOneStartTime;

// The frame loop's options for one video into directory (empty: derived from the video).
pelmora::RunRequest scanRequest(const ScanOptions& options, const std::string& video,
                                const std::string& directory);

// What --help prints, and every usage error after its message.
std::string scanUsage();
std::string versionText();
