// The digest as pelmora-scan makes it: what a user sees of it, beside what the core's own tests
// show of its frames.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "ScanProcess.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using clitest::runScan;
using clitest::ScanResult;
using testsupport::TempDir;

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool made(const std::string& command) {
    return std::system(("ffmpeg -nostdin -v error -y " + command).c_str()) == 0;
}

TEST(DigestScan, SavedLinkedAndMadeAgainByResumeOrSaidWhyNot) {
    TempDir dir;
    const std::string video = dir.file("yard.mp4");
    ASSERT_TRUE(
        made("-f lavfi -i color=c=gray:s=320x240:r=25:d=12 -vf "
             "\"drawbox=enable='between(t,6,7)':x=100:y=80:w=60:h=60:c=red:t=fill\" "
             "-c:v libx264 -pix_fmt yuv420p '" +
             video + "'"));
    const std::string out = dir.file("out");
    const std::vector<std::string> arguments = {"--digest", "--report", "--resume",
                                                "-o",       out,        video};
    ScanResult result = runScan(arguments);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const std::string digest = out + "/digest.mp4";
    EXPECT_NE(result.err.find("[" + digest + "]"), std::string::npos) << result.err;
    EXPECT_TRUE(fs::exists(digest));
    EXPECT_NE(fileText(out + "/report.html").find("href=\"digest.mp4\""), std::string::npos);

    // A digest gone since is made again; nothing else is.
    fs::remove(digest);
    result = runScan(arguments);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(fs::exists(digest)) << result.err;

    const std::string still = dir.file("still.mp4");
    ASSERT_TRUE(made("-f lavfi -i color=c=gray:s=320x240:r=25:d=2 -c:v libx264 '" + still + "'"));
    result = runScan({"--digest", "-o", dir.file("still"), still});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("No digest of " + still + ": it has no event to show"),
              std::string::npos)
        << result.err;
    EXPECT_FALSE(fs::exists(dir.file("still") + "/digest.mp4"));
}

}  // namespace
