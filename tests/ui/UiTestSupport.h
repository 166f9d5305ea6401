#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QString>
#include <QTextBrowser>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "FolderNames.h"
#include "Kavrit.h"
#include "TestSupport.h"

// Failed comparisons of texts show the texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace uitest {

// Answers the next modal dialog from a timer, while the code under test sits in its exec().
class ModalAnswer {
public:
    explicit ModalAnswer(std::function<void(QWidget*)> answer) : answer(std::move(answer)) {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                timer.stop();
                seen = true;
                this->answer(modal);
            }
        });
        timer.start();
    }

    bool answered() const { return seen; }

private:
    std::function<void(QWidget*)> answer;
    QTimer timer;
    bool seen = false;
};

// The title and text of the next message box, which is then closed.
struct BoxSeen {
    QString title;
    QString text;
};

inline std::unique_ptr<ModalAnswer> closeNextBox(BoxSeen& seen) {
    return std::make_unique<ModalAnswer>([&seen](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box != nullptr) {
            seen.title = box->windowTitle();
            seen.text = box->text();
            box->accept();
        } else {
            seen.title = QStringLiteral("<not a message box>");
            modal->close();
        }
    });
}

template <typename T>
T* child(Kavrit& window, const char* name) {
    return window.findChild<T*>(QString::fromLatin1(name));
}

// Help → Documentation, and the help window it opened (with no other one open).
inline QTextBrowser* openHelpWindow(Kavrit& window) {
    window.openDocumentation();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* view = qobject_cast<QTextBrowser*>(widget);
        if (view != nullptr && view->isVisible()) {
            return view;
        }
    }
    return nullptr;
}

// What the status bar says about the last run.
inline QString runSummary(Kavrit& window) {
    return child<QLabel>(window, "label_runSummary")->text();
}

// The text with a duration such as "3.1 s" written as "T s", since no test can know it.
inline QString withoutTime(QString text) {
    return text.replace(QRegularExpression(QStringLiteral("\\b\\d+\\.\\d s\\)")),
                        QStringLiteral("T s)"));
}

// Lets queued events and timers run for a while.
inline void spin(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

// Waits until the run that the last action started has ended and the window has said so;
// returns at once when none started (Start is enabled whenever no run goes).
inline void finishRun(Kavrit& window, int timeoutMs = 60000) {
    const QPushButton* start = child<QPushButton>(window, "pushButton");
    QElapsedTimer clock;
    clock.start();
    while (!start->isEnabled() && clock.elapsed() < timeoutMs) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    EXPECT_TRUE(start->isEnabled()) << "the run did not end";
}

}  // namespace uitest
