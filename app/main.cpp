#include <QApplication>

#include "Kavrit.h"
#include "LibraryDiagnostics.h"

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

int main(int argc, char* argv[]) {
    pelmora::setLibraryDiagnostics(false);
    defaultHandler = qInstallMessageHandler(quietRuntimeFallback);
    QApplication application(argc, argv);
    Kavrit window;
    window.openFromArguments(QApplication::arguments());
    window.show();
    return application.exec();
}
