#include "EventTableModel.h"

#include <QDir>
#include <QImageReader>

#include "TextFormat.h"

EventTableModel::EventTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void EventTableModel::clear(const QString& snapshotFolder) {
    beginResetModel();
    folder = snapshotFolder;
    events.clear();
    thumbnails.clear();
    read = 0;
    endResetModel();
}

void EventTableModel::addEvent(const pelmora::MotionEvent& event) {
    const int row = static_cast<int>(events.size());
    beginInsertRows(QModelIndex(), row, row);
    events.push_back(event);
    thumbnails.emplace_back();
    endInsertRows();
}

const pelmora::MotionEvent& EventTableModel::event(int row) const {
    return events.at(static_cast<std::size_t>(row));
}

int EventTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(events.size());
}

int EventTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant EventTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const pelmora::MotionEvent& event = events[static_cast<std::size_t>(index.row())];
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole:
            return text(event, column);
        case Qt::DecorationRole:
            if (column == Peak && event.pictureSaved && !thumbnail(index.row()).isNull()) {
                return thumbnail(index.row());
            }
            return {};
        case Qt::ToolTipRole:
            return column == Peak ? tr("%1; the busiest snapshot had %2 changed pixels")
                                        .arg(QString::fromStdString(event.pictureFile))
                                        .arg(event.peakPixels)
                                  : QVariant();
        case Qt::TextAlignmentRole:
            return column == Number || column == Snapshots
                       ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                       : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
        default:
            return {};
    }
}

QVariant EventTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    switch (section) {
        case Peak:
            return tr("Picture");
        case Number:
            return tr("Event");
        case Start:
            return tr("Start");
        case End:
            return tr("End");
        case Length:
            return tr("Length");
        case Snapshots:
            return tr("Snapshots");
        case Clock:
            return tr("Clock time");
        default:
            return {};
    }
}

QString EventTableModel::text(const pelmora::MotionEvent& event, int column) const {
    switch (column) {
        case Peak:
            return event.pictureSaved ? QString() : tr("not saved");
        case Number:
            return QString::number(event.number);
        case Start:
            return QString::fromStdString(pelmora::timecode(event.startMs));
        case End:
            return QString::fromStdString(pelmora::timecode(event.endMs));
        case Length:
            return QString::fromStdString(pelmora::plainSeconds(event.endMs - event.startMs));
        case Snapshots:
            return QString::number(event.snapshots);
        case Clock:
            return start.known() ? QString::fromStdString(pelmora::readableClockTime(
                                       start.utcAt(event.startMs), start.zone))
                                 : QString();
        default:
            return {};
    }
}

const QPixmap& EventTableModel::thumbnail(int row) const {
    std::optional<QPixmap>& slot = thumbnails[static_cast<std::size_t>(row)];
    if (!slot) {
        const pelmora::MotionEvent& event = events[static_cast<std::size_t>(row)];
        QImageReader reader(QDir(folder).filePath(QString::fromStdString(event.pictureFile)));
        // The decoder scales while it reads, far cheaper than a whole picture scaled after.
        const QSize size = reader.size();
        if (size.isValid()) {
            reader.setScaledSize(size.scaled(kThumbnailSize, Qt::KeepAspectRatio));
        }
        slot = QPixmap::fromImage(reader.read());
        ++read;
    }
    return *slot;
}
