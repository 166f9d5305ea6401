// The faults a probe of the sweep, the day and the digest found, each a row: the commands that
// showed it, and what happens now instead.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ScanProcess.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using clitest::ScanProcess;
using clitest::ScanResult;

bool ffmpeg(const std::string& arguments) {
    return std::system(("ffmpeg -nostdin -v error -y " + arguments).c_str()) == 0;
}

// Four seconds of a grey scene that a red square crosses from 1 s to 2 s, lossless.
const char* const kClip =
    "-f lavfi -i \"color=c=gray:s=160x120:r=25:d=4[bg];color=c=red:s=20x20:r=25:d=4[fg];"
    "[bg][fg]overlay=x='if(between(t,1,2),(t-1)*120,-40)':y=50\" -c:v ffv1";

// A record's field rewritten as it is in the folder's .pelmora-run.json.
void rewriteRecord(const std::string& folder, const std::function<void(nlohmann::json&)>& edit) {
    const std::string path = folder + "/.pelmora-run.json";
    nlohmann::json record = nlohmann::json::parse(testsupport::fileBytes(path));
    edit(record);
    testsupport::writeFile(path, record.dump());
}

struct Fault {
    const char* name;
    // Files made in the row's folder (which holds v.mkv) before the command.
    std::function<void(const std::string& dir)> before;
    std::function<std::vector<std::string>(const std::string& dir)> command;
    int status;
    const char* said;  // a part of the error stream, or "" for anything
    // What else must hold of the output and the files left.
    std::function<void(const std::string& dir, const ScanResult& result)> check;
    // A shell command the scan runs in, "$@" its command line: an environment or a redirection.
    const char* shell = nullptr;
};

ScanResult run(const Fault& fault, const std::string& dir) {
    std::vector<std::string> arguments = fault.command(dir);
    if (fault.shell == nullptr) {
        return clitest::runScan(arguments, dir);
    }
    std::vector<std::string> wrapper = {"/bin/sh", "-c", fault.shell, "sh"};
    ScanProcess process(arguments, dir, wrapper);
    return process.finish();
}

const auto nothing = [](const std::string&) {};
const auto anything = [](const std::string&, const ScanResult&) {};

TEST(Faults, EachFaultFoundNowHasItsSoundBehaviour) {
    testsupport::TempDir shared;
    ASSERT_TRUE(ffmpeg(std::string(kClip) + " '" + shared.file("v.mkv") + "'"));
    const std::vector<Fault> faults = {
        {"a TZ naming a folder is UTC, said once", nothing,
         [](const std::string&) {
             return std::vector<std::string>{"-q", "v.mkv"};
         },
         0,
         "pelmora-scan: TZ=America is neither a zone of the database nor a rule: times are UTC\n",
         anything, "TZ=America exec \"$@\""},
        {"a record whose count is text is no record: the video is scanned again",
         [](const std::string& dir) {
             ASSERT_EQ(clitest::runScan({"-q", "-o", "o", "v.mkv"}, dir).exitCode, 0);
             rewriteRecord(dir + "/o", [](nlohmann::json& record) { record["lost"] = "0"; });
         },
         [](const std::string&) {
             return std::vector<std::string>{"--resume", "--summary", "json", "-o", "o", "v.mkv"};
         },
         0, "",
         [](const std::string&, const ScanResult& result) {
             EXPECT_EQ(nlohmann::json::parse(result.out)["status"], "finished");
         }},
        {"a record whose span is text is left out of the overview, with a line",
         [](const std::string& dir) {
             ASSERT_EQ(clitest::runScan({"-q", "-o", "o", "v.mkv"}, dir).exitCode, 0);
             rewriteRecord(dir + "/o", [](nlohmann::json& record) { record["span_ms"] = "1"; });
         },
         [](const std::string&) {
             return std::vector<std::string>{"--overview-from", "o"};
         },
         1, "Left out of the overview: o holds no record of a run of ours\n", anything},
        {"a record whose zone is a number is no record either",
         [](const std::string& dir) {
             ASSERT_EQ(clitest::runScan({"-q", "-o", "o", "v.mkv"}, dir).exitCode, 0);
             rewriteRecord(dir + "/o", [](nlohmann::json& record) {
                 record["start"] = {{"source", 3}, {"zone", 2}, {"utc_ms", 0}};
             });
         },
         [](const std::string&) {
             return std::vector<std::string>{"--resume", "--summary", "json", "-o", "o", "v.mkv"};
         },
         0, "",
         [](const std::string&, const ScanResult& result) {
             EXPECT_EQ(nlohmann::json::parse(result.out)["status"], "finished");
         }},
        {"a summary the output does not take fails", nothing,
         [](const std::string&) {
             return std::vector<std::string>{"-q", "--summary", "json", "-o", "o", "v.mkv"};
         },
         1, "pelmora-scan: cannot write to the standard output: No space left on device\n",
         anything, "exec \"$@\" > /dev/full"},
        {"a sweep's table the output does not take fails", nothing,
         [](const std::string&) {
             return std::vector<std::string>{"-q", "--sweep", "20", "-o", "o", "v.mkv"};
         },
         1, "cannot write to the standard output", anything, "exec \"$@\" > /dev/full"},
        {"a stream-clock sweep of a stretch ends at its time, a gap in the video or not",
         [](const std::string& dir) {
             // Two seconds, then four seconds of nothing, then two more.
             ASSERT_TRUE(ffmpeg(
                 "-f lavfi -i \"color=c=gray:s=160x120:r=25:d=4[bg];color=c=red:s=20x20:r=25:d=4"
                 "[fg];[bg][fg]overlay=x='mod(n*7,140)':y=50,setpts='if(gte(N,50),PTS+4/TB,PTS)'"
                 "\" -fps_mode passthrough -c:v ffv1 '" +
                 dir + "/gap.mkv'"));
         },
         [](const std::string&) {
             return std::vector<std::string>{"-q",     "--sweep", "30:30", "--clock",
                                             "stream", "--to",    "3",     "--summary",
                                             "json",   "-o",      "o",     "gap.mkv"};
         },
         0, "",
         [](const std::string&, const ScanResult& result) {
             const nlohmann::json row = nlohmann::json::parse(result.out)["sweep"]["rows"][0];
             EXPECT_LE(row["last_ms"].get<long long>(), 3000);
             EXPECT_EQ(row["snapshots"], 50);
         }},
        {"what a killed overview left, and a digest its page no longer links, are cleared",
         [](const std::string& dir) {
             ASSERT_EQ(clitest::runScan({"-q", "-o", "day/o", "v.mkv"}, dir).exitCode, 0);
             testsupport::writeFile(dir + "/day/.day-digest.mp4.4242.part", "half");
             testsupport::writeFile(dir + "/day/day-digest.mp4", "an earlier day");
         },
         [](const std::string&) {
             return std::vector<std::string>{"--overview-from", "day"};
         },
         0, "Removed day/day-digest.mp4 of an earlier overview, which this one does not link\n",
         [](const std::string& dir, const ScanResult&) {
             EXPECT_EQ(testsupport::listDir(dir + "/day"),
                       (std::vector<std::string>{"o", "overview.html"}));
         }},
        {"a name with a colon is a file, and a list reaches no protocol",
         [](const std::string& dir) {
             fs::copy_file(dir + "/v.mkv", dir + "/cam1:0800.mkv");
             testsupport::writeFile(dir + "/list", "pipe:0\nconcat:v.mkv|v.mkv\n");
         },
         [](const std::string&) {
             return std::vector<std::string>{"-q", "--digest", "cam1:0800.mkv", "--list", "list"};
         },
         1, "Failed to open pipe:0: No such file or directory\n",
         [](const std::string& dir, const ScanResult& result) {
             EXPECT_NE(result.err.find("Failed to open concat:v.mkv|v.mkv: No such file"),
                       std::string::npos);
             EXPECT_TRUE(fs::is_regular_file(dir + "/cam1:0800/digest.mp4"));
             EXPECT_NE(result.out.find("cam1:0800.mkv: 100 frames, "), std::string::npos);
         }},
        {"a sweep of noise everywhere suggests nothing, and says why",
         [](const std::string& dir) {
             ASSERT_TRUE(
                 ffmpeg("-f lavfi -i color=c=gray:s=64x48:r=25:d=2 -vf noise=alls=100:allf=t "
                        "-c:v ffv1 '" +
                        dir + "/noise.mkv'"));
         },
         [](const std::string&) {
             return std::vector<std::string>{"-q", "--sweep", "0:20", "-o", "o", "noise.mkv"};
         },
         0, "",
         [](const std::string&, const ScanResult& result) {
             EXPECT_NE(result.out.find("\nNo suggestion: at trigger 10 the snapshots never fall"),
                       std::string::npos)
                 << result.out;
             EXPECT_EQ(result.out.find("Suggested"), std::string::npos);
         }},
        {"a sweep of a stretch is no file cut short", nothing,
         [](const std::string&) {
             return std::vector<std::string>{"-q",   "--sweep", "20", "--from", "1",
                                             "--to", "2",       "-o", "o",      "v.mkv"};
         },
         0, "",
         [](const std::string&, const ScanResult& result) {
             EXPECT_EQ(result.out.rfind("v.mkv: 26 frames, 1 settings swept", 0), 0u) << result.out;
         }},
        {"a file the disk did not take makes the video failed, in the total and the JSON", nothing,
         [](const std::string&) {
             return std::vector<std::string>{"-q", "--report", "--summary", "json",
                                             "-o", "o",        "v.mkv",     "./v.mkv"};
         },
         1, "Total: 2 videos, 0 finished, 0 stopped, 2 failed",
         [](const std::string&, const ScanResult& result) {
             const nlohmann::json line =
                 nlohmann::json::parse(result.out.substr(0, result.out.find('\n')));
             ASSERT_FALSE(line["failures"].empty());
             EXPECT_EQ(line["failures"][0].get<std::string>().rfind("Failed to save o/", 0), 0u);
         },
         "exec /usr/bin/prlimit --fsize=1500 \"$@\""},
        {"an overview of a batch of no video says so",
         [](const std::string& dir) { fs::create_directories(dir + "/empty"); },
         [](const std::string&) {
             return std::vector<std::string>{"--overview", "-o", "out", "empty"};
         },
         1, "No overview in out: the batch holds no video\n", anything},
        {"a list that names no video is a usage error", nothing,
         [](const std::string&) {
             return std::vector<std::string>{"--list", "/dev/null"};
         },
         2, "pelmora-scan: no video given: the list /dev/null names none\n", anything},
        {"a join does not go with a digest", nothing,
         [](const std::string&) {
             return std::vector<std::string>{"--join", "o", "--digest"};
         },
         2, "--digest is made from a whole video's run: it does not go with --join", anything},
        {"the overview embeds no file outside its folders",
         [](const std::string& dir) {
             ASSERT_TRUE(
                 ffmpeg("-f lavfi -i color=c=red:s=32x32 -frames:v 1 '" + dir + "/secret.jpg'"));
             // On the clock, so that its events are listed with their pictures.
             fs::rename(dir + "/v.mkv", dir + "/20240501_080000.mkv");
             ASSERT_EQ(
                 clitest::runScan({"-q", "--events", "-o", "day/o", "20240501_080000.mkv"}, dir)
                     .exitCode,
                 0);
             std::string list = testsupport::fileBytes(dir + "/day/o/events.csv");
             for (const std::string name : {"IMG00001000.jpg", "IMG00002040.jpg"}) {
                 for (std::string::size_type at = list.find(name); at != std::string::npos;
                      at = list.find(name)) {
                     list.replace(at, name.size(), "../../secret.jpg");
                 }
             }
             testsupport::writeFile(dir + "/day/o/events.csv", list);
         },
         [](const std::string&) {
             return std::vector<std::string>{"--overview-from", "day", "--time-zone", "UTC"};
         },
         0, "",
         [](const std::string& dir, const ScanResult&) {
             const std::string page = testsupport::fileBytes(dir + "/day/overview.html");
             EXPECT_NE(page.find("secret.jpg"), std::string::npos);
             EXPECT_EQ(page.find("data:image/jpeg"), std::string::npos);
         }},
        {"a folder scanned twice does not scan its own clips and digest",
         [](const std::string& dir) {
             fs::create_directories(dir + "/cam1");
             fs::rename(dir + "/v.mkv", dir + "/cam1/v.mkv");
             ASSERT_EQ(clitest::runScan({"-q", "--clips", "--digest", "cam1"}, dir).exitCode, 0);
             ASSERT_TRUE(fs::exists(dir + "/cam1/v/EVENT0001.mkv"));
         },
         [](const std::string&) {
             return std::vector<std::string>{"-q", "cam1"};
         },
         0, "",
         [](const std::string&, const ScanResult& result) {
             EXPECT_EQ(result.err, "");
             EXPECT_EQ(result.out.rfind("cam1/v.mkv: 100 frames", 0), 0u) << result.out;
             EXPECT_EQ(result.out.find('\n'), result.out.size() - 1) << result.out;
         }},
        {"an earlier batch's folder straight inside -o is still found",
         [](const std::string& dir) {
             for (const char* camera : {"cam1", "cam2"}) {
                 fs::create_directories(dir + "/" + camera);
                 fs::copy_file(dir + "/v.mkv", dir + "/" + camera + "/x.mkv");
             }
             // As a batch of these two left cam1's before its folders kept their cameras.
             ASSERT_EQ(clitest::runScan({"-q", "-o", "day/x", "cam1/x.mkv"}, dir).exitCode, 0);
         },
         [](const std::string&) {
             return std::vector<std::string>{"-q", "--resume", "--summary", "json",
                                             "-o", "day",      "cam1",      "cam2"};
         },
         0, "",
         [](const std::string& dir, const ScanResult& result) {
             const std::string first = result.out.substr(0, result.out.find('\n'));
             EXPECT_EQ(nlohmann::json::parse(first)["status"], "skipped");
             EXPECT_EQ(nlohmann::json::parse(first)["output"], "day/x");
             EXPECT_TRUE(fs::exists(dir + "/day/cam2/x/.pelmora-run.json"));
             EXPECT_FALSE(fs::exists(dir + "/day/cam1"));
         }},
        {"quiet, the summary names the folder the files went into", nothing,
         [](const std::string&) {
             return std::vector<std::string>{"-q", "--report", "-o", "o", "v.mkv"};
         },
         0, "",
         [](const std::string&, const ScanResult& result) {
             EXPECT_EQ(result.err, "");
             EXPECT_EQ(result.out.substr(result.out.size() - 13), "; files in o\n") << result.out;
         }},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.name);
        testsupport::TempDir dir;
        fs::copy_file(shared.file("v.mkv"), dir.file("v.mkv"));
        fault.before(dir.path());
        if (HasFatalFailure()) {
            return;
        }
        const ScanResult result = run(fault, dir.path());
        EXPECT_EQ(result.exitCode, fault.status) << result.err;
        EXPECT_NE(result.err.find(fault.said), std::string::npos) << result.err;
        fault.check(dir.path(), result);
    }
}

}  // namespace
