#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "RunFolder.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

// Two snapshots, a clip, four files of a run, four temporary files, and near misses, one of them
// a folder of a snapshot's name, which no run makes.
const std::vector<std::string> kSnapshots = {"EVENT0001.mkv", "IMG00000040-2.jpg",
                                             "IMG00000040.jpg"};
const std::vector<std::string> kOthers = {
    ".notes.txt.5.part", "EVENT1.mkv",      "IMG00000040.jpeg", "IMG00000120.jpg",
    "IMG1.jpg",          "img00000040.jpg", "notes.txt",        "snapshots.csv.bak"};

void fill(const std::string& dir) {
    for (const char* name : {".pelmora-run.json", "events.csv", "report.html", "snapshots.csv",
                             "..pelmora-run.json.4.part", ".IMG00000080.jpg.123.part",
                             ".report.html.9.part", ".EVENT0002.mp4.7.part"}) {
        std::ofstream(dir + "/" + name) << "x";
    }
    for (const auto* names : {&kSnapshots, &kOthers}) {
        for (const std::string& name : *names) {
            std::ofstream(dir + "/" + name) << "x";
        }
    }
    fs::remove(dir + "/IMG00000120.jpg");
    fs::create_directory(dir + "/IMG00000120.jpg");
}

TEST(EarlierRun, IsFoundAndRemovedByTheNamesOfTheFilesARunLeavesAlone) {
    for (const bool snapshots : {false, true}) {
        SCOPED_TRACE(snapshots ? "with the snapshots and clips"
                               : "keeping the snapshots and clips");
        testsupport::TempDir tmp;
        fill(tmp.path());
        const pelmora::EarlierRun earlier = pelmora::findEarlierRun(tmp.path());
        EXPECT_EQ(earlier.snapshots.size(), 2u);
        EXPECT_EQ(earlier.clips, 1);
        EXPECT_EQ(earlier.runFiles, 4);
        EXPECT_EQ(earlier.temporaries, 4);
        const pelmora::EarlierRunRemoval removal = pelmora::removeEarlierRun(tmp.path(), snapshots);
        EXPECT_EQ(removal.removed, snapshots ? 11 : 8);
        EXPECT_EQ(removal.failures, std::vector<std::string>());
        std::vector<std::string> kept = kOthers;
        if (!snapshots) {
            kept.insert(kept.end(), kSnapshots.begin(), kSnapshots.end());
        }
        std::sort(kept.begin(), kept.end());
        EXPECT_EQ(testsupport::listDir(tmp.path()), kept);
    }
    EXPECT_EQ(pelmora::findEarlierRun("/nonexistent").error, "No such file or directory");
}

TEST(EarlierRun, ASnapshotWrittenAgainOrRemovedIsNoLongerTheEarlierRuns) {
    testsupport::TempDir tmp;
    for (const char* name : {"IMG00000000.jpg", "IMG00000040.jpg", "IMG00000080.jpg"}) {
        std::ofstream(tmp.file(name)) << "earlier";
    }
    const pelmora::EarlierRun earlier = pelmora::findEarlierRun(tmp.path());
    // As a snapshot is written: a new file renamed over the name.
    std::ofstream(tmp.file("new")) << "later";
    fs::rename(tmp.file("new"), tmp.file("IMG00000040.jpg"));
    fs::remove(tmp.file("IMG00000080.jpg"));
    EXPECT_EQ(pelmora::snapshotsStillThere(tmp.path(), earlier), 1);
}

TEST(FolderLock, HoldsAFolderForOneRunAtATime) {
    testsupport::TempDir tmp;
    pelmora::FolderLock other;
    ASSERT_EQ(other.acquire(tmp.path()), "");
    pelmora::FolderLock lock;
    EXPECT_EQ(lock.acquire(tmp.path()), "another run is writing into it");
    EXPECT_FALSE(lock.held());
    // Let go of, the file goes, and a file left by a killed run holds nothing.
    other.release();
    EXPECT_EQ(testsupport::listDir(tmp.path()), std::vector<std::string>());
    std::ofstream(tmp.file(".pelmora.lock")) << "1234";
    EXPECT_EQ(lock.acquire(tmp.path()), "");
    EXPECT_TRUE(lock.held());
    EXPECT_EQ(lock.acquire("/nonexistent"), "No such file or directory");
}

}  // namespace
