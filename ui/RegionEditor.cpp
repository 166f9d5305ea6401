#include "RegionEditor.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "FileChooser.h"
#include "FileOutput.h"
#include "FrameSeeker.h"
#include "RegionCanvas.h"
#include "WatchedRegion.h"

namespace {

const char* const kRegionFiles = "Region files (*.txt *.regions);;All files (*)";

}  // namespace

cv::Mat videoFrame(const std::string& path, double ms) {
    pelmora::FrameSeeker reader;
    cv::Mat image;
    if (!reader.open(path).empty() || !reader.frameAt(ms, image)) {
        image.release();
    }
    return image;
}

std::optional<pelmora::RegionShapes> RegionEditor::drawOn(const cv::Mat& frame,
                                                          const pelmora::RegionShapes& shapes,
                                                          const QString& objectName,
                                                          QWidget* parent) {
    const QImage image = QImage(frame.data, frame.cols, frame.rows, static_cast<int>(frame.step[0]),
                                QImage::Format_BGR888)
                             .copy();
    RegionEditor editor(image, shapes, parent);
    editor.setObjectName(objectName);
    if (editor.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return editor.shapes();
}

RegionEditor::RegionEditor(const QImage& frame, const pelmora::RegionShapes& shapes,
                           QWidget* parent)
    : QDialog(parent),
      drawing(new RegionCanvas(this)),
      kind(new QComboBox(this)),
      removeButton(new QPushButton(tr("Delete Polygon"), this)),
      status(new QLabel(this)),
      buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this)) {
    setWindowTitle(tr("Regions"));
    drawing->setObjectName(QStringLiteral("regionCanvas"));
    drawing->setFrame(frame);
    kind->setObjectName(QStringLiteral("comboBox_regionKind"));
    kind->addItem(tr("Keep"));
    kind->addItem(tr("Leave out"));
    kind->setToolTip(tr("Whether the polygon being drawn is watched or left out"));
    auto* newButton = new QPushButton(tr("New Polygon"), this);
    newButton->setObjectName(QStringLiteral("pushButton_newPolygon"));
    removeButton->setObjectName(QStringLiteral("pushButton_deletePolygon"));
    auto* loadButton = new QPushButton(tr("Load..."), this);
    loadButton->setObjectName(QStringLiteral("pushButton_loadRegions"));
    auto* saveButton = new QPushButton(tr("Save..."), this);
    saveButton->setObjectName(QStringLiteral("pushButton_saveRegions"));
    status->setObjectName(QStringLiteral("label_regionStatus"));
    status->setWordWrap(true);
    // Two lines whatever it says, so that the frame does not move under the mouse.
    status->setMinimumHeight(status->fontMetrics().lineSpacing() * 2);

    auto* tools = new QHBoxLayout;
    tools->addWidget(newButton);
    tools->addWidget(kind);
    tools->addWidget(removeButton);
    tools->addStretch(1);
    tools->addWidget(loadButton);
    tools->addWidget(saveButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(tools);
    layout->addWidget(drawing, 1);
    layout->addWidget(status);
    layout->addWidget(buttons);

    connect(newButton, &QPushButton::clicked, this,
            [this] { drawing->startPolygon(kind->currentIndex() == 0); });
    connect(removeButton, &QPushButton::clicked, drawing, &RegionCanvas::removeCurrent);
    connect(kind, QOverload<int>::of(&QComboBox::activated), this,
            [this](int index) { drawing->setCurrentKeep(index == 0); });
    connect(loadButton, &QPushButton::clicked, this, &RegionEditor::load);
    connect(saveButton, &QPushButton::clicked, this, &RegionEditor::save);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(drawing, &RegionCanvas::changed, this, &RegionEditor::follow);
    drawing->setShapes(shapes);
    follow();
}

pelmora::RegionShapes RegionEditor::shapes() const {
    return drawing->shapes();
}

// The buttons and the line below follow the drawing: OK only for polygons a run can use.
void RegionEditor::follow() {
    const pelmora::RegionShapes& drawn = drawing->shapes();
    const int current = drawing->current();
    removeButton->setEnabled(current >= 0);
    if (current >= 0) {
        kind->setCurrentIndex(drawn[current].keep ? 0 : 1);
    }
    QString problem;
    for (std::size_t i = 0; i < drawn.size() && problem.isEmpty(); ++i) {
        std::vector<cv::Point> points;
        const std::string reason =
            pelmora::parsePolygon(pelmora::polygonText(drawn[i].points), points);
        if (!reason.empty()) {
            problem = tr("Polygon %1: %2").arg(i + 1).arg(QString::fromStdString(reason));
        }
    }
    buttons->button(QDialogButtonBox::Ok)->setEnabled(problem.isEmpty());
    if (!problem.isEmpty()) {
        status->setText(problem);
    } else if (drawn.empty()) {
        status->setText(
            tr("Click on the frame to draw a polygon: the whole frame is watched "
               "until there is one."));
    } else {
        status->setText(
            tr("Drag a point to move it; right-click it, or select it and press "
               "Delete, to remove it. Watched: %1.")
                .arg(QString::fromStdString(pelmora::regionText(std::string(), drawn))));
    }
}

bool RegionEditor::loadFile(const QString& path) {
    pelmora::RegionShapes read;
    const std::string reason = pelmora::readRegionFile(path.toStdString(), read);
    if (reason.empty()) {
        const cv::Size size(drawing->frameSize().width(), drawing->frameSize().height());
        const std::string outside = pelmora::regionsOutside(read, size);
        if (outside.empty()) {
            drawing->setShapes(read);
            return true;
        }
        QMessageBox::warning(this, windowTitle(),
                             tr("The regions of %1 do not fit this video: %2")
                                 .arg(path, QString::fromStdString(outside)));
        return false;
    }
    QMessageBox::warning(
        this, windowTitle(),
        tr("Cannot read the regions of %1: %2").arg(path, QString::fromStdString(reason)));
    return false;
}

bool RegionEditor::saveFile(const QString& path) {
    const std::string text = pelmora::regionFileText(drawing->shapes());
    const std::string reason = pelmora::replaceFile(path.toStdString(), text.data(), text.size());
    if (reason.empty()) {
        return true;
    }
    QMessageBox::warning(
        this, windowTitle(),
        tr("Cannot save the regions in %1: %2").arg(path, QString::fromStdString(reason)));
    return false;
}

void RegionEditor::load() {
    const QString path = runChooser(this, QFileDialog::ExistingFile, tr(kRegionFiles));
    if (!path.isEmpty()) {
        loadFile(path);
    }
}

void RegionEditor::save() {
    const QString path = runChooser(this, QFileDialog::AnyFile, tr(kRegionFiles));
    if (!path.isEmpty()) {
        saveFile(path);
    }
}
