#include "TimelineChart.h"

#include <algorithm>
#include <cmath>

#include "ChartAxes.h"
#include "TextFormat.h"

namespace pelmora {

namespace {

// The drawing's own units; the page scales it to its width.
constexpr double kWidth = 1000.0;
constexpr double kHeight = 260.0;
constexpr double kLeft = 46.0;
constexpr double kRight = 12.0;
constexpr double kTop = 12.0;
constexpr double kBottom = 28.0;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kPlotHeight = kHeight - kTop - kBottom;
// An event of one frame still shows.
constexpr double kNarrowestBand = 3.0;

// Where times and pixel counts go in the drawing.
class Scale {
public:
    Scale(long long endMs, long long topPixels)
        : endMs(static_cast<double>(std::max(endMs, 1LL))),
          topLog(std::log10(1.0 + static_cast<double>(topPixels))) {}

    double x(double ms) const { return kLeft + kPlotWidth * ms / endMs; }
    double y(double pixels) const {
        const double share = std::log10(1.0 + std::max(pixels, 0.0)) / topLog;
        return kTop + kPlotHeight * (1.0 - std::min(share, 1.0));
    }

private:
    double endMs;
    double topLog;
};

}  // namespace

std::string timelineChart(const std::vector<TimelineBucket>& buckets,
                          const std::vector<MotionEvent>& events, int minPixels,
                          long long scalePixels) {
    const long long endMs = buckets.empty() ? 0 : buckets.back().endMs;
    const long long top = pixelScaleTop(scalePixels, minPixels);
    const Scale scale(endMs, top);
    std::string svg = formatText(
        "<svg class=\"timeline\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %g %g\" "
        "width=\"%g\" height=\"%g\" role=\"img\" aria-label=\"Changed pixels over time\">\n",
        kWidth, kHeight, kWidth, kHeight);

    // The pixel scale: 0, 10, 100, ... with light lines across.
    for (long long pixels = 0; pixels <= top; pixels = pixels == 0 ? 10 : pixels * 10) {
        const double y = scale.y(static_cast<double>(pixels));
        svg += formatText(
            "<line class=\"grid\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>"
            "<text class=\"axis\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%s</text>\n",
            kLeft, y, kWidth - kRight, y, kLeft - 6.0, y + 4.0, pixelMarkLabel(pixels).c_str());
    }
    // The time marks along the bottom.
    const long long step = timeMarkStep(std::max(endMs, 1LL));
    for (long long ms = 0; ms <= endMs; ms += step) {
        const double x = scale.x(static_cast<double>(ms));
        svg += formatText(
            "<line class=\"tick\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>"
            "<text class=\"axis\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%s</text>\n",
            x, kTop + kPlotHeight, x, kTop + kPlotHeight + 5.0, x, kHeight - 8.0,
            timeMarkLabel(ms, endMs).c_str());
    }

    for (const MotionEvent& event : events) {
        const double from = scale.x(static_cast<double>(event.startMs));
        const double width =
            std::max(scale.x(static_cast<double>(event.endMs)) - from, kNarrowestBand);
        svg += formatText(
            "<rect class=\"event\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\">"
            "<title>Event %d: %s to %s</title></rect>\n",
            std::min(from, kWidth - kRight - width), kTop, width, kPlotHeight, event.number,
            timecode(event.startMs).c_str(), timecode(event.endMs).c_str());
    }

    // Each bucket at its middle: along the most, then back along the least.
    std::string most;
    std::string least;
    for (auto bucket = buckets.begin(); bucket != buckets.end(); ++bucket) {
        const double x = scale.x(static_cast<double>(bucket->startMs + bucket->endMs) / 2.0);
        most += formatText("%s%.1f,%.1f", most.empty() ? "" : " ", x,
                           scale.y(static_cast<double>(bucket->most)));
    }
    for (auto bucket = buckets.rbegin(); bucket != buckets.rend(); ++bucket) {
        const double x = scale.x(static_cast<double>(bucket->startMs + bucket->endMs) / 2.0);
        least += formatText(" %.1f,%.1f", x, scale.y(static_cast<double>(bucket->least)));
    }
    svg += "<polygon class=\"range\" points=\"" + most + least + "\"/>\n";
    svg += "<polyline class=\"most\" points=\"" + most + "\"/>\n";

    const double triggerY = scale.y(static_cast<double>(minPixels));
    svg += formatText(
        "<line class=\"trigger\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>"
        "<text class=\"trigger-label\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">"
        "trigger: more than %d</text>\n",
        kLeft, triggerY, kWidth - kRight, triggerY, kWidth - kRight - 4.0, triggerY - 5.0,
        minPixels);
    svg +=
        formatText("<line class=\"axis-line\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n",
                   kLeft, kTop + kPlotHeight, kWidth - kRight, kTop + kPlotHeight);
    return svg + "</svg>\n";
}

}  // namespace pelmora
