#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <unistd.h>
#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>
#include <QWheelEvent>
#include <fstream>
#include <functional>
#include <set>
#include <vector>

#include "ProgramPaths.h"
#include "TestSupport.h"
#include "UiTestSupport.h"

namespace {

using uitest::child;
using uitest::ModalAnswer;

struct ChooserSeen {
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    QStringList nameFilters;
    QWidget* parent = nullptr;
};

// Picks path in the next file dialog (or cancels it when path is empty).
std::unique_ptr<ModalAnswer> answerChooser(ChooserSeen& seen, const QString& path) {
    return std::make_unique<ModalAnswer>([&seen, path](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        seen.mode = dialog->fileMode();
        seen.nameFilters = dialog->nameFilters();
        seen.parent = dialog->parentWidget();
        if (path.isEmpty()) {
            static_cast<QDialog*>(dialog)->reject();
            return;
        }
        // As a user types it: selectFile() leaves a focused name field alone.
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(path);
        static_cast<QDialog*>(dialog)->accept();
    });
}

TEST(Choosers, ChosenPathLandsInItsOwnFieldOnly) {
    testsupport::TempDir tmp;
    std::ofstream(tmp.file("garden.avi")) << "x";
    const struct {
        const char* via;    // a button or a File menu action
        const char* field;  // receives the choice
        const char* other;  // keeps what was typed
        QFileDialog::FileMode mode;
        QStringList nameFilters;
        std::string chosen;
    } rows[] = {
        {"videoSelectButton",
         "videoBox",
         "lineEdit",
         QFileDialog::ExistingFile,
         {"Video (*.avi)"},
         tmp.file("garden.avi")},
        {"actionNew_Project",
         "videoBox",
         "lineEdit",
         QFileDialog::ExistingFile,
         {"Video (*.avi)"},
         tmp.file("garden.avi")},
        {"directorySelectButton",
         "lineEdit",
         "videoBox",
         QFileDialog::Directory,
         {"All Files (*)"},
         tmp.path()},
        {"actionSave_Path",
         "lineEdit",
         "videoBox",
         QFileDialog::Directory,
         {"All Files (*)"},
         tmp.path()},
    };
    for (const auto& row : rows) {
        Kavrit window;
        child<QLineEdit>(window, row.other)->setText(QStringLiteral("typed by hand"));
        ChooserSeen seen;
        auto answer = answerChooser(seen, QString::fromStdString(row.chosen));
        if (auto* action = child<QAction>(window, row.via)) {
            action->trigger();
        } else {
            QTest::mouseClick(child<QWidget>(window, row.via), Qt::LeftButton);
        }
        EXPECT_TRUE(answer->answered()) << row.via;
        EXPECT_EQ(seen.mode, row.mode) << row.via;
        EXPECT_EQ(seen.nameFilters, row.nameFilters) << row.via;
        EXPECT_EQ(seen.parent, &window) << row.via;
        EXPECT_EQ(child<QLineEdit>(window, row.field)->text(), QString::fromStdString(row.chosen))
            << row.via;
        EXPECT_EQ(child<QLineEdit>(window, row.other)->text(), QStringLiteral("typed by hand"))
            << row.via;
    }
}

TEST(Choosers, CancellingLeavesHandTypedTextAlone) {
    Kavrit window;
    child<QLineEdit>(window, "videoBox")->setText(QStringLiteral("/by/hand.avi"));
    child<QLineEdit>(window, "lineEdit")->setText(QStringLiteral("/by/hand"));
    for (const char* slot : {"launchVideoSelectDialog", "launchDirectorySelectDialog"}) {
        ChooserSeen seen;
        auto answer = answerChooser(seen, QString());
        QMetaObject::invokeMethod(&window, slot);
        EXPECT_TRUE(answer->answered()) << slot;
    }
    EXPECT_EQ(child<QLineEdit>(window, "videoBox")->text(), QStringLiteral("/by/hand.avi"));
    EXPECT_EQ(child<QLineEdit>(window, "lineEdit")->text(), QStringLiteral("/by/hand"));
}

void sendWheel(QSlider* slider, int angle) {
    const QPoint centre = slider->rect().center();
    QWheelEvent wheel(centre, slider->mapToGlobal(centre), QPoint(), QPoint(0, angle), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(slider, &wheel);
}

TEST(ThresholdLabel, AlwaysShowsTheValueStartWillUse) {
    Kavrit window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* slider = child<QSlider>(window, "horizontalSlider_thresholdSlider");
    auto* label = child<QLabel>(window, "label_threshold");
    // A dragged handle shows its own value; the label follows when it is let go.
    const auto drag = [&](int to) {
        return [&, to] {
            const QString before = label->text();
            slider->setSliderDown(true);
            slider->setValue(to);
            EXPECT_EQ(label->text(), before) << "while dragged to " << to;
            slider->setSliderDown(false);
        };
    };
    const struct {
        const char* name;
        int from;
        std::function<void()> move;
    } rows[] = {
        {"drag to 0", 21, drag(0)},
        {"drag to 50", 0, drag(50)},
        {"Left key", 21, [&] { QTest::keyClick(slider, Qt::Key_Left); }},
        {"mouse wheel", 21, [&] { sendWheel(slider, -120); }},
        {"click on the groove", 21,
         [&] { QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(3, slider->height() / 2)); }},
    };
    for (const auto& row : rows) {
        slider->setValue(row.from);
        ASSERT_EQ(label->text(), QStringLiteral("Threshold: %1").arg(row.from)) << row.name;
        slider->setFocus();
        row.move();
        EXPECT_NE(slider->value(), row.from) << row.name;
        EXPECT_EQ(label->text(), QStringLiteral("Threshold: %1").arg(slider->value())) << row.name;
    }
}

TEST(Documentation, EachCallOpensAnotherWindowOnTheBuiltInGuide) {
    Kavrit window;
    const auto viewsBefore = QApplication::topLevelWidgets().size();
    child<QAction>(window, "actionDocumentation")->trigger();
    QMetaObject::invokeMethod(&window, "openDocumentation");
    QList<QTextBrowser*> views;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* view = qobject_cast<QTextBrowser*>(widget)) {
            views << view;
        }
    }
    ASSERT_EQ(views.size(), 2);
    EXPECT_EQ(QApplication::topLevelWidgets().size(), viewsBefore + 2);
    for (QTextBrowser* view : views) {
        EXPECT_TRUE(view->isVisible());
        EXPECT_EQ(view->parentWidget(), nullptr);
        EXPECT_EQ(view->source(), QUrl(QStringLiteral("qrc:///Kavrit/PelmoraDocumentation.html")));
        EXPECT_TRUE(view->toPlainText().contains(QStringLiteral("Your first run, step by step")));
        EXPECT_EQ(view->documentTitle(), QStringLiteral("Pelmora User Guide"));
        EXPECT_EQ(view->windowTitle(), QStringLiteral("Pelmora User Guide"));
        EXPECT_EQ(view->windowIcon().cacheKey(), window.windowIcon().cacheKey());
        EXPECT_TRUE(view->openExternalLinks());
    }
    views.first()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(views.first()));
    // A click on a link of the contents moves within the page; the window keeps its title.
    QTextBrowser* first = views.first();
    QTextCursor link = first->document()->find(QStringLiteral("The threshold and how motion"));
    ASSERT_FALSE(link.isNull());
    link.setPosition(link.selectionStart() + 2);
    EXPECT_EQ(first->verticalScrollBar()->value(), 0);
    QTest::mouseClick(first->viewport(), Qt::LeftButton, Qt::NoModifier,
                      first->cursorRect(link).center());
    uitest::spin(100);
    EXPECT_EQ(first->source().fragment(), QStringLiteral("threshold"));
    EXPECT_GT(first->verticalScrollBar()->value(), 0);
    EXPECT_EQ(first->windowTitle(), QStringLiteral("Pelmora User Guide"));
    // Closing a help window frees it.
    QPointer<QTextBrowser> closed = first;
    closed->close();
    uitest::spin(50);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(closed.isNull());
    views.last()->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The places a link can lead to in a document as the help window holds it.
std::set<QString> anchorsOf(const QTextDocument& document) {
    std::set<QString> names;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
            for (const QString& name : fragment.fragment().charFormat().anchorNames()) {
                names.insert(name);
            }
        }
    }
    return names;
}

TEST(Documentation, EveryLinkWithinTheGuideLeadsToAPlaceInIt) {
    QFile file(QStringLiteral(":/Kavrit/PelmoraDocumentation.html"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(file.readAll());
    Kavrit window;
    QPointer<QTextBrowser> help = uitest::openHelpWindow(window);
    ASSERT_FALSE(help.isNull());
    const std::set<QString> anchors = anchorsOf(*help->document());
    struct Row {
        QString target;
        bool there;
    };
    // Every link of the page, and one to nowhere, which shows that a missing place is seen.
    std::vector<Row> rows{{QStringLiteral("nowhere-in-the-guide"), false}};
    auto links = QRegularExpression(QStringLiteral("href=\"#([^\"]+)\"")).globalMatch(html);
    while (links.hasNext()) {
        rows.push_back({links.next().captured(1), true});
    }
    ASSERT_GT(rows.size(), 10u);
    for (const Row& row : rows) {
        EXPECT_EQ(anchors.count(row.target) == 1, row.there) << row.target.toStdString();
    }
    help->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The options named at the start of the captures' matches, one each.
std::set<QString> optionsIn(const QString& text, const QString& pattern) {
    std::set<QString> names;
    auto matches =
        QRegularExpression(pattern, QRegularExpression::MultilineOption).globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        for (int i = 1; i <= match.lastCapturedIndex(); ++i) {
            if (!match.captured(i).isEmpty()) {
                names.insert(match.captured(i));
            }
        }
    }
    return names;
}

TEST(Documentation, TheGuidesOptionTableListsEveryOptionOfPelmoraScansHelp) {
    QProcess scan;
    scan.start(QString::fromUtf8(testsupport::kScanProgram), QStringList{QStringLiteral("--help")});
    ASSERT_TRUE(scan.waitForFinished(60000));
    ASSERT_EQ(scan.exitCode(), 0);
    // An option's names start its line of the help, two or six blanks in; its help is further
    // in, and so are the lines its help wraps onto.
    const std::set<QString> help = optionsIn(QString::fromUtf8(scan.readAllStandardOutput()),
                                             QStringLiteral("^  (?:(-\\w), |    )(--[\\w-]+)"));
    ASSERT_TRUE(help.count(QStringLiteral("--threshold")) == 1 &&
                help.count(QStringLiteral("-t")) == 1 && help.count(QStringLiteral("--join")) == 1)
        << "no options read from the help";

    QFile file(QStringLiteral(":/Kavrit/PelmoraDocumentation.html"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(file.readAll());
    const int start = html.indexOf(QStringLiteral("<table id=\"scan-options\">"));
    ASSERT_GE(start, 0);
    const QString table = html.mid(start, html.indexOf(QStringLiteral("</table>"), start) - start);
    // The options a row stands for are the first cell's.
    const std::set<QString> guide =
        optionsIn(table, QStringLiteral("<td class=\"opt\"><code>(-{1,2}[\\w-]+)[^<]*</code>"
                                        "(?:, <code>(--[\\w-]+)[^<]*</code>)?</td>"));
    EXPECT_EQ(std::vector<QString>(guide.begin(), guide.end()),
              std::vector<QString>(help.begin(), help.end()));
}

TEST(Documentation, ClosingTheMainWindowEndsTheProgramWithItsHelpWindows) {
    Kavrit window;
    window.show();
    QPointer<QWidget> help = uitest::openHelpWindow(window);
    ASSERT_FALSE(help.isNull());
    QApplication::setQuitOnLastWindowClosed(true);  // as in the program
    QTimer::singleShot(0, &window, &QWidget::close);
    // Without an end of its own the program would wait here for ever. (The timer goes with
    // the window, so that it cannot end a later test's dialog.)
    QTimer::singleShot(3000, &window, [] { QCoreApplication::exit(1); });
    const int exitCode = QApplication::exec();
    QApplication::setQuitOnLastWindowClosed(false);
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(help.isNull() || !help->isVisible());
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Opens the About box and leaves it to the watchdog of the tests' main.
void leaveAboutBoxOpen() {
    Kavrit window;
    window.aboutInfo();
}

TEST(ModalWatchdog, RejectsADialogNobodyAnswersAndFailsTheTestByName) {
    EXPECT_NONFATAL_FAILURE(leaveAboutBoxOpen(),
                            "ModalWatchdog.RejectsADialogNobodyAnswersAndFailsTheTestByName left "
                            "the modal dialog \"About Pelmora\" open");
}

TEST(AboutBox, ShowsTheCreditsEndingInTheReleaseLine) {
    Kavrit window;
    uitest::BoxSeen box;
    auto answer = uitest::closeNextBox(box);
    child<QAction>(window, "actionAbout")->trigger();
    ASSERT_TRUE(answer->answered());
    EXPECT_EQ(box.title, QStringLiteral("About Pelmora"));
    const QStringList lines = box.text.split('\n');
    ASSERT_EQ(lines.size(), 15);
    // Developers, earlier code, sponsors, institution, each after its blank lines.
    for (int blank : {1, 3, 8, 9, 12, 13}) {
        EXPECT_TRUE(lines[blank].isEmpty()) << blank;
    }
    for (int text : {0, 2, 4, 10, 11}) {
        EXPECT_FALSE(lines[text].isEmpty()) << text;
        EXPECT_FALSE(lines[text].startsWith('\t')) << text;
    }
    for (int sponsor : {5, 6, 7}) {
        EXPECT_TRUE(lines[sponsor].startsWith('\t')) << sponsor;
    }
    EXPECT_TRUE(lines[7].endsWith('.'));
    EXPECT_EQ(lines.last(),
              QStringLiteral("Beta Release 0.1.0. Licensed under the GNU GPL v3 or later"));
    EXPECT_FALSE(box.text.contains('<'));
    // A free program's credits: nothing reserved beside the licence that gives it away.
    EXPECT_FALSE(box.text.contains(QStringLiteral("All rights reserved")));
}

TEST(CloseEventSlot, SpeaksOnlyWhenInvokedByName) {
    testsupport::OutputCapture out(STDOUT_FILENO);
    {
        Kavrit window;
        window.show();
        window.close();
    }
    EXPECT_EQ(out.finish(), "");
    testsupport::OutputCapture again(STDOUT_FILENO);
    testsupport::StderrCapture shell;  // the shell does not know the command
    Kavrit window;
    QMetaObject::invokeMethod(&window, "closeEvent");
    EXPECT_EQ(again.finish(), "Program is closing.\n");
}

}  // namespace
