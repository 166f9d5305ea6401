#pragma once

#include <QMainWindow>

// What a window manager adds above a window for its title.
constexpr int kTitleBar = 32;

// Opens a window of its own beside the main window, within the screen: to its right, else to
// its left, else, when the main window leaves no room, over its lower part at the screen's
// right, never over the form's controls; as small as it must be to fit there.
void placeBeside(QWidget& window, const QMainWindow& main);
