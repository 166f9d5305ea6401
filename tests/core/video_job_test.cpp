#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "TestSupport.h"
#include "VideoJob.h"

namespace {

namespace fs = std::filesystem;
using pelmora::VideoJob;
using testsupport::TempDir;

struct DirectoryRow {
    const char* name;
    std::string video;     // relative to the temporary folder
    std::string given;     // destination as typed, relative; empty for none
    std::string expected;  // effective directory, relative
    bool created;          // the expected directory exists afterwards
};

TEST(PrepareOutputDirectory, SettlesAndCreatesTheSnapshotDirectory) {
    const DirectoryRow rows[] = {
        {"derived from the name", "garden.avi", "", "garden", true},
        {"a dot in a folder's name is not the file's", "clips.old/gardenavi", "",
         "clips.old/gardenavi-snapshots", true},
        {"last dot of several", "clips.old/garden.v2.avi", "", "clips.old/garden.v2", true},
        {"no dot at all", "noext", "", "noext-snapshots", true},
        {"given destination used as typed", "garden.avi", "shots", "shots", true},
        {"given destination keeps its slash", "garden.avi", "shots/", "shots/", true},
        {"given destination made with its parents", "garden.avi", "a/b/c", "a/b/c", true},
        {"derived one made with its parents", "missing/garden.avi", "", "missing/garden", true},
    };
    for (const DirectoryRow& row : rows) {
        TempDir tmp;
        fs::create_directories(tmp.file("clips.old"));
        VideoJob job(tmp.file(row.video), row.given.empty() ? "" : tmp.file(row.given));
        EXPECT_EQ(job.prepareOutputDirectory(), "") << row.name;
        EXPECT_EQ(job.getOutputDir(), tmp.file(row.expected)) << row.name;
        EXPECT_EQ(fs::is_directory(tmp.file(row.expected)), row.created) << row.name;
        // The check that a file can be made there leaves nothing behind.
        EXPECT_TRUE(fs::is_empty(tmp.file(row.expected))) << row.name;
    }
}

TEST(PrepareOutputDirectory, VideosWithoutADotInOneDottedFolderGetAFolderEach) {
    TempDir tmp;
    fs::create_directories(tmp.file("rec.2024"));
    std::ofstream(tmp.file("rec.2024/cam1")) << "video";
    VideoJob first(tmp.file("rec.2024/cam1"), "");
    VideoJob second(tmp.file("rec.2024/cam2"), "");
    EXPECT_EQ(first.prepareOutputDirectory(), "");
    EXPECT_EQ(second.prepareOutputDirectory(), "");
    EXPECT_EQ(first.getOutputDir(), tmp.file("rec.2024/cam1-snapshots"));
    EXPECT_EQ(second.getOutputDir(), tmp.file("rec.2024/cam2-snapshots"));
    EXPECT_TRUE(fs::is_regular_file(tmp.file("rec.2024/cam1")));
}

TEST(PrepareOutputDirectory, SaysWhyADestinationCannotHoldSnapshots) {
    TempDir tmp;
    std::ofstream(tmp.file("file")) << "in the way";
    for (const char* destination : {"file", "file/shots"}) {
        VideoJob job(tmp.file("garden.avi"), tmp.file(destination));
        EXPECT_EQ(job.prepareOutputDirectory(), "Not a directory") << destination;
    }
}

TEST(PrepareOutputDirectory, OnlyALeadingDotDerivesTheEmptyDirectory) {
    VideoJob job(".avi", "");
    job.prepareOutputDirectory();
    EXPECT_EQ(job.getOutputDir(), "");
}

TEST(PrepareOutputDirectory, ASecondJobFindsTheDirectoryAndKeepsItsFiles) {
    TempDir tmp;
    VideoJob first(tmp.file("garden.avi"), "");
    first.prepareOutputDirectory();
    std::ofstream(tmp.file("garden/IMG00000000.jpg")) << "x";
    VideoJob second(tmp.file("garden.avi"), "");
    second.prepareOutputDirectory();
    EXPECT_EQ(second.getOutputDir(), first.getOutputDir());
    EXPECT_TRUE(fs::exists(tmp.file("garden/IMG00000000.jpg")));
}

TEST(VideoJob, OpensOnlyARealVideo) {
    TempDir tmp;
    testsupport::writeVideo(tmp.file("clip.avi"),
                            {testsupport::solidFrame(cv::Size(16, 16), cv::Scalar(1, 2, 3))}, 25.0);
    std::ofstream(tmp.file("text.avi")) << "this is not a video";
    EXPECT_EQ(VideoJob(tmp.file("clip.avi"), "").open(), "");
    EXPECT_NE(VideoJob(tmp.file("text.avi"), "").open(), "");
    EXPECT_NE(VideoJob(tmp.file("missing.avi"), "").open(), "");
}

}  // namespace
