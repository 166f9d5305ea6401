#include "RunReport.h"

#include <cstdlib>

#include "TextFormat.h"

namespace pelmora {

std::string framesText(const RunReport& report) {
    const long long difference = report.framesRead - report.framesAnnounced;
    const bool notStopped =
        report.status == RunReport::Status::Finished || report.status == RunReport::Status::Failed;
    if (notStopped && report.framesAnnounced > 0 &&
        std::llabs(difference) * 100 > report.framesAnnounced) {
        return formatText(report.framesRead == 1 ? "%lld frame read, %lld announced"
                                                 : "%lld frames read, %lld announced",
                          report.framesRead, report.framesAnnounced);
    }
    return formatText(report.framesRead == 1 ? "%lld frame" : "%lld frames", report.framesRead);
}

int progressPercent(long long framesDone, long long frameCount) {
    const double percent =
        static_cast<double>(framesDone) / static_cast<double>(frameCount) * 100.0;
    // Also false for the NaN and infinities of a zero count.
    if (!(percent > -1.0 && percent < 101.0)) {
        return -1;
    }
    return static_cast<int>(percent);
}

}  // namespace pelmora
