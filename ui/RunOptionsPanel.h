#pragma once

#include <array>
#include <functional>
#include <string>

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
// gap that ends an event, the trigger size, and a watched region read from a picture and drawn
// as polygons on the video, shown over its first frame.
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

    // The polygons drawn on the video, kept with the settings.
    const pelmora::RegionShapes& regions() const;
    void setRegions(const pelmora::RegionShapes& drawn);
    // The region a run watches: the picture's, read now, and the polygons; the reason the
    // picture cannot be read, or nothing.
    std::string watchedRegion(pelmora::WatchedRegion& region) const;
    // Where in the video the polygons are drawn: that moment's frame, from the tuning window
    // where it is open; the first frame without it.
    void setFramePosition(std::function<double()> positionMs);

    // The video the watched region is shown over; the preview follows.
    void setVideo(const QString& path);

    void restore(QSettings& settings);
    void save(QSettings& settings) const;

signals:
    void regionsChanged();

private:
    void editRegions();
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
    QLabel* regionSummary = nullptr;
    pelmora::RegionShapes shapes;
    std::function<double()> framePosition;
    QString video;
};
