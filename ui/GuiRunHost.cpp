#include "GuiRunHost.h"

#include <QApplication>
#include <QKeyEvent>
#include <QProgressBar>
#include <QWidget>

#include "DisplayWindow.h"

GuiRunHost::GuiRunHost(QWidget& window, QProgressBar& progressBar, bool detailed)
    : window(window), progressBar(progressBar), detailed(detailed) {
    qApp->installEventFilter(this);
}

GuiRunHost::~GuiRunHost() {
    qApp->removeEventFilter(this);
}

void GuiRunHost::progress(int percent) {
    progressBar.setValue(percent);
}

bool GuiRunHost::stopAfterFrame() {
    // The display windows' key wait turns the toolkit's event loop itself; a quiet run has
    // none, so it lets the window handle its events here.
    if (detailed) {
        return pelmora::escapeTypedInDisplay() || stopRequested;
    }
    QCoreApplication::processEvents();
    return stopRequested;
}

bool GuiRunHost::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close && watched == &window) {
        closed = true;
        stopRequested = true;
    } else if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
               static_cast<QWidget*>(watched)->window() == &window &&
               static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        stopRequested = true;
        return true;
    }
    return QObject::eventFilter(watched, event);
}
