#include <QApplication>

#include "Kavrit.h"
#include "LibraryDiagnostics.h"

int main(int argc, char* argv[]) {
    pelmora::silenceLibraryDiagnostics();
    QApplication application(argc, argv);
    Kavrit window;
    window.show();
    return application.exec();
}
