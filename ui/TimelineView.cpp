#include "TimelineView.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

#include "ChartAxes.h"

namespace {

// The report's colours, so that the window and the page read alike.
const QColor kRangeColour(0x7f, 0xb8, 0xc0);
const QColor kMostColour(0x13, 0x70, 0x7a);
const QColor kEventColour(0xe9, 0x82, 0x2f, 56);
const QColor kTriggerColour(0xc2, 0x41, 0x3a);
const QColor kGridColour(0xe4, 0xe8, 0xed);
const QColor kAxisColour(0x8a, 0x93, 0xa2);
const QColor kLabelColour(0x5a, 0x63, 0x72);
const QColor kMarkerColour(0x12, 0x21, 0x3f);

// An event of one frame still shows.
constexpr double kNarrowestBand = 3.0;
constexpr double kGap = 4.0;

double logPixels(double pixels) {
    return std::log10(1.0 + std::max(pixels, 0.0));
}

// A start against black may reach past the top, which the scale leaves out: it is cut off there.
double yOf(const QRectF& plot, long long top, double pixels) {
    return plot.bottom() -
           plot.height() * std::min(logPixels(pixels) / logPixels(static_cast<double>(top)), 1.0);
}

}  // namespace

TimelineView::TimelineView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setCursor(Qt::CrossCursor);
    setToolTip(tr("Changed pixels over time: click to see the snapshot nearest that moment"));
    repaintTimer.setSingleShot(true);
    repaintTimer.setInterval(kRepaintIntervalMs);
    connect(&repaintTimer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

void TimelineView::beginRun(int runMinPixels, long long runExpectedEndMs) {
    series = pelmora::Timeline();
    events.clear();
    clearOpenEvent();
    minPixels = runMinPixels;
    expectedEndMs = std::max(runExpectedEndMs, 0LL);
    markerMs = -1;
    changed();
}

void TimelineView::addFrame(long long timeMs, int changedPixels, bool scaled) {
    series.add(timeMs, changedPixels, scaled);
    changed();
}

void TimelineView::addEvent(const pelmora::MotionEvent& event) {
    events.emplace_back(event.startMs, event.endMs);
    changed();
}

void TimelineView::setOpenEvent(long long startMs, long long endMs) {
    openEvent = {startMs, endMs};
    changed();
}

void TimelineView::clearOpenEvent() {
    openEvent = {0, -1};
    changed();
}

void TimelineView::finishRun() {
    if (!series.buckets().empty()) {
        expectedEndMs = 0;
    }
    clearOpenEvent();
}

void TimelineView::setMarker(long long ms) {
    markerMs = ms;
    changed();
}

QPoint TimelineView::pointAt(long long ms) const {
    const QRectF plot = plotArea();
    return QPointF(xAt(plot, static_cast<double>(ms)), plot.center().y()).toPoint();
}

QSize TimelineView::sizeHint() const {
    return {520, 110};
}

QSize TimelineView::minimumSizeHint() const {
    return {200, 70};
}

void TimelineView::changed() {
    if (!repaintTimer.isActive()) {
        repaintTimer.start();
    }
}

QRectF TimelineView::plotArea() const {
    const QFontMetrics metrics(font());
    const double left = metrics.horizontalAdvance(QStringLiteral("100k")) + 2 * kGap;
    const double bottom = metrics.height() + kGap;
    return QRectF(left, kGap, std::max(width() - left - 2 * kGap, 1.0),
                  std::max(height() - kGap - bottom, 1.0));
}

long long TimelineView::endMs() const {
    const long long lastMs = series.buckets().empty() ? 0 : series.buckets().back().endMs;
    return std::max(lastMs, expectedEndMs);
}

double TimelineView::xAt(const QRectF& plot, double ms) const {
    return plot.left() + plot.width() * ms / static_cast<double>(std::max(endMs(), 1LL));
}

long long TimelineView::momentAt(double x) const {
    const QRectF plot = plotArea();
    const double share = std::clamp((x - plot.left()) / plot.width(), 0.0, 1.0);
    return std::llround(share * static_cast<double>(endMs()));
}

void TimelineView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || series.buckets().empty()) {
        QWidget::mousePressEvent(event);
        return;
    }
    emit momentChosen(momentAt(event->localPos().x()));
}

void TimelineView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) || series.buckets().empty()) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    emit momentChosen(momentAt(event->localPos().x()));
}

void TimelineView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const QRectF plot = plotArea();
    painter.fillRect(plot, Qt::white);
    const long long top = pelmora::pixelScaleTop(series.scalePixels(), minPixels);
    paintAxes(painter, plot, top);
    if (series.buckets().empty()) {
        painter.setPen(kLabelColour);
        painter.drawText(plot, Qt::AlignCenter, tr("No frames read yet"));
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    paintEvents(painter, plot);
    paintActivity(painter, plot, top);
    paintTrigger(painter, plot, top);
    if (markerMs >= 0) {
        const double x = xAt(plot, static_cast<double>(markerMs));
        painter.setPen(QPen(kMarkerColour, 1.5));
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    }
}

void TimelineView::paintAxes(QPainter& painter, const QRectF& plot, long long top) const {
    const QFontMetrics metrics(font());
    // Marks that would overlap their neighbour are left unlabelled.
    double lastLabelY = plot.bottom() + metrics.height();
    for (long long pixels = 0; pixels <= top; pixels = pixels == 0 ? 10 : pixels * 10) {
        const double y = yOf(plot, top, static_cast<double>(pixels));
        painter.setPen(kGridColour);
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        if (lastLabelY - y >= metrics.height()) {
            painter.setPen(kLabelColour);
            const QString label = QString::fromStdString(pelmora::pixelMarkLabel(pixels));
            painter.drawText(
                QRectF(0, y - metrics.height() / 2.0, plot.left() - kGap, metrics.height()),
                Qt::AlignRight | Qt::AlignVCenter, label);
            lastLabelY = y;
        }
    }
    const long long end = std::max(endMs(), 1LL);
    const long long step = pelmora::timeMarkStep(end);
    double lastLabelRight = -1.0;
    for (long long ms = 0; ms <= end; ms += step) {
        const double x = xAt(plot, static_cast<double>(ms));
        painter.setPen(kAxisColour);
        painter.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.bottom() + kGap));
        const QString label = QString::fromStdString(pelmora::timeMarkLabel(ms, end));
        const double labelWidth = metrics.horizontalAdvance(label);
        const double left = std::clamp(x - labelWidth / 2.0, 0.0, width() - labelWidth);
        if (left > lastLabelRight + kGap) {
            painter.setPen(kLabelColour);
            painter.drawText(QPointF(left, plot.bottom() + kGap + metrics.ascent()), label);
            lastLabelRight = left + labelWidth;
        }
    }
    painter.setPen(kAxisColour);
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
}

void TimelineView::paintEvents(QPainter& painter, const QRectF& plot) const {
    const auto shade = [&](const Span& span) {
        const double from = xAt(plot, static_cast<double>(span.first));
        const double to =
            std::max(xAt(plot, static_cast<double>(span.second)), from + kNarrowestBand);
        painter.fillRect(QRectF(std::min(from, plot.right() - (to - from)), plot.top(), to - from,
                                plot.height()),
                         kEventColour);
    };
    for (const Span& span : events) {
        shade(span);
    }
    if (openEvent.second >= openEvent.first) {
        shade(openEvent);
    }
}

void TimelineView::paintActivity(QPainter& painter, const QRectF& plot, long long top) const {
    const auto& buckets = series.buckets();
    // Each bucket at its middle: along the most, then back along the least.
    const auto xOf = [&](const pelmora::TimelineBucket& bucket) {
        return xAt(plot, static_cast<double>(bucket.startMs + bucket.endMs) / 2.0);
    };
    QPolygonF most;
    most.reserve(static_cast<int>(buckets.size()));
    for (const pelmora::TimelineBucket& bucket : buckets) {
        most << QPointF(xOf(bucket), yOf(plot, top, bucket.most));
    }
    QPolygonF band = most;
    for (auto bucket = buckets.rbegin(); bucket != buckets.rend(); ++bucket) {
        band << QPointF(xOf(*bucket), yOf(plot, top, bucket->least));
    }
    painter.setPen(QPen(kRangeColour, 0.6));
    painter.setBrush(kRangeColour);
    painter.drawPolygon(band);
    painter.setPen(QPen(kMostColour, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolyline(most);
}

void TimelineView::paintTrigger(QPainter& painter, const QRectF& plot, long long top) const {
    const double y = yOf(plot, top, minPixels);
    QPen dashed(kTriggerColour, 1.5);
    dashed.setDashPattern({4.0, 3.0});
    painter.setPen(dashed);
    painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    const QFontMetrics metrics(font());
    const QString label = tr("trigger: more than %1").arg(minPixels);
    // On a pale plate of its own, so that the activity drawn under it, dense at a low
    // threshold, never makes it unreadable.
    const QPointF baseline(plot.right() - kGap - metrics.horizontalAdvance(label),
                           std::max(y - kGap, plot.top() + metrics.ascent()));
    const QRectF plate(baseline.x() - 2.0, baseline.y() - metrics.ascent() - 1.0,
                       metrics.horizontalAdvance(label) + 4.0, metrics.height() + 2.0);
    QColor paper(Qt::white);
    paper.setAlpha(220);
    painter.setPen(Qt::NoPen);
    painter.setBrush(paper);
    painter.drawRect(plate);
    painter.setPen(kTriggerColour);
    painter.drawText(baseline, label);
}
