#include "RunOptionsPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStringList>
#include <initializer_list>
#include <opencv2/imgproc.hpp>

#include "EventExports.h"
#include "OptionTable.h"
#include "RegionEditor.h"
#include "SettingBoxes.h"

namespace {

constexpr int kPreviewWidth = 240;

// A spin box over an option's whole numbers, at the window's default.
void takeCount(QSpinBox* box, const pelmora::OptionEntry& entry) {
    box->setRange(static_cast<int>(entry.minimum), static_cast<int>(entry.maximum));
    box->setSingleStep(static_cast<int>(entry.windowStep));
    box->setValue(static_cast<int>(entry.windowDefault));
}

QString secondsText(const pelmora::OptionEntry& entry, long long ms) {
    return QString::fromStdString(pelmora::optionValueText(entry, ms));
}

}  // namespace

RunOptionsPanel::RunOptionsPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("runOptions"));
    eventLists = new QCheckBox(tr("Event lists (snapshots.csv, events.csv)"), this);
    eventLists->setObjectName(QStringLiteral("checkBox_eventLists"));
    report = new QCheckBox(tr("Report (report.html)"), this);
    report->setObjectName(QStringLiteral("checkBox_report"));
    for (QCheckBox* box : {eventLists, report}) {
        box->setChecked(true);
    }
    clips = new QCheckBox(tr("Clips of the events, EVENT0001 and on:"), this);
    clips->setObjectName(QStringLiteral("checkBox_clips"));
    clips->setToolTip(
        tr("A video of each event, from %1 s before it to %2 s after; events that overlap "
           "share one")
            .arg(secondsText(pelmora::option::kBefore, pelmora::option::kBefore.windowDefault),
                 secondsText(pelmora::option::kAfter, pelmora::option::kAfter.windowDefault)));
    digest = new QCheckBox(tr("Digest (digest.mp4)"), this);
    digest->setObjectName(QStringLiteral("checkBox_digest"));
    digest->setToolTip(
        tr("One video of every event at its real speed, from %1 s before it to %2 s after, and "
           "the quiet between them %3 times faster")
            .arg(secondsText(pelmora::option::kBefore, pelmora::option::kBefore.windowDefault),
                 secondsText(pelmora::option::kAfter, pelmora::option::kAfter.windowDefault))
            .arg(pelmora::option::kDigestSpeed.windowDefault));
    // The same formats as pelmora-scan's --export, in the same order.
    const struct {
        const char* text;
        const char* name;
        const char* tip;
    } exportBoxes[] = {
        {QT_TR_NOOP("EDL"), "checkBox_exportEdl",
         QT_TR_NOOP("events.edl: a marker at each event for video editors (CMX 3600)")},
        {QT_TR_NOOP("OpenTimelineIO"), "checkBox_exportOtio",
         QT_TR_NOOP("events.otio: the video as a clip with each event a marker over its frames")},
        {QT_TR_NOOP("WebVTT"), "checkBox_exportVtt",
         QT_TR_NOOP("events.vtt: a chapter for each event, which players and browsers show")},
        {QT_TR_NOOP("JSON"), "checkBox_exportJson",
         QT_TR_NOOP("events.json: every event with its snapshots and the settings, for scripts")},
    };
    for (std::size_t i = 0; i < exports.size(); ++i) {
        exports[i] = new QCheckBox(tr(exportBoxes[i].text), this);
        exports[i]->setObjectName(QString::fromLatin1(exportBoxes[i].name));
        exports[i]->setToolTip(tr(exportBoxes[i].tip));
    }
    clipMode = new QComboBox(this);
    clipMode->setObjectName(QStringLiteral("comboBox_clipMode"));
    // The same two ways as pelmora-scan's --clips, in the same order.
    clipMode->addItem(tr("copied (.avi for an AVI, else .mkv)"));
    clipMode->addItem(tr("encoded (H.264, .mp4)"));
    clipMode->setItemData(0,
                          tr("Every stream as it is, from the keyframe before each stretch, in "
                             "the video's own format where it takes them (EVENT0001.avi for an "
                             "AVI), else in Matroska (EVENT0001.mkv); a clip that cannot be "
                             "copied whole is encoded"),
                          Qt::ToolTipRole);
    clipMode->setItemData(1, tr("Cut exactly at each stretch, as H.264 in MP4 (EVENT0001.mp4)"),
                          Qt::ToolTipRole);
    clipMode->setEnabled(false);
    connect(clips, &QCheckBox::toggled, clipMode, &QWidget::setEnabled);

    eventGap = new SecondsBox(this);
    eventGap->setObjectName(QStringLiteral("spinBox_eventGap"));
    takeSeconds(eventGap, pelmora::option::kEventGap);
    eventGap->setSuffix(tr(" s"));
    eventGap->setToolTip(tr("Snapshots no further apart than this belong to one event"));

    triggerSize = new QSpinBox(this);
    triggerSize->setObjectName(QStringLiteral("spinBox_triggerSize"));
    takeCount(triggerSize, pelmora::option::kMinPixels);
    triggerSize->setSuffix(tr(" pixels"));
    triggerSize->setToolTip(tr("A frame is saved when more pixels than this changed"));

    mask = new QLineEdit(this);
    mask->setObjectName(QStringLiteral("lineEdit_mask"));
    mask->setPlaceholderText(tr("The whole frame"));
    auto* choose = new QPushButton(tr("Choose..."), this);
    choose->setObjectName(QStringLiteral("pushButton_chooseMask"));
    auto* clear = new QPushButton(tr("Whole Frame"), this);
    clear->setObjectName(QStringLiteral("pushButton_clearMask"));
    connect(choose, &QPushButton::clicked, this, &RunOptionsPanel::chooseMask);
    connect(clear, &QPushButton::clicked, this, [this] { setMaskPath(QString()); });
    connect(mask, &QLineEdit::editingFinished, this, &RunOptionsPanel::updatePreview);
    auto* maskRow = new QHBoxLayout;
    maskRow->addWidget(mask, 1);
    maskRow->addWidget(choose);
    maskRow->addWidget(clear);

    auto* drawRegions = new QPushButton(tr("Regions..."), this);
    drawRegions->setObjectName(QStringLiteral("pushButton_regions"));
    drawRegions->setToolTip(tr("Draw polygons on the video to watch or to leave out"));
    connect(drawRegions, &QPushButton::clicked, this, &RunOptionsPanel::editRegions);
    regionSummary = new QLabel(this);
    regionSummary->setObjectName(QStringLiteral("label_regions"));
    auto* regionRow = new QHBoxLayout;
    regionRow->addWidget(drawRegions);
    regionRow->addWidget(regionSummary, 1);

    preview = new QLabel(this);
    preview->setObjectName(QStringLiteral("label_maskPreview"));
    preview->setAlignment(Qt::AlignCenter);
    preview->setMinimumSize(kPreviewWidth, kPreviewWidth * 3 / 4);
    preview->setToolTip(
        tr("The watched region over the video's first frame: only the bright "
           "part counts"));

    detectorChoice = new QComboBox(this);
    detectorChoice->setObjectName(QStringLiteral("comboBox_detector"));
    // As pelmora-scan's --detector, in the same order.
    detectorChoice->addItem(tr("classic"));
    detectorChoice->addItem(tr("objects (camera footage)"));
    detectorChoice->setItemData(
        0, tr("A frame is saved when enough pixels differ from the last snapshot"),
        Qt::ToolTipRole);
    detectorChoice->setItemData(
        1,
        tr("What lasts and travels against a background learnt over seconds; light, shake, "
           "rain and swaying leaves are explained away"),
        Qt::ToolTipRole);
    leastObject = leastObjectBox(this);
    leastObject->setObjectName(QStringLiteral("spinBox_leastObject"));
    leastDuration = leastDurationBox(this);
    leastDuration->setObjectName(QStringLiteral("spinBox_leastDuration"));
    drawBoxes = new QCheckBox(tr("Boxes"), this);
    drawBoxes->setObjectName(QStringLiteral("checkBox_boxes"));
    drawBoxes->setToolTip(tr("Each object's box drawn on the snapshots too"));
    const auto followDetector = [this] {
        const bool objects = detectorChoice->currentIndex() == 1;
        for (QWidget* widget :
             std::initializer_list<QWidget*>{leastObject, leastDuration, drawBoxes}) {
            widget->setEnabled(objects);
        }
        triggerSize->setEnabled(!objects);
    };
    connect(detectorChoice, qOverload<int>(&QComboBox::currentIndexChanged), this, followDetector);
    followDetector();

    for (QWidget* box : std::initializer_list<QWidget*>{eventGap, triggerSize}) {
        box->setMaximumWidth(160);
    }
    auto* form = new QFormLayout;
    form->addRow(eventLists);
    auto* reportRow = new QHBoxLayout;
    reportRow->addWidget(report);
    reportRow->addWidget(digest);
    reportRow->addStretch(1);
    form->addRow(reportRow);
    auto* clipRow = new QHBoxLayout;
    clipRow->addWidget(clips);
    clipRow->addWidget(clipMode);
    clipRow->addStretch(1);
    form->addRow(clipRow);
    auto* exportRow = new QHBoxLayout;
    for (QCheckBox* box : exports) {
        exportRow->addWidget(box);
    }
    exportRow->addStretch(1);
    form->addRow(tr("Export:"), exportRow);
    form->addRow(tr("Event gap:"), eventGap);
    form->addRow(tr("Trigger size:"), triggerSize);
    auto* detectorRow = new QHBoxLayout;
    detectorRow->addWidget(detectorChoice);
    auto* leastLabel = new QLabel(tr("least object"), this);
    leastLabel->setBuddy(leastObject);
    auto* lastingLabel = new QLabel(tr("lasting"), this);
    lastingLabel->setBuddy(leastDuration);
    detectorRow->addWidget(leastLabel);
    detectorRow->addWidget(leastObject);
    detectorRow->addWidget(lastingLabel);
    detectorRow->addWidget(leastDuration);
    detectorRow->addWidget(drawBoxes);
    detectorRow->addStretch(1);
    form->addRow(tr("Detector:"), detectorRow);
    form->addRow(tr("Watched region:"), maskRow);
    form->addRow(tr("Polygons:"), regionRow);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(form, 1);
    layout->addWidget(preview);

    for (QCheckBox* box : {report, clips, digest, exports[0], exports[1], exports[2], exports[3]}) {
        connect(box, &QCheckBox::toggled, this, &RunOptionsPanel::showImpliedLists);
    }
    showImpliedLists();
}

pelmora::RecordOptions RunOptionsPanel::recordOptions() const {
    pelmora::RecordOptions options;
    options.events = eventLists->isChecked();
    options.report = report->isChecked();
    options.clips = clips->isChecked();
    options.digest = digest->isChecked();
    options.digestSpeed = pelmora::option::kDigestSpeed.windowDefault;
    options.exports = {exports[0]->isChecked(), exports[1]->isChecked(), exports[2]->isChecked(),
                       exports[3]->isChecked()};
    options.clipMode =
        clipMode->currentIndex() == 1 ? pelmora::ClipMode::Encode : pelmora::ClipMode::Copy;
    options.eventGapMs = boxMs(*eventGap);
    options.clipBeforeMs = pelmora::option::kBefore.windowDefault;
    options.clipAfterMs = pelmora::option::kAfter.windowDefault;
    return options.withImplied();
}

void RunOptionsPanel::showImpliedLists() {
    // Ticked and fixed while another output brings the lists, so the box says what is written.
    const bool implied = recordOptions().listsImplied();
    if (implied) {
        eventLists->setChecked(true);
    }
    eventLists->setEnabled(!implied);
}

int RunOptionsPanel::minPixels() const {
    return triggerSize->value();
}

pelmora::DetectorKind RunOptionsPanel::detector() const {
    return detectorChoice->currentIndex() == 1 ? pelmora::DetectorKind::Objects
                                               : pelmora::DetectorKind::Classic;
}

pelmora::ObjectSettings RunOptionsPanel::objectSettings() const {
    pelmora::ObjectSettings settings;
    settings.share = leastObject->value() / 100.0;
    settings.leastMs = boxMs(*leastDuration);
    return settings;
}

bool RunOptionsPanel::boxes() const {
    return drawBoxes->isChecked();
}

QString RunOptionsPanel::maskPath() const {
    return mask->text();
}

void RunOptionsPanel::setMaskPath(const QString& path) {
    mask->setText(path);
    updatePreview();
}

void RunOptionsPanel::setVideo(const QString& path) {
    if (path != video) {
        video = path;
        updatePreview();
    }
}

const pelmora::RegionShapes& RunOptionsPanel::regions() const {
    return shapes;
}

void RunOptionsPanel::setRegions(const pelmora::RegionShapes& drawn) {
    shapes = drawn;
    regionSummary->setText(
        shapes.empty() ? tr("None drawn")
                       : QString::fromStdString(pelmora::regionText(std::string(), shapes)));
    updatePreview();
    emit regionsChanged();
}

std::string RunOptionsPanel::watchedRegion(pelmora::WatchedRegion& region) const {
    region = pelmora::WatchedRegion();
    const std::string reason =
        mask->text().isEmpty() ? std::string()
                               : pelmora::WatchedRegion::load(mask->text().toStdString(), region);
    region.setShapes(shapes);
    return reason;
}

void RunOptionsPanel::setFramePosition(std::function<double()> positionMs) {
    framePosition = std::move(positionMs);
}

void RunOptionsPanel::editRegions() {
    const cv::Mat frame =
        video.isEmpty() ? cv::Mat()
                        : videoFrame(video.toStdString(), framePosition ? framePosition() : 0.0);
    if (frame.empty()) {
        QMessageBox::information(this, tr("Regions"),
                                 tr("Choose a video that can be read first: the polygons are "
                                    "drawn on one of its frames."));
        return;
    }
    if (const auto drawn =
            RegionEditor::drawOn(frame, shapes, QStringLiteral("regionEditor"), this)) {
        setRegions(*drawn);
    }
}

void RunOptionsPanel::chooseMask() {
    const QString chosen = QFileDialog::getOpenFileName(
        this, tr("Watched Region"), QString(),
        tr("Pictures (*.png *.bmp *.jpg *.jpeg *.tif *.tiff *.pgm *.ppm)"));
    if (!chosen.isEmpty()) {
        setMaskPath(chosen);
    }
}

void RunOptionsPanel::updatePreview() {
    cv::Mat frame = video.isEmpty() ? cv::Mat() : videoFrame(video.toStdString(), 0.0);
    pelmora::WatchedRegion region;
    const bool masked = !mask->text().isEmpty();
    const std::string reason =
        masked ? pelmora::WatchedRegion::load(mask->text().toStdString(), region) : std::string();
    if (!reason.empty()) {
        preview->setPixmap(QPixmap());
        preview->setText(tr("Cannot read the picture:\n%1").arg(QString::fromStdString(reason)));
        return;
    }
    if (frame.empty()) {
        preview->setPixmap(QPixmap());
        preview->setText(masked ? tr("The region shows over the video's first frame") : QString());
        return;
    }
    region.setShapes(shapes);
    if (!region.wholeFrame()) {
        // What is not watched is dimmed, the way it is left out of the count.
        cv::Mat dimmed = frame * 0.3;
        frame.copyTo(dimmed, region.forFrames(frame.size()));
        frame = dimmed;
        pelmora::drawRegions(frame, shapes);
    }
    const QImage image(frame.data, frame.cols, frame.rows, static_cast<int>(frame.step[0]),
                       QImage::Format_BGR888);
    preview->setText(QString());
    preview->setPixmap(QPixmap::fromImage(
        image.scaled(preview->minimumSize(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void RunOptionsPanel::restore(QSettings& settings) {
    report->setChecked(settings.value(QStringLiteral("report"), true).toBool());
    clips->setChecked(settings.value(QStringLiteral("clips"), false).toBool());
    digest->setChecked(settings.value(QStringLiteral("digest"), false).toBool());
    clipMode->setCurrentIndex(
        settings.value(QStringLiteral("clipMode")).toString() == QLatin1String("encode") ? 1 : 0);
    // As --export names them; a value this version cannot read exports nothing.
    std::string problem;
    const pelmora::ExportFormats formats =
        pelmora::parseExportFormats(
            settings.value(QStringLiteral("exports")).toString().toStdString(), problem)
            .value_or(pelmora::ExportFormats());
    const bool wanted[] = {formats.edl, formats.otio, formats.vtt, formats.json};
    for (std::size_t i = 0; i < exports.size(); ++i) {
        exports[i]->setChecked(wanted[i]);
    }
    eventLists->setChecked(settings.value(QStringLiteral("eventLists"), true).toBool());
    showImpliedLists();
    eventGap->setValue(settings.value(QStringLiteral("eventGap"), eventGap->value()).toDouble());
    triggerSize->setValue(
        settings.value(QStringLiteral("triggerSize"), triggerSize->value()).toInt());
    mask->setText(settings.value(QStringLiteral("mask")).toString());
    detectorChoice->setCurrentIndex(
        settings.value(QStringLiteral("detector")).toString() == QLatin1String("objects") ? 1 : 0);
    leastObject->setValue(
        settings.value(QStringLiteral("leastObject"), leastObject->value()).toDouble());
    leastDuration->setValue(
        settings.value(QStringLiteral("leastDuration"), leastDuration->value()).toDouble());
    drawBoxes->setChecked(settings.value(QStringLiteral("boxes"), false).toBool());
    // As a region file has them; ones this version cannot read are drawn afresh.
    pelmora::RegionShapes restored;
    const std::string lines = settings.value(QStringLiteral("regions"))
                                  .toStringList()
                                  .join(QLatin1Char('\n'))
                                  .toStdString();
    if (!lines.empty() && !pelmora::parseRegionText(lines, restored).empty()) {
        restored.clear();
    }
    setRegions(restored);
}

void RunOptionsPanel::save(QSettings& settings) const {
    settings.setValue(QStringLiteral("eventLists"), eventLists->isChecked());
    settings.setValue(QStringLiteral("report"), report->isChecked());
    settings.setValue(QStringLiteral("clips"), clips->isChecked());
    settings.setValue(QStringLiteral("digest"), digest->isChecked());
    settings.setValue(QStringLiteral("clipMode"), clipMode->currentIndex() == 1
                                                      ? QStringLiteral("encode")
                                                      : QStringLiteral("copy"));
    QStringList formats;
    for (const std::string& name : pelmora::exportFormatNames(recordOptions().exports)) {
        formats.append(QString::fromStdString(name));
    }
    settings.setValue(QStringLiteral("exports"), formats.join(QLatin1Char(',')));
    settings.setValue(QStringLiteral("eventGap"), eventGap->value());
    settings.setValue(QStringLiteral("triggerSize"), triggerSize->value());
    settings.setValue(QStringLiteral("mask"), mask->text());
    settings.setValue(QStringLiteral("detector"), detectorChoice->currentIndex() == 1
                                                      ? QStringLiteral("objects")
                                                      : QStringLiteral("classic"));
    settings.setValue(QStringLiteral("leastObject"), leastObject->value());
    settings.setValue(QStringLiteral("leastDuration"), leastDuration->value());
    settings.setValue(QStringLiteral("boxes"), drawBoxes->isChecked());
    QStringList lines;
    for (const std::string& line : pelmora::regionLines(shapes)) {
        lines.append(QString::fromStdString(line));
    }
    settings.setValue(QStringLiteral("regions"), lines);
}
