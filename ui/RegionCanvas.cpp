#include "RegionCanvas.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

namespace {

// A point is grabbed within this many of the canvas's pixels.
constexpr double kGrabDistance = 7.0;

const QColor kKeptColour(0, 220, 0);
const QColor kExcludedColour(230, 0, 0);

}  // namespace

RegionCanvas::RegionCanvas(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(false);
    setMinimumSize(320, 180);
}

void RegionCanvas::setFrame(const QImage& picture) {
    frame = picture;
    update();
}

void RegionCanvas::setShapes(pelmora::RegionShapes shapes) {
    polygons = std::move(shapes);
    currentPolygon = polygons.empty() ? -1 : static_cast<int>(polygons.size()) - 1;
    selectedPoint = -1;
    update();
    emit changed();
}

void RegionCanvas::setCurrent(int polygon) {
    currentPolygon = polygon >= 0 && polygon < static_cast<int>(polygons.size()) ? polygon : -1;
    selectedPoint = -1;
    update();
    emit changed();
}

void RegionCanvas::startPolygon(bool keep) {
    polygons.push_back({keep, {}});
    setCurrent(static_cast<int>(polygons.size()) - 1);
}

void RegionCanvas::removeCurrent() {
    if (currentPolygon >= 0) {
        polygons.erase(polygons.begin() + currentPolygon);
        setCurrent(static_cast<int>(polygons.size()) - 1);
    }
}

void RegionCanvas::setCurrentKeep(bool keep) {
    if (currentPolygon >= 0 && polygons[currentPolygon].keep != keep) {
        polygons[currentPolygon].keep = keep;
        update();
        emit changed();
    }
}

QRectF RegionCanvas::frameRect() const {
    if (frame.isNull()) {
        return QRectF(rect());
    }
    const QSizeF fitted = QSizeF(frame.size()).scaled(QSizeF(size()), Qt::KeepAspectRatio);
    return QRectF(QPointF((width() - fitted.width()) / 2.0, (height() - fitted.height()) / 2.0),
                  fitted);
}

QPointF RegionCanvas::toCanvas(const cv::Point& point) const {
    const QRectF area = frameRect();
    const double scale = frame.isNull() ? 1.0 : area.width() / frame.width();
    return area.topLeft() + QPointF(point.x * scale, point.y * scale);
}

cv::Point RegionCanvas::toVideo(const QPointF& place) const {
    const QRectF area = frameRect();
    const double scale = frame.isNull() ? 1.0 : area.width() / frame.width();
    const QPointF at = (place - area.topLeft()) / scale;
    return {std::clamp(static_cast<int>(std::lround(at.x())), 0, frame.width()),
            std::clamp(static_cast<int>(std::lround(at.y())), 0, frame.height())};
}

QSize RegionCanvas::sizeHint() const {
    // Large enough to place points on a small video, small enough for a laptop's screen.
    const QSize frameSize = frame.isNull() ? QSize(16, 9) : frame.size();
    return frameSize.scaled(QSize(960, 600), Qt::KeepAspectRatio);
}

bool RegionCanvas::pointAt(const QPointF& place, int& polygon, int& point) const {
    double nearest = kGrabDistance;
    bool found = false;
    for (std::size_t i = 0; i < polygons.size(); ++i) {
        for (std::size_t j = 0; j < polygons[i].points.size(); ++j) {
            const QPointF offset = toCanvas(polygons[i].points[j]) - place;
            const double distance = std::hypot(offset.x(), offset.y());
            if (distance <= nearest) {
                nearest = distance;
                polygon = static_cast<int>(i);
                point = static_cast<int>(j);
                found = true;
            }
        }
    }
    return found;
}

void RegionCanvas::removePoint(int polygon, int point) {
    std::vector<cv::Point>& points = polygons[polygon].points;
    points.erase(points.begin() + point);
    currentPolygon = polygon;
    selectedPoint = -1;
    if (points.empty()) {
        removeCurrent();
        return;
    }
    update();
    emit changed();
}

void RegionCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(32, 32, 32));
    painter.setRenderHint(QPainter::Antialiasing);
    if (!frame.isNull()) {
        painter.drawImage(frameRect(), frame);
    }
    for (std::size_t i = 0; i < polygons.size(); ++i) {
        const pelmora::RegionShape& shape = polygons[i];
        QPolygonF outline;
        for (const cv::Point& point : shape.points) {
            outline << toCanvas(point);
        }
        const bool isCurrent = static_cast<int>(i) == currentPolygon;
        const QColor colour = shape.keep ? kKeptColour : kExcludedColour;
        QColor fill = colour;
        fill.setAlpha(shape.keep ? 40 : 90);
        painter.setBrush(fill);
        painter.setPen(QPen(colour, isCurrent ? 2.5 : 1.5));
        // The polygon being drawn stays open until it has its three points.
        if (shape.points.size() >= 3) {
            painter.drawPolygon(outline);
        } else {
            painter.drawPolyline(outline);
        }
        for (std::size_t j = 0; j < shape.points.size(); ++j) {
            const bool selected = isCurrent && static_cast<int>(j) == selectedPoint;
            painter.setBrush(selected ? Qt::white : colour);
            painter.setPen(QPen(Qt::black, 1));
            painter.drawEllipse(outline[static_cast<int>(j)], selected ? 5.0 : 4.0,
                                selected ? 5.0 : 4.0);
        }
    }
}

void RegionCanvas::mousePressEvent(QMouseEvent* event) {
    int polygon = -1;
    int point = -1;
    const bool onPoint = pointAt(event->localPos(), polygon, point);
    if (event->button() == Qt::RightButton) {
        if (onPoint) {
            removePoint(polygon, point);
        }
        return;
    }
    if (event->button() != Qt::LeftButton || frame.isNull()) {
        return;
    }
    if (onPoint) {
        currentPolygon = polygon;
        selectedPoint = point;
        dragging = true;
        update();
        emit changed();
        return;
    }
    if (currentPolygon < 0) {
        polygons.push_back({true, {}});
        currentPolygon = static_cast<int>(polygons.size()) - 1;
    }
    std::vector<cv::Point>& points = polygons[currentPolygon].points;
    points.push_back(toVideo(event->localPos()));
    selectedPoint = static_cast<int>(points.size()) - 1;
    dragging = true;
    update();
    emit changed();
}

void RegionCanvas::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging || currentPolygon < 0 || selectedPoint < 0) {
        return;
    }
    cv::Point& point = polygons[currentPolygon].points[selectedPoint];
    const cv::Point moved = toVideo(event->localPos());
    if (moved != point) {
        point = moved;
        update();
        emit changed();
    }
}

void RegionCanvas::mouseReleaseEvent(QMouseEvent*) {
    dragging = false;
}

void RegionCanvas::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) &&
        currentPolygon >= 0 && selectedPoint >= 0) {
        removePoint(currentPolygon, selectedPoint);
        return;
    }
    QWidget::keyPressEvent(event);
}
