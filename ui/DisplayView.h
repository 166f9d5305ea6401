#pragma once

#include <QImage>
#include <QLabel>
#include <QObject>
#include <memory>

// The window that shows the change mask during a detailed run.
inline constexpr const char* kMaskWindowName = "diff";

// One picture of a detailed run, scaled to the window and keeping its shape. Escape in it, or
// closing it, asks the run to stop.
class DisplayWindow : public QLabel {
    Q_OBJECT

public:
    explicit DisplayWindow(const QString& title);
    void showPicture(const QImage& picture);

signals:
    void stopRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void showScaled();

    QImage last;
};

// What a detailed run shows: two windows of their own, one titled after the video with the
// frame as it was read, one titled "diff" with the change mask, side by side with the main
// window rather than over it, and sized to fit the screen. They stay with the run's last
// picture when it ends, until the next run or the main window closes.
class DisplayView : public QObject {
    Q_OBJECT

public:
    DisplayView(const QString& videoTitle, const QWidget& mainWindow);
    ~DisplayView() override;

    void showFrame(const QImage& frame, const QImage& mask);

signals:
    void stopRequested();

private:
    void place(QSize pictureSize);

    const QWidget& mainWindow;
    std::unique_ptr<DisplayWindow> videoWindow;
    std::unique_ptr<DisplayWindow> maskWindow;
    bool placed = false;
};
