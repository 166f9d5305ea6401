#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <algorithm>
#include <functional>
#include <ostream>
#include <string>

#include "ProgramPaths.h"
#include "TestSupport.h"

namespace {

const QByteArray kFallbackWarning = "QStandardPaths: XDG_RUNTIME_DIR not set";
const QByteArray kPermissionsWarning = "QStandardPaths: wrong permissions on runtime directory";

struct RuntimeCase {
    const char* name;
    bool runtimeDirSet;  // to a folder that others may read, else not set at all
    QByteArray absent;
    QByteArray present;
};

void PrintTo(const RuntimeCase& row, std::ostream* out) {
    *out << row.name;
}

class ProgramStart : public testing::TestWithParam<RuntimeCase> {};

// Starts the built program on the offscreen platform, waits until Qt has settled on its runtime
// folder (settled() tells, from what the program wrote so far) and kills it; returns what it
// wrote to the standard error stream.
QByteArray startAndKill(const QProcessEnvironment& environment,
                        const std::function<bool(const QByteArray&)>& settled) {
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setReadChannel(QProcess::StandardError);
    program.start(QString::fromUtf8(testsupport::kWindowProgram), QStringList());
    QByteArray written;
    QElapsedTimer clock;
    clock.start();
    while (!settled(written) && clock.elapsed() < 30000) {
        program.waitForReadyRead(50);
        written += program.readAllStandardError();
    }
    program.kill();
    program.waitForFinished();
    return written + program.readAllStandardError();
}

TEST_P(ProgramStart, WarnsOnlyAboutARuntimeFolderThatIsWrong) {
    const RuntimeCase& row = GetParam();
    testsupport::TempDir temp;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("TMPDIR", QString::fromStdString(temp.path()));
    environment.remove("XDG_RUNTIME_DIR");
    if (row.runtimeDirSet) {
        const std::string open = temp.file("open");
        ASSERT_EQ(::mkdir(open.c_str(), 0755), 0);
        ASSERT_EQ(::chmod(open.c_str(), 0755), 0);
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(open));
    }

    // Without a runtime folder Qt falls back to one of its own in the temporary folder, right
    // after the warning it would print; with a wrong one it warns instead.
    const auto fellBack = [&temp] {
        const std::vector<std::string> names = testsupport::listDir(temp.path());
        return std::any_of(names.begin(), names.end(),
                           [](const std::string& name) { return name.rfind("runtime-", 0) == 0; });
    };
    const QByteArray written = startAndKill(environment, [&](const QByteArray& text) {
        return row.runtimeDirSet ? text.contains(kPermissionsWarning) : fellBack();
    });

    if (!row.runtimeDirSet) {
        EXPECT_TRUE(fellBack()) << temp.path();
    }
    EXPECT_FALSE(written.contains(row.absent)) << written.toStdString();
    if (!row.present.isEmpty()) {
        EXPECT_TRUE(written.contains(row.present)) << written.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    RuntimeFolder, ProgramStart,
    testing::Values(RuntimeCase{"NotSet", false, kFallbackWarning, {}},
                    RuntimeCase{"OpenToOthers", true, kFallbackWarning, kPermissionsWarning}),
    [](const testing::TestParamInfo<RuntimeCase>& info) { return std::string(info.param.name); });

// Without any display the program still tells its version and usage, and nothing else runs.
TEST(ProgramStart, AnswersVersionAndHelpWithoutADisplay) {
    const struct {
        const char* argument;
        const char* starts;
    } rows[] = {{"--version", "pelmora "}, {"--help", "Usage: pelmora [VIDEO]"}};
    for (const auto& row : rows) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.remove("QT_QPA_PLATFORM");
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QString::fromUtf8(testsupport::kWindowProgram),
                      QStringList{QString::fromLatin1(row.argument)});
        ASSERT_TRUE(program.waitForFinished(30000)) << row.argument;
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << row.argument;
        EXPECT_EQ(program.exitCode(), 0) << row.argument;
        EXPECT_TRUE(program.readAllStandardOutput().startsWith(row.starts)) << row.argument;
        EXPECT_EQ(program.readAllStandardError(), QByteArray()) << row.argument;
    }
}

// Without a display the window cannot open: the program says so, or answers a wrong option as
// a command-line program does, and never aborts.
TEST(ProgramStart, SaysThereIsNoDisplayAndAnswersUnknownOptionsWithoutOne) {
    const QByteArray noDisplay =
        "pelmora: cannot open a window: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
        "pelmora-scan scans videos without one\n";
    const auto unknown = [](const char* option) {
        return QByteArray("pelmora: unknown option ") + option +
               "\nTry 'pelmora --help' for more information.\n";
    };
    const struct {
        const char* name;
        QStringList arguments;
        int status;
        QByteArray err;
    } rows[] = {
        {"bare", {}, 1, noDisplay},
        {"aVideo", {"garden.avi"}, 1, noDisplay},
        {"aToolkitOption", {"-style", "Fusion", "garden.avi"}, 1, noDisplay},
        {"unknownLongOption", {"--bogus"}, 2, unknown("--bogus")},
        {"unknownShortOption", {"-v"}, 2, unknown("-v")},
        {"unknownAfterAVideo", {"garden.avi", "-v"}, 2, unknown("-v")},
        {"toolkitOptionWithoutItsValue",
         {"-style"},
         2,
         "pelmora: option -style needs a value\nTry 'pelmora --help' for more information.\n"},
    };
    for (const auto& row : rows) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.remove("QT_QPA_PLATFORM");
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QString::fromUtf8(testsupport::kWindowProgram), row.arguments);
        ASSERT_TRUE(program.waitForFinished(30000)) << row.name;
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << row.name;
        EXPECT_EQ(program.exitCode(), row.status) << row.name;
        EXPECT_EQ(program.readAllStandardOutput(), QByteArray()) << row.name;
        EXPECT_EQ(program.readAllStandardError(), row.err) << row.name;
    }
}

// An answer that cannot be written is a failure, not a success with nothing to show.
TEST(ProgramStart, VersionAndHelpIntoAFullDiskFail) {
    for (const char* argument : {"--version", "--help"}) {
        QProcess program;
        program.setStandardOutputFile(QStringLiteral("/dev/full"));
        program.start(QString::fromUtf8(testsupport::kWindowProgram),
                      QStringList{QString::fromLatin1(argument)});
        ASSERT_TRUE(program.waitForFinished(30000)) << argument;
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << argument;
        EXPECT_EQ(program.exitCode(), 1) << argument;
        EXPECT_EQ(program.readAllStandardError(),
                  "pelmora: cannot write to the standard output: No space left on device\n")
            << argument;
    }
}

}  // namespace
