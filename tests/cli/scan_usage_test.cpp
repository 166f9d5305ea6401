// pelmora-scan's answers before any scan: a usage error, the help and the version. The parser's
// rules themselves are checked in-process (options_test.cpp); here, that the program says what
// the parser found and exits as a script expects.

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ProgramPaths.h"
#include "ScanChecks.h"

namespace {

namespace fs = std::filesystem;
using namespace clitest;
using testsupport::writeVideo;

TEST_F(ScanTest, AUsageErrorExitsTwoWithTheParsersMessageAndWhereToLook) {
    const std::string video = tmp.file("clip.avi");
    ASSERT_TRUE(writeVideo(video, movingSquare()));
    const ScanResult result = runScan({"--frobnicate", video});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out, "");
    const std::string::size_type end = result.err.find('\n');
    ASSERT_NE(end, std::string::npos) << result.err;
    const std::string message = result.err.substr(0, end);
    EXPECT_EQ(message.rfind("pelmora-scan: ", 0), 0u) << message;
    EXPECT_NE(message.find("--frobnicate"), std::string::npos) << message;
    EXPECT_EQ(result.err.substr(end + 1), "Try 'pelmora-scan --help' for more information.\n");
    EXPECT_FALSE(fs::exists(tmp.file("clip"))) << "scanned despite the usage error";
}

// Polygons of the options and of a file reach the run and its record; one that does not fit
// the video is a usage error before anything is written.
TEST_F(ScanTest, PolygonsReachTheRunOrAreRefusedBeforeAnythingIsWritten) {
    const std::string video = tmp.file("clip.avi");
    ASSERT_TRUE(writeVideo(video, movingSquare()));
    const ScanResult outside = runScan({"--region", "0,0 64,0 64,49", video});
    EXPECT_EQ(outside.exitCode, 2);
    EXPECT_EQ(outside.err, "pelmora-scan: " + video +
                               ": the point 64,49 of polygon 1 lies outside the picture, which "
                               "runs from 0,0 to 64,48\n");
    EXPECT_FALSE(fs::exists(tmp.file("clip")));

    testsupport::writeFile(tmp.file("door.txt"), "# the door\nexclude 0,0 8,0 8,8\n");
    const ScanResult kept = runScan({"-q", "--report", "--region-file", tmp.file("door.txt"),
                                     "--region", "0,0 64,0 64,48 0,48", video});
    EXPECT_EQ(kept.exitCode, 0) << kept.err;
    const nlohmann::json record =
        nlohmann::json::parse(testsupport::fileBytes(tmp.file("clip/.pelmora-run.json")));
    EXPECT_EQ(record["settings"]["regions"],
              nlohmann::json({"exclude 0,0 8,0 8,8", "keep 0,0 64,0 64,48 0,48"}))
        << record.dump();
    const std::string report = testsupport::fileBytes(tmp.file("clip/report.html"));
    EXPECT_NE(report.find("1 polygon kept, 1 polygon left out"), std::string::npos);
    EXPECT_NE(report.find("<figure class=\"regions\"><img src=\"data:image/jpeg;base64,"),
              std::string::npos);
}

TEST_F(ScanTest, HelpAndVersionGoToStdoutAndScanNothing) {
    const std::string video = tmp.file("clip.avi");
    ASSERT_TRUE(writeVideo(video, movingSquare()));
    const std::string usageLine = "Usage: pelmora-scan [OPTIONS] VIDEO...\n";
    const std::string version = std::string("pelmora-scan ") + PELMORA_VERSION + "\n";
    std::string firstHelp;  // every way of asking prints the same
    struct Row {
        const char* name;
        std::vector<std::string> arguments;
        bool isVersion;
    };
    const Row rows[] = {
        {"help", {"--help"}, false},
        {"shortHelp", {"-h"}, false},
        {"helpWithAVideo", {video, "--help"}, false},
        {"version", {"--version"}, true},
        {"versionWithAVideo", {"--version", video}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ScanResult result = runScan(row.arguments);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, "");
        if (row.isVersion) {
            EXPECT_EQ(result.out, version);
        } else {
            EXPECT_EQ(result.out.rfind(usageLine, 0), 0u) << result.out;
            if (firstHelp.empty()) {
                firstHelp = result.out;
            }
            EXPECT_EQ(result.out, firstHelp);
        }
        EXPECT_FALSE(fs::exists(tmp.file("clip"))) << "scanned a video as well";
    }
}

// An answer that cannot be written is a failure, not a success with nothing to show.
TEST_F(ScanTest, HelpAndVersionIntoAFullDiskFail) {
    for (const char* argument : {"--version", "--help"}) {
        const std::string command = std::string(testsupport::kScanProgram) + " " + argument +
                                    " > /dev/full 2> '" + tmp.file("err") + "'";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << argument;
        EXPECT_EQ(WEXITSTATUS(status), 1) << argument;
        EXPECT_EQ(testsupport::fileBytes(tmp.file("err")),
                  "pelmora-scan: cannot write to the standard output: No space left on device\n")
            << argument;
    }
}

}  // namespace
