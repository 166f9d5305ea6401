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

TEST(PrepareOutputDirectory, SettlesTheSnapshotDirectory) {
    const DirectoryRow rows[] = {
        {"derived from the name", "garden.avi", "", "garden", true},
        {"last dot inside a directory name", "clips.old/gardenavi", "", "clips", true},
        {"last dot of several", "clips.old/garden.v2.avi", "", "clips.old/garden.v2", true},
        {"given destination used as typed", "garden.avi", "shots", "shots", false},
        {"given destination keeps its slash", "garden.avi", "shots/", "shots/", false},
        {"derived one level deep only", "missing/garden.avi", "", "missing/garden", false},
    };
    for (const DirectoryRow& row : rows) {
        TempDir tmp;
        fs::create_directories(tmp.file("clips.old"));
        VideoJob job(tmp.file(row.video), row.given.empty() ? "" : tmp.file(row.given));
        job.prepareOutputDirectory();
        EXPECT_EQ(job.getOutputDir(), tmp.file(row.expected)) << row.name;
        EXPECT_EQ(fs::is_directory(tmp.file(row.expected)), row.created) << row.name;
    }
}

TEST(PrepareOutputDirectory, VideoWithoutADotDerivesItsOwnPathAndCreatesNothing) {
    TempDir tmp;
    const std::string video = tmp.file("gardenavi");
    std::ofstream(video) << "not a video";
    VideoJob job(video, "");
    job.prepareOutputDirectory();
    EXPECT_EQ(job.getOutputDir(), video);
    EXPECT_TRUE(fs::is_regular_file(video));
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
    EXPECT_TRUE(VideoJob(tmp.file("clip.avi"), "").open());
    EXPECT_FALSE(VideoJob(tmp.file("text.avi"), "").open());
    EXPECT_FALSE(VideoJob(tmp.file("missing.avi"), "").open());
}

TEST(VideoJob, WriterRequestsNeverLeaveOneBehindAndReleaseIsHarmless) {
    VideoJob job("clip.avi", "");
    job.releaseWriter();  // never asked for
    EXPECT_FALSE(job.createWriter(cv::Size(64, 48)));
    EXPECT_FALSE(job.createWriter(cv::Size(64, 48)));
    EXPECT_FALSE(job.createWriter(cv::Size(32, 24)));
    job.releaseWriter();
    job.releaseWriter();
    EXPECT_FALSE(job.writerOpen());
}

}  // namespace
