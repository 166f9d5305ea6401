#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <opencv2/core.hpp>

#include "FrameSeeker.h"
#include "ObjectDetector.h"
#include "RunRequest.h"
#include "WatchedRegion.h"

class ImagePane;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;
class SweepView;

// A window for finding a threshold on the footage itself rather than by whole runs: the frame
// at a position in the video, the change mask against the frame a chosen time before it, and
// what a run would count and decide there, all following the threshold, the trigger size and
// the watched region as they change.
class TuningWindow : public QWidget {
    Q_OBJECT

public:
    explicit TuningWindow(QWidget* parent = nullptr);
    ~TuningWindow() override;

    // False, with the reason in error when it is given, when the video does not open or no
    // frame of it can be read; the window then keeps what it showed.
    bool openVideo(const QString& path, QString* error);

    void setThreshold(int threshold);
    void setMinPixels(int minPixels);
    // The event gap the whole video's sweep joins snapshots with.
    void setEventGap(long long gapMs);
    void setWatchedRegion(const pelmora::WatchedRegion& region);
    // Which detector the window shows: with objects, the objects the detector would see at the
    // position after learning the seconds before it, their boxes over the frame and the
    // foreground beside it.
    void setDetector(pelmora::DetectorKind kind, const pelmora::ObjectSettings& settings);
    int threshold() const;
    // The time of the frame on show, in milliseconds; 0 before a video is open.
    double positionMs() const;

signals:
    // "Use this threshold": the threshold the slider shows.
    void thresholdChosen(int threshold);

private:
    void buildControls();
    // Decoding follows the position and the offset once the events queued so far are handled,
    // so that a dragged handle costs one decode per stop rather than one per step.
    void scheduleDecode();
    void decodeFrames();
    void showFrame();
    // The first size of a window not yet shown: the panes in the frames' shape.
    void fitToFrames();
    // Frames already decoded need only be counted again.
    void measure();
    void measureObjects();
    void readHistory(double positionMs);
    void showFailure(const QString& text);
    void showPosition();

    // One for each moment, so that both step on as the position moves on.
    std::unique_ptr<pelmora::FrameSeeker> positionSeeker;
    std::unique_ptr<pelmora::FrameSeeker> referenceSeeker;
    cv::Mat frame;
    cv::Mat reference;
    pelmora::DetectorKind detectorKind = pelmora::DetectorKind::Classic;
    pelmora::ObjectSettings objectSettings;
    // With objects: the seconds before the position, small and grey, the last at the position.
    std::vector<cv::Mat> history;
    bool framesRead = false;
    pelmora::WatchedRegion region;
    double durationMs = 0.0;
    QTimer decodeTimer;

    ImagePane* framePane = nullptr;
    ImagePane* maskPane = nullptr;
    QLabel* frameCaption = nullptr;
    QLabel* maskCaption = nullptr;
    QSlider* positionSlider = nullptr;
    QLabel* positionLabel = nullptr;
    QDoubleSpinBox* referenceOffset = nullptr;
    QSlider* thresholdSlider = nullptr;
    QLabel* thresholdValue = nullptr;
    QSpinBox* triggerSize = nullptr;
    QLabel* measureLine = nullptr;
    QPushButton* useButton = nullptr;
    // The whole video, every threshold at once.
    SweepView* sweepView = nullptr;
};
