#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <string>

namespace uitest {

// A modal dialog that no test answers would block the whole suite until CTest gives up and
// loses every result. The watchdog rejects one that stays open too long and fails the test
// that was running, by name.
class ModalWatchdog {
public:
    explicit ModalWatchdog(int limitMs) : limitMs(limitMs) {
        timer.setInterval(100);
        QObject::connect(&timer, &QTimer::timeout, [this] { check(); });
        timer.start();
    }

private:
    void check() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != watched) {
            watched = modal;
            openFor.start();
            return;
        }
        if (modal == nullptr || openFor.elapsed() < limitMs) {
            return;
        }
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        const std::string name = test != nullptr
                                     ? std::string(test->test_suite_name()) + "." + test->name()
                                     : std::string("no test");
        ADD_FAILURE() << name << " left the modal dialog \"" << modal->windowTitle().toStdString()
                      << "\" open for " << limitMs << " ms; it was rejected.";
        watched = nullptr;
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
    }

    const int limitMs;
    QTimer timer;
    QPointer<QWidget> watched;
    QElapsedTimer openFor;
};

}  // namespace uitest
