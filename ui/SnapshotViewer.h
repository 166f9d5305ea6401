#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>
#include <cstddef>
#include <vector>

#include "RegionShapes.h"
#include "RunObserver.h"

class QLabel;
class QScrollArea;

// One snapshot at a time out of a row of them (an event's), scaled to fit, with its file name,
// time and changed pixels below. Left and Right (Home and End) step through the row; a double
// click opens the snapshot at its full size in a window of its own.
class SnapshotViewer : public QWidget {
    Q_OBJECT

public:
    explicit SnapshotViewer(QWidget* parent = nullptr);

    void clear();
    // The polygons of the run, drawn over each snapshot.
    void setRegions(const pelmora::RegionShapes& shapes);
    // Shows snapshots[at] (at is kept within the row), from the run's folder.
    void showSnapshots(const QString& folder, std::vector<pelmora::SnapshotOutcome> snapshots,
                       std::size_t at);
    // Moves by that many snapshots, no further than the first or the last.
    void step(long long by);

    // The snapshot on show; nullptr when there is none.
    const pelmora::SnapshotOutcome* current() const;
    std::size_t position() const { return at; }
    std::size_t count() const { return snapshots.size(); }
    QString caption() const;

    // The window of the snapshot on show at full size, gone when closed; nullptr when none
    // is shown or its file could not be read.
    QScrollArea* openFullSize();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void snapshotShown(long long timeMs);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showCurrent();
    void fit();

    QLabel* picture;
    QLabel* captionLabel;
    QString folder;
    std::vector<pelmora::SnapshotOutcome> snapshots;
    std::size_t at = 0;
    QPixmap full;  // the snapshot on show as read, for fitting it again at another size
    pelmora::RegionShapes regions;
};
