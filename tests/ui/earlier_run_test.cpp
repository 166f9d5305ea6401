// The question the window asks before a run into a folder that holds an earlier run's snapshots,
// and what each answer does.

#include <gtest/gtest.h>

#include <QLocale>
#include <QMessageBox>
#include <QTest>
#include <string>
#include <vector>

#include "EarlierRunQuestion.h"
#include "FolderNames.h"
#include "RunningWindow.h"
#include "TestSupport.h"
#include "UiTestSupport.h"

namespace {

using namespace uitest;
using testsupport::solidFrame;
using testsupport::TempDir;
using testsupport::withRect;

TEST(WindowEarlierRun, AsksBeforeRemovingTheSnapshotsOfAnEarlierRunAndKeepsTheListsItsOwn) {
    struct Row {
        const char* name;
        const char* answer;
        std::vector<std::string> left;
        const char* told;  // on the error stream after the run
    };
    const std::vector<std::string> all{"IMG00000000.jpg", "IMG00000040.jpg", "IMG00000080.jpg",
                                       "IMG00000120.jpg"};
    const std::vector<std::string> own{"IMG00000000.jpg", "IMG00000040.jpg"};
    const std::vector<Row> rows{
        {"remove", "Remove", own, ""},
        {"keep", "Keep", all, "2 snapshots of an earlier run are in DIR\n"},
        {"cancel", "Cancel", all, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir tmp;
        writeMovingSquare(tmp.file("long.avi"), 4);
        writeMovingSquare(tmp.file("short.avi"), 2);
        RunningWindow run;
        run.setFields(tmp.file("long.avi"), tmp.path());
        testsupport::StderrCapture first;
        run.clickStart();
        first.finish();
        ASSERT_EQ(testsupport::snapshotFiles(tmp.path()), all);

        run.setFields(tmp.file("short.avi"), tmp.path());
        QString asked;
        QString shown;
        uitest::ModalAnswer answer([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            asked = box->text();
            shown = box->informativeText();
            for (QAbstractButton* button : box->buttons()) {
                if (button->text().startsWith(QString::fromLatin1(row.answer))) {
                    button->click();
                    return;
                }
            }
            FAIL() << "no button " << row.answer;
        });
        testsupport::StderrCapture second;
        run.clickStart();
        const std::string told = second.finish();
        EXPECT_TRUE(answer.answered());
        EXPECT_EQ(asked, QStringLiteral("This folder holds 4 snapshots of an earlier run."));
        EXPECT_TRUE(shown.contains(QString::fromStdString(tmp.path()))) << shown.toStdString();
        // What stays beside the new run is said in the window as on the error stream.
        EXPECT_EQ(run.summary().contains(
                      QStringLiteral("; 2 snapshots of an earlier run are still in the folder")),
                  std::string(row.answer) == "Keep")
            << run.summary().toStdString();
        EXPECT_EQ(testsupport::snapshotFiles(tmp.path()), row.left);
        std::string expectedTold = row.told;
        if (!expectedTold.empty()) {
            expectedTold.replace(expectedTold.find("DIR"), 3, tmp.path());
        }
        EXPECT_NE(told.find(expectedTold), std::string::npos) << told;
        if (std::string(row.answer) != "Cancel") {
            EXPECT_EQ(told.find("an earlier run") != std::string::npos, !expectedTold.empty());
            // The list is of this run alone, whatever stays beside it.
            const std::string text = testsupport::fileBytes(tmp.file("snapshots.csv"));
            EXPECT_EQ(text.find("IMG00000080.jpg"), std::string::npos) << text;
            EXPECT_NE(text.find("IMG00000040.jpg"), std::string::npos) << text;
        }
    }
}

// The question is of a run that is to happen: a video that does not open is said at once, and
// nothing is asked of the folder's earlier snapshots.
TEST(WindowEarlierRun, AVideoThatDoesNotOpenIsSaidBeforeAnythingIsAsked) {
    TempDir tmp;
    writeMovingSquare(tmp.file("long.avi"), 4);
    RunningWindow run;
    run.setFields(tmp.file("long.avi"), tmp.path());
    testsupport::StderrCapture first;
    run.clickStart();
    first.finish();
    run.setFields(tmp.file("missing.avi"), tmp.path());
    uitest::BoxSeen box;
    auto answer = uitest::closeNextBox(box);
    testsupport::StderrCapture second;
    run.clickStart();
    second.finish();
    EXPECT_TRUE(answer->answered());
    EXPECT_EQ(box.title, QStringLiteral("Warning"));
    EXPECT_EQ(box.text.toStdString(),
              "Failed to open " + tmp.file("missing.avi") + ": No such file or directory");
    EXPECT_EQ(testsupport::snapshotFiles(tmp.path()).size(), 4u);
}

// Enter loses nothing: the default is to keep what an earlier run left, and the choices say
// what they do, with the folder's path whole.
TEST(WindowEarlierRun, TheQuestionsDefaultKeepsAndItsChoicesSayWhatTheyDo) {
    pelmora::EarlierRun earlier;
    earlier.snapshots.resize(1004);
    const QString folder =
        QStringLiteral("/home/someone/recordings/a-rather-long-folder-name-for-one-camera/day");
    QStringList texts;
    QString defaultText;
    QString shown;
    uitest::ModalAnswer answer([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* button : box->buttons()) {
            texts << button->text();
        }
        ASSERT_NE(box->defaultButton(), nullptr);
        defaultText = box->defaultButton()->text();
        shown = box->informativeText();
        QTest::keyClick(box, Qt::Key_Return);
    });
    EXPECT_EQ(askAboutEarlierRun(nullptr, folder, earlier), EarlierRunChoice::Keep);
    EXPECT_TRUE(answer.answered());
    EXPECT_EQ(defaultText, QStringLiteral("Keep them beside the new ones"));
    // The count as the desktop's language writes numbers: "1,004" in English.
    EXPECT_TRUE(texts.contains(
        QStringLiteral("Remove the %1 snapshots of the earlier run").arg(QLocale().toString(1004))))
        << texts.join('|').toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("<p style=\"white-space:pre\">") + folder + "</p>"))
        << shown.toStdString();
}

}  // namespace
