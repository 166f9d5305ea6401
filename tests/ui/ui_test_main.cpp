#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

#include "LibraryDiagnostics.h"
#include "ModalWatchdog.h"
#include "TestSupport.h"

namespace {

QtMessageHandler defaultHandler = nullptr;

// The offscreen platform warns about window features it lacks, on the standard error stream
// that the tests read line by line.
void dropPlatformChatter(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.startsWith(QLatin1String("This plugin does not support"))) {
        return;
    }
    defaultHandler(type, context, text);
}

}  // namespace

int main(int argc, char** argv) {
    testsupport::tellCrashes();
    pelmora::setLibraryDiagnostics(false);
    // A runtime folder of the suite's own, gone when it ends: without a login session Qt would
    // warn and leave its fallback folder in /tmp.
    testsupport::TempDir runtimeDir;
    ::setenv("XDG_RUNTIME_DIR", runtimeDir.path().c_str(), 1);
    defaultHandler = qInstallMessageHandler(dropPlatformChatter);
    QApplication application(argc, argv);
    // Tests close windows on purpose; the application must outlive them.
    QApplication::setQuitOnLastWindowClosed(false);
    // Tests answer their dialogs within milliseconds.
    uitest::ModalWatchdog watchdog(3000);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
