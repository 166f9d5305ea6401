#pragma once

#include <QTableView>

#include "EventGrouper.h"

class EventTableModel;

// The events of a run, a row each, the newest kept in view while the list is scrolled to its
// end. Left and Right step through the chosen event's snapshots, as rows have nothing to
// move between sideways.
class EventList : public QTableView {
    Q_OBJECT

public:
    explicit EventList(QWidget* parent = nullptr);

    void clear(const QString& snapshotFolder);
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

private:
    EventTableModel* table;
    bool quiet = false;
};
