#pragma once

#include <array>

#include <QWidget>

#include "RunRecorder.h"
#include "RunRequest.h"
#include "WatchedRegion.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QSettings;
class QSpinBox;

// The choices of a run beyond the form's: the event lists and the report (both on, here), the
// gap that ends an event, the trigger size, and a watched region read from a picture and shown
// over the video's first frame.
class RunOptionsPanel : public QWidget {
    Q_OBJECT

public:
    explicit RunOptionsPanel(QWidget* parent = nullptr);

    pelmora::RecordOptions recordOptions() const;
    int minPixels() const;
    pelmora::DetectorKind detector() const;
    pelmora::ObjectSettings objectSettings() const;
    bool boxes() const;
    // Empty when the whole frame counts.
    QString maskPath() const;
    void setMaskPath(const QString& path);

    // The video the watched region is shown over; the preview follows.
    void setVideo(const QString& path);

    void restore(QSettings& settings);
    void save(QSettings& settings) const;

private:
    void chooseMask();
    void updatePreview();
    void showImpliedLists();

    QCheckBox* eventLists = nullptr;
    QCheckBox* report = nullptr;
    QCheckBox* clips = nullptr;
    QCheckBox* digest = nullptr;
    QComboBox* clipMode = nullptr;
    // The exports in their order: EDL, OpenTimelineIO, WebVTT, JSON.
    std::array<QCheckBox*, 4> exports{};
    QDoubleSpinBox* eventGap = nullptr;
    QSpinBox* triggerSize = nullptr;
    QComboBox* detectorChoice = nullptr;
    QDoubleSpinBox* leastObject = nullptr;  // in per cent of the picture
    QDoubleSpinBox* leastDuration = nullptr;
    QCheckBox* drawBoxes = nullptr;
    QLineEdit* mask = nullptr;
    QLabel* preview = nullptr;
    QString video;
};
