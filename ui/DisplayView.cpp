#include "DisplayView.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QPixmap>
#include <QScreen>
#include <algorithm>

namespace {

// Room kept between windows, and the narrowest strip beside the main window worth using.
constexpr int kGap = 8;
constexpr int kNarrowest = 240;
// What a window manager adds above a window for its title.
constexpr int kTitle = 32;

}  // namespace

DisplayWindow::DisplayWindow(const QString& title) {
    setWindowTitle(title);
    setAttribute(Qt::WA_QuitOnClose, false);
    setAlignment(Qt::AlignCenter);
    setMinimumSize(64, 48);
    // The picture follows the window's size, never the other way round.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    setStyleSheet(QStringLiteral("background: black"));
}

void DisplayWindow::showPicture(const QImage& picture) {
    last = picture;
    showScaled();
}

void DisplayWindow::showScaled() {
    if (!last.isNull()) {
        setPixmap(
            QPixmap::fromImage(last.scaled(size(), Qt::KeepAspectRatio, Qt::FastTransformation)));
    }
}

void DisplayWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        emit stopRequested();
        return;
    }
    QLabel::keyPressEvent(event);
}

void DisplayWindow::closeEvent(QCloseEvent* event) {
    emit stopRequested();
    QLabel::closeEvent(event);
}

void DisplayWindow::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    showScaled();
}

DisplayView::DisplayView(const QString& videoTitle, const QWidget& mainWindow)
    : mainWindow(mainWindow),
      videoWindow(std::make_unique<DisplayWindow>(videoTitle)),
      maskWindow(std::make_unique<DisplayWindow>(QString::fromLatin1(kMaskWindowName))) {
    for (DisplayWindow* window : {videoWindow.get(), maskWindow.get()}) {
        connect(window, &DisplayWindow::stopRequested, this, &DisplayView::stopRequested);
        window->resize(320, 240);
    }
    // Shown with the first frame, where they stay: placed before then, they would open
    // wherever the window manager puts new windows and jump.
}

DisplayView::~DisplayView() = default;

void DisplayView::place(QSize pictureSize) {
    // In the largest strip of the screen that the main window leaves free: one picture above
    // the other in a strip to its left or right, side by side in one above or below it; each
    // scaled to fit, never larger than it is.
    const QScreen* screen = mainWindow.screen();
    const QRect free = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1280, 900);
    const QRect main = mainWindow.frameGeometry();
    struct Strip {
        QRect area;
        bool stacked;  // one picture above the other
    };
    const Strip strips[] = {
        {QRect(QPoint(main.right() + 1 + kGap, free.top()), free.bottomRight()), true},
        {QRect(free.topLeft(), QPoint(main.left() - 1 - kGap, free.bottom())), true},
        {QRect(QPoint(free.left(), main.bottom() + 1 + kGap), free.bottomRight()), false},
        {QRect(free.topLeft(), QPoint(free.right(), main.top() - 1 - kGap)), false},
    };
    const auto pictureIn = [&](const Strip& strip) {
        // Room for the window manager's borders too.
        const QSize room =
            strip.stacked
                ? QSize(strip.area.width() - kGap, (strip.area.height() - kGap) / 2 - kTitle)
                : QSize((strip.area.width() - 3 * kGap) / 2, strip.area.height() - kTitle);
        if (room.width() <= 0 || room.height() <= 0) {
            return QSize();
        }
        return pictureSize.scaled(room.boundedTo(pictureSize), Qt::KeepAspectRatio);
    };
    const Strip* best = &strips[0];
    for (const Strip& strip : strips) {
        const QSize size = pictureIn(strip);
        const QSize bestSize = pictureIn(*best);
        if (size.width() * size.height() > bestSize.width() * bestSize.height()) {
            best = &strip;
        }
    }
    QSize each = pictureIn(*best);
    QRect area = best->area;
    bool stacked = best->stacked;
    if (each.width() < kNarrowest / 2) {
        // No room around the main window worth the name, as when it fills a laptop's screen:
        // over the snapshot viewer, which has nothing to show until the run ends, else over
        // the lower part of the window; never over the form's controls.
        area = free;
        const auto* viewer = mainWindow.findChild<QWidget*>(QStringLiteral("snapshotViewer"));
        const auto* main = qobject_cast<const QMainWindow*>(&mainWindow);
        if (viewer != nullptr && viewer->isVisible() && viewer->width() >= kNarrowest) {
            area = QRect(viewer->mapToGlobal(QPoint(0, 0)), viewer->size()).intersected(free);
        } else if (main != nullptr) {
            const QWidget* form = main->centralWidget();
            const int formBottom = form->mapToGlobal(QPoint(0, form->height())).y();
            if (formBottom + kGap + kTitle + kNarrowest / 2 < free.bottom()) {
                area.setTop(formBottom + kGap);
            }
        }
        const Strip over[] = {{area, false}, {area, true}};
        stacked = pictureIn(over[1]).width() > pictureIn(over[0]).width();
        each = pictureIn(over[stacked ? 1 : 0]);
    }
    const QPoint first = area.topLeft() + QPoint(0, kTitle);
    const QPoint second = stacked ? first + QPoint(0, each.height() + kGap + kTitle)
                                  : first + QPoint(each.width() + kGap, 0);
    videoWindow->setGeometry(QRect(first, each));
    maskWindow->setGeometry(QRect(second, each));
    videoWindow->show();
    maskWindow->show();
}

void DisplayView::showFrame(const QImage& frame, const QImage& mask) {
    if (!placed) {
        place(frame.size());
        placed = true;
    }
    videoWindow->showPicture(frame);
    maskWindow->showPicture(mask);
}
