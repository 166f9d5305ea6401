#include "SweepCurve.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <iterator>

#include "OptionTable.h"
#include "TextFormat.h"

SweepCurve::SweepCurve(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("sweepCurve"));
    setCursor(Qt::PointingHandCursor);
    setToolTip(tr("Click to choose the threshold"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QSize SweepCurve::sizeHint() const {
    return {560, 260};
}

QSize SweepCurve::minimumSizeHint() const {
    return {240, 120};
}

void SweepCurve::setRows(const std::vector<pelmora::SweepRow>& all) {
    rows = all;
    update();
}

void SweepCurve::setTrigger(int size) {
    trigger = size;
    update();
}

void SweepCurve::setThreshold(int value) {
    threshold = value;
    update();
}

std::pair<long long, long long> SweepCurve::countsAt(int at) const {
    for (const pelmora::SweepRow& row : rows) {
        if (row.setting.threshold == at && row.setting.minPixels == trigger) {
            return {row.snapshots, row.events};
        }
    }
    return {-1, -1};
}

QRect SweepCurve::plotArea() const {
    const QFontMetrics metrics = fontMetrics();
    const int left = metrics.horizontalAdvance(QStringLiteral("10000")) + 10;
    return QRect(left, 8, std::max(1, width() - left - 12),
                 std::max(1, height() - 16 - 2 * metrics.height()));
}

int SweepCurve::xOf(int at) const {
    const QRect plot = plotArea();
    const int span = pelmora::kMaximumThreshold - pelmora::kMinimumThreshold;
    return plot.left() + plot.width() * (at - pelmora::kMinimumThreshold) / span;
}

int SweepCurve::thresholdAt(int x) const {
    const QRect plot = plotArea();
    const int span = pelmora::kMaximumThreshold - pelmora::kMinimumThreshold;
    const double share = static_cast<double>(x - plot.left()) / plot.width();
    return std::clamp(pelmora::kMinimumThreshold + static_cast<int>(std::lround(share * span)),
                      pelmora::kMinimumThreshold, pelmora::kMaximumThreshold);
}

void SweepCurve::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), palette().base());
    const QRect plot = plotArea();
    long long most = 1;
    for (const pelmora::SweepRow& row : rows) {
        if (row.setting.minPixels == trigger) {
            most = std::max(most, row.snapshots);
        }
    }
    // Powers of ten up to the first above the most.
    long long top = 10;
    while (top < most) {
        top *= 10;
    }
    const double topLog = std::log10(1.0 + static_cast<double>(top));
    const auto y = [&](long long count) {
        return plot.bottom() -
               plot.height() * std::log10(1.0 + static_cast<double>(count)) / topLog;
    };
    const QColor grid = palette().color(QPalette::Mid);
    const QColor text = palette().color(QPalette::Text);
    painter.setPen(text);
    for (long long count = 0; count <= top; count = count == 0 ? 1 : count * 10) {
        painter.setPen(QPen(grid, 0.5));
        painter.drawLine(QPointF(plot.left(), y(count)), QPointF(plot.right(), y(count)));
        painter.setPen(text);
        painter.drawText(QRectF(0, y(count) - 8, plot.left() - 6, 16),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(count));
    }
    for (int at = pelmora::kMinimumThreshold; at <= pelmora::kMaximumThreshold; at += 5) {
        painter.drawText(QRectF(xOf(at) - 20, plot.bottom() + 4, 40, fontMetrics().height()),
                         Qt::AlignHCenter | Qt::AlignTop, QString::number(at));
    }
    painter.drawText(QRectF(plot.left(), plot.bottom() + 4 + fontMetrics().height(), plot.width(),
                            fontMetrics().height()),
                     Qt::AlignHCenter | Qt::AlignTop, tr("threshold"));

    QPainterPath snapshots;
    QPainterPath events;
    for (int at = pelmora::kMinimumThreshold; at <= pelmora::kMaximumThreshold; ++at) {
        const std::pair<long long, long long> counts = countsAt(at);
        if (counts.first < 0) {
            continue;
        }
        const QPointF snapshotPoint(xOf(at), y(counts.first));
        const QPointF eventPoint(xOf(at), y(counts.second));
        if (snapshots.elementCount() == 0) {
            snapshots.moveTo(snapshotPoint);
            events.moveTo(eventPoint);
        } else {
            snapshots.lineTo(snapshotPoint);
            events.lineTo(eventPoint);
        }
    }
    const QColor colour(0x13, 0x70, 0x7a);
    painter.setPen(QPen(colour, 2));
    painter.drawPath(snapshots);
    QPen dashed(colour, 1.5);
    dashed.setStyle(Qt::DashLine);
    painter.setPen(dashed);
    painter.drawPath(events);

    const QColor chosen(0x2e, 0x7d, 0x32);
    painter.setPen(QPen(chosen, 1.5));
    painter.drawLine(xOf(threshold), plot.top(), xOf(threshold), plot.bottom());
    const std::pair<long long, long long> counts = countsAt(threshold);
    if (counts.first >= 0) {
        const QString label =
            tr("%1: %2 snapshots, %3 events").arg(threshold).arg(counts.first).arg(counts.second);
        const int labelWidth = fontMetrics().horizontalAdvance(label) + 8;
        const bool right = xOf(threshold) + labelWidth < plot.right();
        painter.drawText(QRect(right ? xOf(threshold) + 4 : xOf(threshold) - labelWidth, plot.top(),
                               labelWidth, fontMetrics().height()),
                         right ? Qt::AlignLeft : Qt::AlignRight, label);
    }
}

void SweepCurve::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        emit thresholdClicked(thresholdAt(event->pos().x()));
    }
}
