#include <QApplication>
#include <QSettings>
#include <cstdio>
#include <cstring>

#include "Kavrit.h"
#include "LibraryDiagnostics.h"
#include "Version.h"

namespace {

QtMessageHandler defaultHandler = nullptr;

// Started without a login session (as root on a server, say), there is no runtime folder; Qt
// makes its own under the temporary folder and works on, so that is no fault to report. Every
// other complaint about the runtime folder still shows.
void quietRuntimeFallback(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtWarningMsg &&
        text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to"))) {
        return;
    }
    defaultHandler(type, context, text);
}

}  // namespace

// --version and --help answer before the toolkit looks for a display, so that they work
// where there is none. Returns whether one of them answered.
bool answeredWithoutWindow(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("pelmora %s\n", pelmora::kVersion);
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf(
                "Usage: pelmora [VIDEO]\n"
                "Finds the moments of motion in a video and saves each changed frame as a "
                "JPEG file.\n"
                "VIDEO fills the window's video field; nothing runs until Start.\n"
                "For runs without a window, see pelmora-scan --help.\n");
            return true;
        }
    }
    return false;
}

int main(int argc, char* argv[]) {
    if (answeredWithoutWindow(argc, argv)) {
        return 0;
    }
    pelmora::setLibraryDiagnostics(false);
    defaultHandler = qInstallMessageHandler(quietRuntimeFallback);
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Pelmora"));
    QApplication::setApplicationName(QStringLiteral("Pelmora"));
    QSettings settings;
    Kavrit window;
    window.restoreSettings(settings);
    window.openFromArguments(QApplication::arguments());
    window.show();
    const int status = application.exec();
    window.saveSettings(settings);
    return status;
}
