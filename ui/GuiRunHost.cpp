#include "GuiRunHost.h"

#include <QApplication>
#include <QKeyEvent>
#include <QProgressBar>
#include <QWidget>
#include <utility>

GuiRunHost::GuiRunHost(QWidget& window, QProgressBar& progressBar, QStringList displayTitles)
    : window(window), progressBar(progressBar), displayTitles(std::move(displayTitles)) {
    qApp->installEventFilter(this);
}

GuiRunHost::~GuiRunHost() {
    qApp->removeEventFilter(this);
}

void GuiRunHost::progress(int percent) {
    // The run reports 100 when it ends, stopped or not; a stopped run did not get that far.
    if (!stopped) {
        progressBar.setValue(percent);
    }
}

bool GuiRunHost::stopAfterFrame() {
    // The run goes on inside the window's own event handling, so the window and the display
    // windows handle their events here, between frames.
    QCoreApplication::processEvents();
    stopped = stopRequested;
    return stopped;
}

bool GuiRunHost::isDisplayWindow(QObject* object) const {
    if (!object->isWidgetType()) {
        return false;
    }
    const auto* widget = static_cast<QWidget*>(object);
    return widget->isWindow() && displayTitles.contains(widget->windowTitle());
}

bool GuiRunHost::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close && watched == &window) {
        closed = true;
        stopRequested = true;
    } else if (event->type() == QEvent::Close && isDisplayWindow(watched)) {
        stopRequested = true;
    } else if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
               (static_cast<QWidget*>(watched)->window() == &window ||
                isDisplayWindow(static_cast<QWidget*>(watched)->window())) &&
               static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        stopRequested = true;
        return true;
    }
    return QObject::eventFilter(watched, event);
}
