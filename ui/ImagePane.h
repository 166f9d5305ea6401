#pragma once

#include <QImage>
#include <QWidget>
#include <opencv2/core.hpp>

// Shows a blue-green-red image as large as the pane allows without changing its shape,
// centred on a dark ground, so that a frame and its mask side by side line up.
class ImagePane : public QWidget {
    Q_OBJECT

public:
    explicit ImagePane(QWidget* parent = nullptr);

    // The image is copied; an empty one clears the pane.
    void setImage(const cv::Mat& image);

    QSize sizeHint() const override;
    // In the image's shape, so that a pane the width of its column shows no bands.
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture;
};
