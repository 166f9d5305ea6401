#pragma once

#include <QWidget>
#include <utility>
#include <vector>

#include "SweepTally.h"

// Snapshots (solid) and events (dashed) by threshold at one trigger size, on a logarithmic
// scale, with the threshold chosen marked; a click picks the threshold under it.
class SweepCurve : public QWidget {
    Q_OBJECT

public:
    explicit SweepCurve(QWidget* parent = nullptr);

    void setRows(const std::vector<pelmora::SweepRow>& rows);
    void setTrigger(int trigger);
    void setThreshold(int threshold);
    // The counts drawn for threshold at the trigger size: snapshots and events, or -1 each
    // where the sweep has no such setting.
    std::pair<long long, long long> countsAt(int threshold) const;
    // Where the point of threshold lies across the widget, for a click on it.
    int xOf(int threshold) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void thresholdClicked(int threshold);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QRect plotArea() const;
    int thresholdAt(int x) const;

    std::vector<pelmora::SweepRow> rows;
    int trigger = 0;
    int threshold = 0;
};
