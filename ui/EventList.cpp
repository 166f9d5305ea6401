#include "EventList.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <algorithm>

#include "EventTableModel.h"

namespace {

constexpr int kCellPadding = 10;

}  // namespace

EventList::EventList(QWidget* parent) : QTableView(parent), table(new EventTableModel(this)) {
    setModel(table);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAlternatingRowColors(true);
    setWordWrap(false);
    setIconSize(EventTableModel::kThumbnailSize);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalHeader()->hide();
    // Fixed sizes: sizes fitted to the contents would read every row each time one is added.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(EventTableModel::kThumbnailSize.height() + 2);
    QHeaderView* columns = horizontalHeader();
    columns->setHighlightSections(false);
    // Each column as wide as its title or a typical value, whichever is wider.
    const QFontMetrics metrics(font());
    const auto fit = [&](int column, const QString& sample) {
        const QString title = table->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
        columns->resizeSection(
            column, std::max(metrics.horizontalAdvance(title), metrics.horizontalAdvance(sample)) +
                        kCellPadding);
    };
    columns->resizeSection(EventTableModel::Peak,
                           EventTableModel::kThumbnailSize.width() + kCellPadding);
    fit(EventTableModel::Number, QStringLiteral("000"));
    fit(EventTableModel::Start, QStringLiteral("00:00:00.000"));
    fit(EventTableModel::End, QStringLiteral("00:00:00.000"));
    fit(EventTableModel::Length, QStringLiteral("00.00 s"));
    fit(EventTableModel::Snapshots, QStringLiteral("0000"));
    fit(EventTableModel::Clock, QStringLiteral("2024-05-01 08:00:00 +00:00"));
    setColumnHidden(EventTableModel::Clock, true);
    for (int column = 0; column < table->columnCount(); ++column) {
        fitted.append(columns->sectionSize(column));
    }
    // Narrower than what they need, the columns keep their widths and the list scrolls.
    columns->setMinimumSectionSize(0);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (!quiet && current.isValid()) {
                    emit eventChosen(current.row());
                }
            });
}

void EventList::clear(const QString& snapshotFolder, const pelmora::VideoStart& start) {
    table->clear(snapshotFolder);
    table->setStart(start);
    setColumnHidden(EventTableModel::Clock, !start.known());
    stretchColumns();
}

void EventList::addEvent(const pelmora::MotionEvent& event) {
    const QScrollBar* bar = verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    table->addEvent(event);
    if (atEnd) {
        scrollToBottom();
    }
}

int EventList::count() const {
    return table->rowCount();
}

const pelmora::MotionEvent& EventList::event(int row) const {
    return table->event(row);
}

int EventList::chosenRow() const {
    const QModelIndex current = selectionModel()->currentIndex();
    return current.isValid() && selectionModel()->isRowSelected(current.row(), QModelIndex())
               ? current.row()
               : -1;
}

void EventList::showRow(int row) {
    quiet = true;
    if (row < 0) {
        selectionModel()->clear();
    } else {
        selectRow(row);
        scrollTo(table->index(row, 0));
    }
    quiet = false;
}

QSize EventList::sizeHint() const {
    return {480, 180};
}

void EventList::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    stretchColumns();
}

void EventList::stretchColumns() {
    // A hidden column (the clock of a video whose start is not known) takes no room.
    int needed = 0;
    int last = 0;
    for (int column = 0; column < fitted.size(); ++column) {
        if (!isColumnHidden(column)) {
            needed += fitted.at(column);
            last = column;
        }
    }
    const int extra = std::max(0, viewport()->width() - needed);
    // The thumbnail keeps its size; the texts share the rest.
    const int textNeeded = needed - fitted.at(EventTableModel::Peak);
    int given = 0;
    for (int column = 0; column < fitted.size(); ++column) {
        if (isColumnHidden(column)) {
            continue;
        }
        int width = fitted.at(column);
        if (column != EventTableModel::Peak && textNeeded > 0) {
            const int share =
                column == last ? extra - given : extra * fitted.at(column) / textNeeded;
            given += share;
            width += share;
        }
        horizontalHeader()->resizeSection(column, width);
    }
}

void EventList::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) {
            emit stepped(event->key() == Qt::Key_Left ? -1 : 1);
            return;
        }
    }
    QTableView::keyPressEvent(event);
}
