#include "WindowPlacement.h"

#include <QScreen>
#include <algorithm>

// Opens a window of its own beside the main window, within the screen: to its right, else to
// its left, else, when the main window leaves no room, over its lower part at the screen's
// right, never over the form's controls; as small as it must be to fit there.
void placeBeside(QWidget& window, const QMainWindow& main) {
    constexpr int kGap = 8;
    const QScreen* screen = main.screen();
    if (screen == nullptr) {
        return;
    }
    const QRect free = screen->availableGeometry();
    const QRect frame = main.frameGeometry();
    QSize size = window.size().boundedTo(QSize(free.width(), free.height() - kTitleBar));
    const int top =
        std::max(free.top(), std::min(frame.top(), free.bottom() - kTitleBar - size.height()));
    if (frame.right() + kGap + size.width() <= free.right()) {
        window.move(frame.right() + kGap, top);
    } else if (frame.left() - kGap - size.width() >= free.left()) {
        window.move(frame.left() - kGap - size.width(), top);
    } else {
        const QWidget* form = main.centralWidget();
        const int below = form->mapToGlobal(QPoint(0, form->height())).y() + kGap;
        const int room = free.bottom() - below - kTitleBar;
        if (room >= size.height() / 2) {
            size.setHeight(std::min(size.height(), room));
            window.resize(size);
            window.move(free.right() - size.width(), below);
        } else {
            window.move(free.right() - size.width(), free.bottom() - kTitleBar - size.height());
        }
    }
}
