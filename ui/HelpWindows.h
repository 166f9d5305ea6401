#pragma once

#include <QIcon>
#include <QWidget>

// The user guide, compiled in, in a window of its own that outlives no main window.
void showUserGuide(const QIcon& icon);
// The credits, the libraries with their licences, and the build's version.
void showAbout(QWidget* parent);
