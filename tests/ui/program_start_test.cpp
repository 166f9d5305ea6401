#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <algorithm>
#include <ostream>
#include <string>

#include "TestSupport.h"

namespace {

// What the offscreen platform says once the window shows: by then Qt has long settled on its
// runtime folder, and a warning about it would already be on the stream.
const QByteArray kWindowShown = "This plugin does not support propagateSizeHints()";
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

// Starts the built program on the offscreen platform, waits until its window shows and kills
// it; returns what it wrote to the standard error stream.
QByteArray startAndKill(const QProcessEnvironment& environment) {
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setReadChannel(QProcess::StandardError);
    program.start(QStringLiteral(PELMORA_PATH), QStringList());
    QByteArray written;
    while (!written.contains(kWindowShown) && program.waitForReadyRead(60000)) {
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

    const QByteArray written = startAndKill(environment);

    ASSERT_TRUE(written.contains(kWindowShown)) << written.toStdString();
    EXPECT_FALSE(written.contains(row.absent)) << written.toStdString();
    if (!row.present.isEmpty()) {
        EXPECT_TRUE(written.contains(row.present)) << written.toStdString();
    }
    if (!row.runtimeDirSet) {
        // Qt did fall back, into the temporary folder given, which goes away with it.
        const std::vector<std::string> names = testsupport::listDir(temp.path());
        EXPECT_TRUE(std::any_of(names.begin(), names.end(), [](const std::string& name) {
            return name.rfind("runtime-", 0) == 0;
        })) << temp.path();
    }
}

INSTANTIATE_TEST_SUITE_P(
    RuntimeFolder, ProgramStart,
    testing::Values(RuntimeCase{"NotSet", false, kFallbackWarning, {}},
                    RuntimeCase{"OpenToOthers", true, kFallbackWarning, kPermissionsWarning}),
    [](const testing::TestParamInfo<RuntimeCase>& info) { return std::string(info.param.name); });

}  // namespace
