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
    // In whole numbers: in doubles 232 of 400 comes out a hair under 58 and shows as 57. Wide
    // enough that no count overflows.
    if (frameCount <= 0 || framesDone < 0) {
        return -1;
    }
    const __int128 percent = static_cast<__int128>(framesDone) * 100 / frameCount;
    // More than a hundredth past the count: the count was wrong, and there is no percentage.
    return percent <= 100 ? static_cast<int>(percent) : -1;
}

}  // namespace pelmora
