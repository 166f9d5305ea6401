#pragma once

#include <QDialog>
#include <QImage>
#include <opencv2/core.hpp>
#include <optional>
#include <string>

#include "RegionShapes.h"

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QPushButton;
class RegionCanvas;

// The frame of the video shown at ms, as a run reads it, to draw on; empty when none can be
// read.
cv::Mat videoFrame(const std::string& path, double ms);

// Where a run looks, drawn on a frame of the video: polygons to keep or to leave out, each
// point clicked, dragged or removed, kept and read as the region files of pelmora-scan's
// --region-file. OK takes them only when each is a polygon a run can use.
class RegionEditor : public QDialog {
    Q_OBJECT

public:
    RegionEditor(const QImage& frame, const pelmora::RegionShapes& shapes,
                 QWidget* parent = nullptr);

    // The polygons drawn on frame (BGR), starting from shapes, in an editor named objectName;
    // none when it is cancelled.
    static std::optional<pelmora::RegionShapes> drawOn(const cv::Mat& frame,
                                                       const pelmora::RegionShapes& shapes,
                                                       const QString& objectName, QWidget* parent);

    pelmora::RegionShapes shapes() const;
    RegionCanvas* canvas() const { return drawing; }

    // Reads the region file at path into the drawing, or says why it cannot; true when read.
    bool loadFile(const QString& path);
    // Writes the drawing to path as a region file, or says why it cannot; true when written.
    bool saveFile(const QString& path);

private:
    void follow();
    void load();
    void save();

    RegionCanvas* drawing;
    QComboBox* kind;
    QPushButton* removeButton;
    QLabel* status;
    QDialogButtonBox* buttons;
};
