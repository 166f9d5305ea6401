#include <QApplication>

#include "Kavrit.h"
#include "LibraryDiagnostics.h"

int main(int argc, char* argv[]) {
    pelmora::silenceLibraryDiagnostics();
    QApplication application(argc, argv);
    Kavrit window;
    window.openFromArguments(QApplication::arguments());
    window.show();
    return application.exec();
}
