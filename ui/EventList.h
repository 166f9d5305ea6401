#pragma once

#include <QTableView>
#include <QVector>

#include "EventGrouper.h"

class EventTableModel;

// The events of a run, a row each, the newest kept in view while the list is scrolled to its
// end. Left and Right step through the chosen event's snapshots, as rows have nothing to
// move between sideways.
class EventList : public QTableView {
    Q_OBJECT

public:
    explicit EventList(QWidget* parent = nullptr);

    // The events to come are of a video with that start: a column of clock times where it is
    // known.
    void clear(const QString& snapshotFolder, const pelmora::VideoStart& start = {});
    void addEvent(const pelmora::MotionEvent& event);
    int count() const;
    const pelmora::MotionEvent& event(int row) const;
    const EventTableModel& events() const { return *table; }
    // The chosen row, -1 for none.
    int chosenRow() const;
    // Chooses a row (-1 for none) without telling eventChosen, for a choice made elsewhere.
    void showRow(int row);

    QSize sizeHint() const override;

signals:
    // The user chose an event.
    void eventChosen(int row);
    void stepped(int by);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The columns share a wider list in proportion to what they need.
    void stretchColumns();

    EventTableModel* table;
    // Each column's width at the least: its title or a typical value.
    QVector<int> fitted;
    bool quiet = false;
};
