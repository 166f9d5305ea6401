#pragma once

#include <QPoint>
#include <QRectF>
#include <QTimer>
#include <QWidget>
#include <utility>
#include <vector>

#include "EventGrouper.h"
#include "Timeline.h"

// A run's activity as it comes: the changed pixels of each bucket of the core's timeline from
// its least to its most on the report's logarithmic scale, the trigger level, the events
// shaded and the moment of the snapshot on show. A click or a drag chooses a moment.
class TimelineView : public QWidget {
    Q_OBJECT

public:
    // A run delivers frames far faster than a screen refreshes.
    static constexpr int kRepaintIntervalMs = 33;

    explicit TimelineView(QWidget* parent = nullptr);

    // Forgets the previous run. expectedEndMs is the video's length as its container gives it
    // (0 when unknown), so that the drawing fills from the left instead of stretching with
    // every frame.
    void beginRun(int minPixels, long long expectedEndMs);
    // A frame that is not scaled is drawn but sets no scale (see pelmora::Timeline::add).
    void addFrame(long long timeMs, int changedPixels, bool scaled = true);
    void addEvent(const pelmora::MotionEvent& event);
    // The event that has begun but not yet closed, as far as it has come.
    void setOpenEvent(long long startMs, long long endMs);
    void clearOpenEvent();
    // Time now runs to the last frame read, however long the container said the video was.
    void finishRun();
    // The moment of the snapshot on show; negative for none.
    void setMarker(long long ms);

    const pelmora::Timeline& timeline() const { return series; }
    // Where a moment lies on the drawing, halfway up.
    QPoint pointAt(long long ms) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void momentChosen(long long ms);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    using Span = std::pair<long long, long long>;

    void changed();
    QRectF plotArea() const;
    long long endMs() const;
    double xAt(const QRectF& plot, double ms) const;
    long long momentAt(double x) const;
    void paintAxes(QPainter& painter, const QRectF& plot, long long top) const;
    void paintEvents(QPainter& painter, const QRectF& plot) const;
    void paintActivity(QPainter& painter, const QRectF& plot, long long top) const;
    void paintTrigger(QPainter& painter, const QRectF& plot, long long top) const;

    pelmora::Timeline series;
    std::vector<Span> events;
    Span openEvent{0, -1};  // none while its end is before its start
    int minPixels = 0;
    long long expectedEndMs = 0;
    long long markerMs = -1;
    QTimer repaintTimer;
};
