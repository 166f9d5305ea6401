#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <string>

namespace uitest {

// A modal dialog that no test answers would block the whole suite until CTest gives up and
// loses every result. The watchdog rejects one that stays open too long and fails the test
// that was running, by name.
class ModalWatchdog {
public:
    explicit ModalWatchdog(int limitMs) : limitMs(limitMs) {
        QObject::connect(&timer, &QTimer::timeout, [this] { check(); });
        timer.start(100);
    }

private:
    void check() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != watched) {
            watched = modal;
            openFor.start();
        } else if (modal != nullptr && openFor.elapsed() >= limitMs) {
            const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
            ADD_FAILURE() << (test ? std::string(test->test_suite_name()) + "." + test->name()
                                   : std::string("no test"))
                          << " left the modal dialog \"" << modal->windowTitle().toStdString()
                          << "\" open for " << limitMs << " ms; it was rejected.";
            watched = nullptr;
            auto* dialog = qobject_cast<QDialog*>(modal);
            dialog ? dialog->reject() : static_cast<void>(modal->close());
        }
    }

    const int limitMs;
    QTimer timer;
    QPointer<QWidget> watched;
    QElapsedTimer openFor;
};

}  // namespace uitest
