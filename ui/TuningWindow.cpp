#include "TuningWindow.h"

#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "FrameClock.h"
#include "ImagePane.h"
#include "OptionTable.h"
#include "SweepView.h"
#include "TextFormat.h"
#include "TuningMeasure.h"

namespace {

constexpr double kDefaultOffsetSeconds = 1.0;
// A run's reference may be any time older than the frame; an hour covers what a user compares.
constexpr double kLongestOffsetSeconds = 3600.0;
// A click on the position track pages by a tenth of the video, at least a second.
constexpr int kPageParts = 10;
constexpr int kShortestPageMs = 1000;
// Steps of the position where the stream gives no rate: one frame at 25 frames per second.
constexpr int kFallbackStepMs = 40;
// The objects detector learns the scene over the seconds before the position it shows.
constexpr double kObjectsHistoryMs = 3000.0;

QString timeText(double ms) {
    return QString::fromStdString(pelmora::timecode(std::llround(std::max(ms, 0.0))));
}

QLabel* boldLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

}  // namespace

TuningWindow::TuningWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(tr("Tune the threshold"));
    decodeTimer.setSingleShot(true);
    decodeTimer.setInterval(0);
    connect(&decodeTimer, &QTimer::timeout, this, &TuningWindow::decodeFrames);
    buildControls();
    showPosition();
    measure();
    showFailure(tr("No video open"));
}

void TuningWindow::buildControls() {
    framePane = new ImagePane(this);
    framePane->setObjectName(QStringLiteral("framePane"));
    maskPane = new ImagePane(this);
    maskPane->setObjectName(QStringLiteral("maskPane"));
    maskPane->setToolTip(
        tr("Each colour channel changes on its own; the count is that of the busiest one."));
    frameCaption = new QLabel(this);
    frameCaption->setObjectName(QStringLiteral("frameCaption"));
    maskCaption = new QLabel(this);
    maskCaption->setObjectName(QStringLiteral("maskCaption"));

    positionSlider = new QSlider(Qt::Horizontal, this);
    positionSlider->setObjectName(QStringLiteral("positionSlider"));
    positionSlider->setRange(0, 0);
    positionSlider->setPageStep(kShortestPageMs);
    positionLabel = new QLabel(this);
    positionLabel->setObjectName(QStringLiteral("positionLabel"));

    referenceOffset = new QDoubleSpinBox(this);
    referenceOffset->setObjectName(QStringLiteral("referenceOffset"));
    referenceOffset->setRange(0.0, kLongestOffsetSeconds);
    referenceOffset->setDecimals(2);
    referenceOffset->setSingleStep(0.1);
    referenceOffset->setValue(kDefaultOffsetSeconds);
    referenceOffset->setSuffix(tr(" s earlier"));

    thresholdSlider = new QSlider(Qt::Horizontal, this);
    thresholdSlider->setObjectName(QStringLiteral("thresholdSlider"));
    thresholdSlider->setRange(pelmora::kMinimumThreshold, pelmora::kMaximumThreshold);
    // Wide enough for a drag to pick out every value.
    thresholdSlider->setMinimumWidth(6 * (pelmora::kMaximumThreshold - pelmora::kMinimumThreshold));
    thresholdValue = new QLabel(this);
    thresholdValue->setObjectName(QStringLiteral("thresholdValue"));
    // Room for the widest value, so that the slider does not shift as the value changes.
    thresholdValue->setMinimumWidth(thresholdValue->fontMetrics().horizontalAdvance(
        QString::number(pelmora::kMaximumThreshold)));

    triggerSize = new QSpinBox(this);
    triggerSize->setObjectName(QStringLiteral("triggerSize"));
    const pelmora::OptionEntry& trigger = pelmora::option::kMinPixels;
    triggerSize->setRange(static_cast<int>(trigger.minimum), static_cast<int>(trigger.maximum));
    triggerSize->setValue(static_cast<int>(trigger.windowDefault));
    triggerSize->setSuffix(tr(" pixels"));
    triggerSize->setToolTip(tr("A frame triggers when more pixels than this change."));

    measureLine = boldLabel(this);
    measureLine->setObjectName(QStringLiteral("measureLine"));
    useButton = new QPushButton(tr("Use this threshold"), this);
    useButton->setObjectName(QStringLiteral("useThresholdButton"));

    auto* frameColumn = new QVBoxLayout;
    frameColumn->addWidget(frameCaption);
    frameColumn->addWidget(framePane, 1);
    auto* maskColumn = new QVBoxLayout;
    maskColumn->addWidget(maskCaption);
    maskColumn->addWidget(maskPane, 1);
    auto* pictures = new QHBoxLayout;
    // The two panes share the width equally, whatever their captions say.
    frameCaption->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    maskCaption->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    pictures->addLayout(frameColumn, 1);
    pictures->addLayout(maskColumn, 1);

    auto* position = new QHBoxLayout;
    position->addWidget(positionSlider, 1);
    position->addWidget(positionLabel);

    auto* settings = new QGridLayout;
    settings->addWidget(new QLabel(tr("Compare with the frame"), this), 0, 0);
    settings->addWidget(referenceOffset, 0, 1, Qt::AlignLeft);
    settings->addWidget(new QLabel(tr("Threshold"), this), 1, 0);
    auto* threshold = new QHBoxLayout;
    threshold->addWidget(thresholdSlider, 1);
    threshold->addWidget(thresholdValue);
    settings->addLayout(threshold, 1, 1);
    settings->addWidget(new QLabel(tr("Trigger size"), this), 2, 0);
    settings->addWidget(triggerSize, 2, 1, Qt::AlignLeft);
    settings->setColumnStretch(2, 1);

    auto* outcome = new QHBoxLayout;
    outcome->addWidget(measureLine, 1);
    outcome->addWidget(useButton);

    // One moment's frames, or the whole video's curve; the position and the settings below
    // serve both.
    auto* moment = new QWidget(this);
    moment->setLayout(pictures);
    pictures->setContentsMargins(0, 0, 0, 0);
    sweepView = new SweepView(this);
    sweepView->setObjectName(QStringLiteral("sweepView"));
    sweepView->setTrigger(triggerSize->value());
    sweepView->setThreshold(thresholdSlider->value());
    sweepView->setPositionSource([this] { return double(positionSlider->value()); });
    auto* views = new QTabWidget(this);
    views->setObjectName(QStringLiteral("tuningViews"));
    views->addTab(moment, tr("This moment"));
    views->addTab(sweepView, tr("Whole video"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(views, 1);
    layout->addLayout(position);
    layout->addLayout(settings);
    layout->addLayout(outcome);

    connect(positionSlider, &QSlider::valueChanged, this, [this] {
        scheduleDecode();
        showPosition();
    });
    connect(referenceOffset, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            &TuningWindow::scheduleDecode);
    connect(thresholdSlider, &QSlider::valueChanged, this, &TuningWindow::measure);
    connect(triggerSize, QOverload<int>::of(&QSpinBox::valueChanged), this, &TuningWindow::measure);
    connect(thresholdSlider, &QSlider::valueChanged, sweepView, &SweepView::setThreshold);
    connect(triggerSize, QOverload<int>::of(&QSpinBox::valueChanged), sweepView,
            &SweepView::setTrigger);
    connect(sweepView, &SweepView::thresholdPicked, thresholdSlider, &QSlider::setValue);
    connect(useButton, &QPushButton::clicked, this,
            [this] { emit thresholdChosen(thresholdSlider->value()); });
}

TuningWindow::~TuningWindow() = default;

bool TuningWindow::openVideo(const QString& path, QString* error) {
    const std::string file = path.toStdString();
    auto atPosition = std::make_unique<pelmora::FrameSeeker>();
    auto atReference = std::make_unique<pelmora::FrameSeeker>();
    std::string reason = atPosition->open(file);
    if (reason.empty()) {
        reason = atReference->open(file);
    }
    cv::Mat first;
    const bool opened = reason.empty();
    if (!opened || !atPosition->frameAt(0.0, first)) {
        if (error != nullptr) {
            *error = opened ? tr("no frame can be read") : QString::fromStdString(reason);
        }
        return false;
    }
    positionSeeker = std::move(atPosition);
    referenceSeeker = std::move(atReference);
    sweepView->setVideo(path);
    durationMs = positionSeeker->durationMs();
    const double fps = positionSeeker->frameRate();
    {
        const QSignalBlocker quiet(positionSlider);
        positionSlider->setRange(0, static_cast<int>(std::min<double>(durationMs, INT_MAX)));
        positionSlider->setPageStep(std::max(
            kShortestPageMs, static_cast<int>(std::min<double>(durationMs / kPageParts, INT_MAX))));
        positionSlider->setSingleStep(pelmora::usableFrameRate(fps)
                                          ? std::max(1, static_cast<int>(std::lround(1000.0 / fps)))
                                          : kFallbackStepMs);
        // The first view compares two moments already: the offset's into the video with the
        // start.
        positionSlider->setValue(static_cast<int>(std::lround(referenceOffset->value() * 1000.0)));
    }
    showPosition();
    decodeFrames();
    fitToFrames();
    return true;
}

void TuningWindow::fitToFrames() {
    if (isVisible() || testAttribute(Qt::WA_Resized)) {
        return;
    }
    // A window first shows at most two thirds of the screen wide, and a narrower window than
    // its panes asked for would keep their height and band them; the height follows the width.
    const QRect screenArea = screen()->availableGeometry();
    const int width = std::min(sizeHint().width(), screenArea.width() * 2 / 3);
    resize(width, std::min(heightForWidth(width), screenArea.height()));
}

void TuningWindow::setThreshold(int threshold) {
    thresholdSlider->setValue(threshold);
}

void TuningWindow::setMinPixels(int minPixels) {
    triggerSize->setValue(minPixels);
}

void TuningWindow::setEventGap(long long gapMs) {
    sweepView->setEventGap(gapMs);
}

void TuningWindow::setDetector(pelmora::DetectorKind kind,
                               const pelmora::ObjectSettings& settings) {
    const bool fresh = kind != detectorKind;
    detectorKind = kind;
    objectSettings = settings;
    if (fresh && positionSeeker) {
        scheduleDecode();
    } else {
        measure();
    }
}

void TuningWindow::setWatchedRegion(const pelmora::WatchedRegion& watched) {
    region = watched;
    sweepView->setWatchedRegion(watched);
    if (framesRead) {
        showFrame();
    }
    measure();
}

void TuningWindow::showFrame() {
    const QString time = timeText(positionSeeker->shownMs());
    if (region.wholeFrame()) {
        framePane->setImage(frame);
        frameCaption->setText(tr("Frame at %1").arg(time));
        return;
    }
    // What the region ignores is dimmed, so that the mask's black there is not taken for calm.
    cv::Mat shown = frame / 2;
    frame.copyTo(shown, region.forFrames(frame.size()));
    pelmora::drawRegions(shown, region.shapes());
    framePane->setImage(shown);
    frameCaption->setText(tr("Frame at %1, dimmed where not watched").arg(time));
}

double TuningWindow::positionMs() const {
    return positionSeeker && framesRead ? positionSeeker->shownMs() : 0.0;
}

int TuningWindow::threshold() const {
    return thresholdSlider->value();
}

void TuningWindow::scheduleDecode() {
    decodeTimer.start();
}

void TuningWindow::decodeFrames() {
    decodeTimer.stop();
    if (!positionSeeker) {
        return;
    }
    const double positionMs = positionSlider->value();
    const double referenceMs = std::max(0.0, positionMs - referenceOffset->value() * 1000.0);
    framesRead = positionSeeker->frameAt(positionMs, frame) &&
                 referenceSeeker->frameAt(referenceMs, reference);
    if (!framesRead) {
        showFailure(tr("No frame can be read at %1").arg(timeText(positionMs)));
        return;
    }
    if (detectorKind == pelmora::DetectorKind::Objects) {
        readHistory(positionSeeker->shownMs());
    }
    showFrame();
    // The position said is that of the frame shown, as its caption says it.
    showPosition();
    maskCaption->setText(
        tr("Change against the frame at %1").arg(timeText(referenceSeeker->shownMs())));
    measure();
}

void TuningWindow::readHistory(double positionMs) {
    history.clear();
    const double rate = positionSeeker->frameRate();
    const double stepMs = pelmora::usableFrameRate(rate) ? 1000.0 / rate : kFallbackStepMs;
    const cv::Size shown = frame.size();
    const cv::Size small = pelmora::ObjectDetector::workingSize(shown);
    cv::Mat each;
    cv::Mat grey;
    for (double ms = std::max(0.0, positionMs - kObjectsHistoryMs); ms <= positionMs + 0.5;
         ms += stepMs) {
        if (!referenceSeeker->frameAt(ms, each) || each.size() != shown) {
            continue;
        }
        cv::cvtColor(each, grey, cv::COLOR_BGR2GRAY);
        cv::Mat shrunk;
        cv::resize(grey, shrunk, small, 0, 0, cv::INTER_AREA);
        history.push_back(shrunk);
    }
}

void TuningWindow::measureObjects() {
    const double rate = positionSeeker->frameRate();
    const cv::Mat watched =
        region.forModel(frame.size(), pelmora::ObjectDetector::workingSize(frame.size()));
    const pelmora::ObjectsPreview preview = pelmora::previewObjects(
        history, frame.size(), rate, objectSettings, watched, region.standing(frame.size()));
    cv::Mat mask;
    if (!preview.foreground.empty()) {
        cv::resize(preview.foreground, mask, frame.size(), 0, 0, cv::INTER_NEAREST);
        cv::cvtColor(mask, mask, cv::COLOR_GRAY2BGR);
    }
    cv::Mat boxed = frame.clone();
    for (const cv::Rect& box : preview.boxes) {
        cv::rectangle(boxed, box, cv::Scalar(0, 220, 0), 2);
        if (!mask.empty()) {
            cv::rectangle(mask, box, cv::Scalar(0, 220, 0), 2);
        }
    }
    framePane->setImage(boxed);
    maskPane->setImage(mask);
    maskCaption->setText(
        tr("Foreground, learnt over the %1 s before").arg(kObjectsHistoryMs / 1000.0));
    const int count = static_cast<int>(preview.boxes.size());
    measureLine->setText(count == 0   ? tr("No object")
                         : count == 1 ? tr("1 object")
                                      : tr("%1 objects").arg(count));
}

void TuningWindow::measure() {
    thresholdValue->setText(QString::number(thresholdSlider->value()));
    if (!framesRead) {
        return;
    }
    if (detectorKind == pelmora::DetectorKind::Objects) {
        measureObjects();
        return;
    }
    const pelmora::TuningMeasure measured = pelmora::measureChange(
        frame, reference, thresholdSlider->value(), triggerSize->value(), region);
    maskPane->setImage(measured.mask);
    const QString count = measured.changedPixels == 1
                              ? tr("1 changed pixel")
                              : tr("%1 changed pixels").arg(measured.changedPixels);
    measureLine->setText(measured.triggers ? tr("%1 — would trigger").arg(count)
                                           : tr("%1 — would not trigger").arg(count));
}

void TuningWindow::showFailure(const QString& text) {
    framePane->setImage(cv::Mat());
    maskPane->setImage(cv::Mat());
    frameCaption->setText(tr("Frame"));
    maskCaption->setText(tr("Change"));
    measureLine->setText(text);
}

void TuningWindow::showPosition() {
    // Until the frame there is read, the place asked for; then the frame's own time, which
    // is where a video of few frames, or a position between two frames, actually is.
    const double shownMs = framesRead && !decodeTimer.isActive() && positionSeeker
                               ? positionSeeker->shownMs()
                               : positionSlider->value();
    positionLabel->setText(tr("%1 of %2").arg(timeText(shownMs), timeText(durationMs)));
}
