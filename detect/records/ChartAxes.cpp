#include "ChartAxes.h"

#include <algorithm>

#include "TextFormat.h"

namespace pelmora {

long long pixelScaleTop(long long scalePixels, int minPixels) {
    const long long most = std::max<long long>({scalePixels, minPixels, 1});
    long long top = 10;
    while (top < most) {
        top *= 10;
    }
    return top;
}

std::string pixelMarkLabel(long long pixels) {
    if (pixels >= 1000000) {
        return formatText("%lldM", pixels / 1000000);
    }
    if (pixels >= 1000) {
        return formatText("%lldk", pixels / 1000);
    }
    return formatText("%lld", pixels);
}

long long timeMarkStep(long long endMs) {
    static const long long kSteps[] = {10,      20,      50,       100,      200,      500,
                                       1000,    2000,    5000,     10000,    15000,    30000,
                                       60000,   120000,  300000,   600000,   900000,   1800000,
                                       3600000, 7200000, 10800000, 21600000, 43200000, 86400000};
    for (const long long step : kSteps) {
        if (endMs / step <= 10) {
            return step;
        }
    }
    return 86400000 * (endMs / 86400000 / 10 + 1);
}

std::string timeMarkLabel(long long ms, long long endMs) {
    if (endMs < 60000) {
        return plainSeconds(ms);
    }
    const long long seconds = ms / 1000;
    return endMs < 3600000 ? minutesAndSeconds(seconds) : hoursMinutesSeconds(seconds);
}

}  // namespace pelmora
