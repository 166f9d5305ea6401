#include "HelpWindows.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QTextBrowser>
#include <QUrl>

#include "Version.h"

namespace {

const char* const kDocumentationAddress = "qrc:///Kavrit/PelmoraDocumentation.html";

// Blocks separated by '\n', the release line last and without a line end: the version that
// ends it is the build's own (see aboutInfo). Credits as the package's copyright file gives
// them, and the free libraries the program stands on, with their licences.
const char* const kAboutText =
    "Written by the Pelmora developers, for finding the moments of motion in recorded video.\n"
    "\n"
    "Video read and clips cut with FFmpeg's libraries; snapshots written with libjpeg-turbo.\n"
    "\n"
    "Built on free software:\n"
    "\tQt 5.15, the window toolkit (GNU LGPL v3)\n"
    "\tOpenCV 4.6, the image arithmetic (Apache License 2.0)\n"
    "\tFFmpeg 5.1, the video decoders and encoders (GNU LGPL v2.1 or later).\n"
    "\n"
    "\n"
    "Copyright 2026 the Pelmora developers\n"
    "Free software: you may share and change it under the licence below; it comes with no "
    "warranty.\n"
    "\n"
    "\n"
    "Beta Release ";

}  // namespace

void showUserGuide(const QIcon& icon) {
    auto* view = new QTextBrowser();
    // Each help window is independent of the main window; it frees itself when closed, and
    // does not keep the program running once the main window is closed.
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->setAttribute(Qt::WA_QuitOnClose, false);
    view->setWindowIcon(icon);
    // The guide is compiled in; only a link out of it needs the desktop's browser.
    view->setOpenExternalLinks(true);
    view->setSource(QUrl(QString::fromLatin1(kDocumentationAddress)));
    view->setWindowTitle(view->documentTitle());
    // Room for the guide's tables without a sideways scroll.
    view->resize(860, 720);
    view->show();
}

void showAbout(QWidget* parent) {
    QMessageBox::about(
        parent, QCoreApplication::translate("Kavrit", "About Pelmora"),
        QString::fromLatin1(kAboutText) + QString::fromLatin1(pelmora::kVersion) +
            QCoreApplication::translate("Kavrit", ". Licensed under the GNU GPL v3 or later"));
}
