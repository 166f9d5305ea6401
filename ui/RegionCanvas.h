#pragma once

#include <QImage>
#include <QWidget>

#include "RegionShapes.h"

// A frame of the video with polygons over it, drawn with the mouse: a click adds a point to the
// polygon being drawn (starting one where there is none), a point dragged moves, a right click
// on a point or Delete removes it. Points are kept in the video's pixels, on the picture.
class RegionCanvas : public QWidget {
    Q_OBJECT

public:
    explicit RegionCanvas(QWidget* parent = nullptr);

    // The frame, in the video's pixels as it is shown; the polygons are drawn on it.
    void setFrame(const QImage& frame);
    QSize frameSize() const { return frame.size(); }

    void setShapes(pelmora::RegionShapes shapes);
    const pelmora::RegionShapes& shapes() const { return polygons; }
    // The polygon that clicks add to, and that the editor's buttons act on; -1 for none.
    int current() const { return currentPolygon; }
    void setCurrent(int polygon);
    // A new, empty polygon that the next clicks draw.
    void startPolygon(bool keep);
    void removeCurrent();
    void setCurrentKeep(bool keep);

    // Where a point of the video is drawn in the canvas, and the point of the video under a
    // place in it (on the picture, at its nearest whole pixel).
    QPointF toCanvas(const cv::Point& point) const;
    cv::Point toVideo(const QPointF& place) const;

    QSize sizeHint() const override;

signals:
    void changed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Where the frame is drawn: as large as the canvas allows, in its own shape.
    QRectF frameRect() const;
    // The point under place, within a few pixels; false for none.
    bool pointAt(const QPointF& place, int& polygon, int& point) const;
    void removePoint(int polygon, int point);

    QImage frame;
    pelmora::RegionShapes polygons;
    int currentPolygon = -1;
    int selectedPoint = -1;  // of the current polygon
    bool dragging = false;
};
