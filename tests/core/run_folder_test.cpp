#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "RunFolder.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kSnapshots = {"IMG00000040-2.jpg", "IMG00000040.jpg"};
const std::vector<std::string> kRunFiles = {".pelmora-run.json", "events.csv", "report.html",
                                            "snapshots.csv"};
const std::vector<std::string> kTemporaries = {"..pelmora-run.json.4.part",
                                               ".IMG00000080.jpg.123.part", ".report.html.9.part"};
// Near misses, and a folder of a snapshot's name, which no run makes.
const std::vector<std::string> kOthers = {
    ".notes.txt.5.part", "IMG00000040.jpeg", "IMG00000120.jpg",  "IMG1.jpg",
    "img00000040.jpg",   "notes.txt",        "snapshots.csv.bak"};

// A folder holding all of the above.
void fill(const std::string& dir) {
    for (const auto* names : {&kSnapshots, &kRunFiles, &kTemporaries, &kOthers}) {
        for (const std::string& name : *names) {
            std::ofstream(dir + "/" + name) << "x";
        }
    }
    fs::remove(dir + "/IMG00000120.jpg");
    fs::create_directory(dir + "/IMG00000120.jpg");
}

TEST(EarlierRun, CountsOnlyTheFilesARunLeaves) {
    testsupport::TempDir tmp;
    fill(tmp.path());
    const pelmora::EarlierRun earlier = pelmora::findEarlierRun(tmp.path());
    EXPECT_EQ(earlier.snapshots.size(), 2u);
    EXPECT_EQ(earlier.runFiles, 4);
    EXPECT_EQ(earlier.temporaries, 3);
    EXPECT_EQ(earlier.error, "");
    EXPECT_EQ(pelmora::findEarlierRun(tmp.file("missing")).error, "No such file or directory");
}

TEST(EarlierRun, ASnapshotWrittenAgainOrRemovedIsNoLongerTheEarlierRuns) {
    testsupport::TempDir tmp;
    for (const char* name : {"IMG00000000.jpg", "IMG00000040.jpg", "IMG00000080.jpg"}) {
        std::ofstream(tmp.file(name)) << "earlier";
    }
    const pelmora::EarlierRun earlier = pelmora::findEarlierRun(tmp.path());
    EXPECT_EQ(pelmora::snapshotsStillThere(tmp.path(), earlier), 3);
    // As a snapshot is written: a new file renamed over the name.
    std::ofstream(tmp.file("new")) << "later";
    fs::rename(tmp.file("new"), tmp.file("IMG00000040.jpg"));
    fs::remove(tmp.file("IMG00000080.jpg"));
    EXPECT_EQ(pelmora::snapshotsStillThere(tmp.path(), earlier), 1);
}

TEST(EarlierRun, RemovesOnlyTheFilesARunLeavesAndItsSnapshotsWhenAsked) {
    const struct {
        const char* name;
        bool snapshots;
        long long removed;
        std::vector<std::string> kept;
    } rows[] = {
        {"keeping the snapshots",
         false,
         7,
         {".notes.txt.5.part", "IMG00000040-2.jpg", "IMG00000040.jpeg", "IMG00000040.jpg",
          "IMG00000120.jpg", "IMG1.jpg", "img00000040.jpg", "notes.txt", "snapshots.csv.bak"}},
        {"with the snapshots",
         true,
         9,
         {".notes.txt.5.part", "IMG00000040.jpeg", "IMG00000120.jpg", "IMG1.jpg", "img00000040.jpg",
          "notes.txt", "snapshots.csv.bak"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        testsupport::TempDir tmp;
        fill(tmp.path());
        const pelmora::EarlierRunRemoval removal =
            pelmora::removeEarlierRun(tmp.path(), row.snapshots);
        EXPECT_EQ(removal.removed, row.removed);
        EXPECT_EQ(removal.failures, std::vector<std::string>());
        EXPECT_EQ(testsupport::listDir(tmp.path()), row.kept);
    }
}

TEST(FolderLock, HoldsAFolderForOneRunAtATime) {
    testsupport::TempDir tmp;
    pelmora::FolderLock other;
    const struct {
        const char* name;
        std::function<void(const std::string& dir)> before;
        std::string reason;
    } rows[] = {
        {"a free folder", [](const std::string&) {}, ""},
        {"a folder held by another run",
         [&other](const std::string& dir) { ASSERT_EQ(other.acquire(dir), ""); },
         "another run is writing into it"},
        {"a folder its holder let go of", [&other](const std::string&) { other.release(); }, ""},
        {"the lock file of a killed run",
         [](const std::string& dir) { std::ofstream(dir + "/.pelmora.lock") << "1234"; }, ""},
        {"a folder that is gone", [](const std::string& dir) { fs::remove_all(dir); },
         "No such file or directory"},
    };
    const std::string dir = tmp.file("folder");
    fs::create_directory(dir);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.before(dir);
        pelmora::FolderLock lock;
        EXPECT_EQ(lock.acquire(dir), row.reason);
        EXPECT_EQ(lock.held(), row.reason.empty());
        lock.release();
        // The file goes with the hold; another run's stays with its own.
        EXPECT_EQ(fs::exists(dir + "/.pelmora.lock"), other.held());
    }
}

}  // namespace
