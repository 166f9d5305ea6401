#include "SnapshotViewer.h"

#include <QDir>
#include <QEvent>
#include <QGuiApplication>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>

#include "TextFormat.h"
#include "WatchedRegion.h"

namespace {

const char* const kNothingShown = "Choose an event or a moment on the timeline";

QString fileText(const std::string& name) {
    return QString::fromStdString(name);
}

}  // namespace

SnapshotViewer::SnapshotViewer(QWidget* parent)
    : QWidget(parent), picture(new QLabel(this)), captionLabel(new QLabel(this)) {
    setFocusPolicy(Qt::StrongFocus);
    setToolTip(
        tr("Left and Right step through the event's snapshots; a double click opens one at its "
           "full size"));
    picture->setObjectName(QStringLiteral("snapshotPicture"));
    picture->setAlignment(Qt::AlignCenter);
    picture->setWordWrap(true);
    // The picture follows the room it is given, never the other way round.
    picture->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    picture->setMinimumSize(1, 1);
    picture->setAutoFillBackground(true);
    QPalette dark = picture->palette();
    dark.setColor(QPalette::Window, QColor(0x22, 0x26, 0x2e));
    dark.setColor(QPalette::WindowText, QColor(0xc3, 0xc9, 0xd2));
    picture->setPalette(dark);
    picture->installEventFilter(this);
    captionLabel->setObjectName(QStringLiteral("snapshotCaption"));
    captionLabel->setAlignment(Qt::AlignCenter);
    captionLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The same room with a caption as without, so that the picture does not jump.
    captionLabel->setMinimumHeight(2 * captionLabel->fontMetrics().lineSpacing());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(picture, 1);
    layout->addWidget(captionLabel);
    clear();
}

void SnapshotViewer::clear() {
    snapshots.clear();
    at = 0;
    full = QPixmap();
    picture->setPixmap(QPixmap());
    picture->setText(tr(kNothingShown));
    captionLabel->clear();
}

void SnapshotViewer::showSnapshots(const QString& snapshotFolder,
                                   std::vector<pelmora::SnapshotOutcome> row, std::size_t shown) {
    folder = snapshotFolder;
    snapshots = std::move(row);
    at = snapshots.empty() ? 0 : std::min(shown, snapshots.size() - 1);
    showCurrent();
}

void SnapshotViewer::step(long long by) {
    if (snapshots.empty()) {
        return;
    }
    const long long last = static_cast<long long>(snapshots.size()) - 1;
    const auto next =
        static_cast<std::size_t>(std::clamp(static_cast<long long>(at) + by, 0LL, last));
    if (next != at) {
        at = next;
        showCurrent();
    }
}

const pelmora::SnapshotOutcome* SnapshotViewer::current() const {
    return snapshots.empty() ? nullptr : &snapshots[at];
}

QString SnapshotViewer::caption() const {
    return captionLabel->text();
}

QScrollArea* SnapshotViewer::openFullSize() {
    if (full.isNull()) {
        return nullptr;
    }
    // A window of the viewer's, so that none outlives the panel.
    auto* window = new QScrollArea(this);
    window->setWindowFlag(Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(fileText(current()->file));
    window->setAlignment(Qt::AlignCenter);
    auto* label = new QLabel(window);
    label->setPixmap(full);
    window->setWidget(label);
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QSize room = screen ? screen->availableSize() * 9 / 10 : full.size();
    const int frame = 2 * window->frameWidth();
    window->resize((full.size() + QSize(frame, frame)).boundedTo(room));
    window->show();
    return window;
}

QSize SnapshotViewer::sizeHint() const {
    return {320, 260};
}

QSize SnapshotViewer::minimumSizeHint() const {
    return {160, 140};
}

void SnapshotViewer::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Left:
            step(-1);
            return;
        case Qt::Key_Right:
            step(1);
            return;
        case Qt::Key_Home:
            step(-static_cast<long long>(snapshots.size()));
            return;
        case Qt::Key_End:
            step(static_cast<long long>(snapshots.size()));
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

void SnapshotViewer::mouseDoubleClickEvent(QMouseEvent*) {
    openFullSize();
}

bool SnapshotViewer::eventFilter(QObject* watched, QEvent* event) {
    if (watched == picture && event->type() == QEvent::Resize) {
        fit();
    }
    return QWidget::eventFilter(watched, event);
}

void SnapshotViewer::setRegions(const pelmora::RegionShapes& shapes) {
    regions = shapes;
}

void SnapshotViewer::showCurrent() {
    const pelmora::SnapshotOutcome* shown = current();
    if (shown == nullptr) {
        clear();
        return;
    }
    const QString name = fileText(shown->file);
    QImage read = shown->saved ? QImageReader(QDir(folder).filePath(name)).read() : QImage();
    if (!read.isNull() && !regions.empty()) {
        // The snapshot is in the video's pixels, where the polygons were drawn.
        read = read.convertToFormat(QImage::Format_BGR888);
        cv::Mat pixels(read.height(), read.width(), CV_8UC3, read.bits(),
                       static_cast<std::size_t>(read.bytesPerLine()));
        pelmora::drawRegions(pixels, regions);
    }
    full = QPixmap::fromImage(read);
    if (full.isNull()) {
        picture->setPixmap(QPixmap());
        picture->setText(shown->saved ? tr("%1 could not be read").arg(name)
                                      : tr("%1 was not saved").arg(name));
    }
    fit();
    // Thousands grouped as the report groups them, whatever the desktop's language.
    captionLabel->setText(tr("%1  (%2 of %3)\n%4  \u00b7  %5 changed pixels")
                              .arg(name)
                              .arg(at + 1)
                              .arg(snapshots.size())
                              .arg(QString::fromStdString(pelmora::timecode(shown->timeMs)))
                              .arg(QLocale(QLocale::English).toString(shown->changedPixels)));
    emit snapshotShown(shown->timeMs);
}

void SnapshotViewer::fit() {
    if (!full.isNull()) {
        picture->setPixmap(
            full.scaled(picture->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
}
