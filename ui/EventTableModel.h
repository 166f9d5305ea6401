#pragma once

#include <QAbstractTableModel>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <optional>
#include <vector>

#include "EventGrouper.h"
#include "VideoStart.h"

// The events of a run as rows: the busiest snapshot's thumbnail, number, start, end, length,
// snapshot count and clock time. A run may find hundreds of events, so a thumbnail is read only
// once its row is first drawn.
class EventTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    // Clock: the clock time of the start, where the video's start is known.
    enum Column { Peak, Number, Start, End, Length, Snapshots, Clock, ColumnCount };

    static constexpr QSize kThumbnailSize{64, 48};

    explicit EventTableModel(QObject* parent = nullptr);

    // Forgets the events; folder holds the snapshots of the next ones.
    void clear(const QString& folder);
    // The clock of the next events; their Clock column is empty while no start is known.
    void setStart(const pelmora::VideoStart& videoStart) { start = videoStart; }
    bool startKnown() const { return start.known(); }
    void addEvent(const pelmora::MotionEvent& event);
    const pelmora::MotionEvent& event(int row) const;
    // How many thumbnails have been read so far.
    int thumbnailsRead() const { return read; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QString text(const pelmora::MotionEvent& event, int column) const;
    const QPixmap& thumbnail(int row) const;

    QString folder;
    pelmora::VideoStart start;
    std::vector<pelmora::MotionEvent> events;
    // Filled as rows are drawn; a null pixmap for one that could not be read.
    mutable std::vector<std::optional<QPixmap>> thumbnails;
    mutable int read = 0;
};
