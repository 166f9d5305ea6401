#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <thread>

#include "BatchConsole.h"
#include "BatchRun.h"
#include "TestSupport.h"
#include "VideoBatch.h"

namespace {

namespace fs = std::filesystem;

TEST(Shard, IsKOfNWithKBelowN) {
    const struct {
        const char* text;
        bool valid;
        int index;
        int count;
    } rows[] = {
        {"0/1", true, 0, 1},  {"2/3", true, 2, 3},   {"0/100", true, 0, 100}, {"3/3", false, 0, 0},
        {"1/0", false, 0, 0}, {"-1/3", false, 0, 0}, {"1", false, 0, 0},      {"1/", false, 0, 0},
        {"/3", false, 0, 0},  {"a/b", false, 0, 0},  {" 1/3", false, 0, 0},
    };
    for (const auto& row : rows) {
        const std::optional<Shard> shard = parseShard(row.text);
        ASSERT_EQ(shard.has_value(), row.valid) << row.text;
        if (shard) {
            EXPECT_EQ(shard->index, row.index) << row.text;
            EXPECT_EQ(shard->count, row.count) << row.text;
        }
    }
}

// The list read from a file of these bytes.
VideoList listOf(const std::string& bytes) {
    testsupport::TempDir tmp;
    std::ofstream(tmp.file("list"), std::ios::binary) << bytes;
    const int fd = ::open(tmp.file("list").c_str(), O_RDONLY);
    const VideoList list = readVideoList(fd);
    ::close(fd);
    return list;
}

TEST(VideoList, SkipsBlankLinesAndCommentsAndForeignLineEnds) {
    const VideoList list = listOf(
        "# cameras\n"
        "cam1/a.avi\n"
        "\n"
        "   \n"
        "cam2/b c.avi\r\n"
        " # not a comment: a path that starts with a space\n"
        "cam1/a.avi\n"
        "last.avi");
    EXPECT_EQ(list.error, "");
    EXPECT_EQ(list.paths,
              (std::vector<std::string>{"cam1/a.avi", "cam2/b c.avi",
                                        " # not a comment: a path that starts with a space",
                                        "cam1/a.avi", "last.avi"}));
}

TEST(VideoList, RefusesWhatIsNoListOfPaths) {
    const std::string longest(PATH_MAX, 'a');
    const std::string tooLong = "is longer than 4096 bytes, which no path is: not a list of paths";
    const struct {
        std::string bytes;
        std::string error;
    } rows[] = {
        {"x\n" + longest + "\n", ""},
        {longest + "\r\n", ""},
        {"x\n" + longest, ""},
        {"x\n" + longest + "a\n", "line 2 " + tooLong},
        {longest + "a\r\n", "line 1 " + tooLong},
        {std::string("a.avi\n\nb\0.avi\n", 14),
         "line 3 holds a NUL byte, which no path does: not a list of paths"},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const VideoList list = listOf(rows[i].bytes);
        EXPECT_EQ(list.error, rows[i].error) << "row " << i;
        if (rows[i].error.empty()) {
            EXPECT_EQ(list.paths.back(), longest) << "row " << i;
        }
    }
    testsupport::TempDir tmp;
    const int folder = ::open(tmp.path().c_str(), O_RDONLY | O_DIRECTORY);
    EXPECT_EQ(readVideoList(folder).error, "Is a directory");
    ::close(folder);
}

TEST(VideoList, FindsTheVideosOfFoldersInSortedOrder) {
    testsupport::TempDir tmp;
    for (const char* name : {"cam2/night/B.MP4", "cam2/a.avi", "cam1/z.Mkv", "cam1/notes.txt",
                             "cam1/deep/er/clip.webm", "cam1/.hidden.mov", "cam1/noext"}) {
        fs::create_directories(fs::path(tmp.file(name)).parent_path());
        std::ofstream(tmp.file(name)) << "x";
    }
    fs::create_directories(tmp.file("empty/inner"));
    std::vector<std::string> empty;
    std::vector<std::string> unreadable;
    const std::vector<std::string> videos = expandFolders(
        {tmp.file("cam2"), tmp.file("missing.avi"), tmp.file("empty"), tmp.file("cam1")}, empty,
        unreadable);
    EXPECT_EQ(videos, (std::vector<std::string>{
                          tmp.file("cam2/a.avi"), tmp.file("cam2/night/B.MP4"),
                          tmp.file("missing.avi"), tmp.file("cam1/.hidden.mov"),
                          tmp.file("cam1/deep/er/clip.webm"), tmp.file("cam1/z.Mkv")}));
    EXPECT_EQ(empty, std::vector<std::string>{tmp.file("empty")});
    EXPECT_EQ(unreadable, std::vector<std::string>());
}

TEST(BatchPlan, ShardsSplitTheSortedListWithoutOverlapAndKeepEachVideosFolder) {
    const std::vector<std::string> videos = {"c/clip.avi",   "a/clip.avi", "b.avi",
                                             "./a/clip.avi", "d/clip.avi", "e.avi"};
    const std::vector<BatchEntry> whole = planBatch(videos, "out", Shard{0, 1});
    // Sorted, a repeat of a/clip.avi dropped; folders named in that order.
    std::vector<std::string> order;
    for (const BatchEntry& entry : whole) {
        order.push_back(entry.video + " -> " + entry.outputDir);
    }
    // Each below the output folder where it stands below the folder that holds them all.
    EXPECT_EQ(order, (std::vector<std::string>{"a/clip.avi -> out/a/clip", "b.avi -> out/b",
                                               "c/clip.avi -> out/c/clip",
                                               "d/clip.avi -> out/d/clip", "e.avi -> out/e"}));
    std::multiset<std::string> dealt;
    for (int k = 0; k < 3; ++k) {
        for (const BatchEntry& entry : planBatch(videos, "out", Shard{k, 3})) {
            dealt.insert(entry.video + " -> " + entry.outputDir);
        }
    }
    EXPECT_EQ(dealt, std::multiset<std::string>(order.begin(), order.end()));
    EXPECT_EQ(planBatch(videos, "out", Shard{1, 3}).front().video, "b.avi");

    // Without a shard they run as given, repeats too, in the same folders.
    const std::vector<BatchEntry> given = planBatch(videos, "out", std::nullopt);
    ASSERT_EQ(given.size(), videos.size());
    EXPECT_EQ(given[0].outputDir, "out/c/clip");
    EXPECT_EQ(given[3].outputDir, "out/a/clip");
    // One video keeps the folder given; none given derives each.
    EXPECT_EQ(planBatch({"a.avi", "./a.avi"}, "out", std::nullopt)[1].outputDir, "out");
    EXPECT_EQ(planBatch(videos, "", std::nullopt)[0].outputDir, "c/clip");
}

// Words of text, split at its spaces.
std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

TEST(BatchPlan, EveryVideoGetsAFolderNoOtherVideoHas) {
    const struct {
        const char* name;
        const char* outputDir;
        const char* videos;
        const char* folders;  // in the order given
    } rows[] = {
        {"the usual case", "", "garden.avi clips/gate.mp4", "garden clips/gate"},
        {"two extensions", "", "x.mp4 x.avi", "x-2 x"},
        {"two cases of one extension", "", "x.avi x.AVI", "x-2 x"},
        {"no extension, and its name", "", "rec rec-snapshots.avi",
         "rec-snapshots rec-snapshots-2"},
        {"two spellings of one folder", "", "c/a.avi c/./a.mkv", "c/a c/./a-2"},
        {"one name in several folders", "out", "a/x.avi b/x.avi c/x-2.avi",
         "out/a/x out/b/x out/c/x-2"},
        {"a name with -2 of its own", "out", "x.mp4 x.avi x-2.avi", "out/x-3 out/x out/x-2"},
        {"hidden and empty names", "out", "a/.avi b/.x.avi video.avi",
         "out/a/video out/b/video out/video"},
        // A hidden video's folder is the one it is in, which may be another video's.
        {"a video and a hidden one in the folder named after it", "", "d/a.avi d/a/.avi",
         "d/a d/a/-2"},
        {"the same the other way round", "", "d/a/.avi d/a.avi", "d/a/-2 d/a"},
        {"the same into one folder", "out", "d/a.avi d/a/.avi", "out/a out/a/video"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> folders;
        for (const BatchEntry& entry : planBatch(words(row.videos), row.outputDir, std::nullopt)) {
            folders.push_back(entry.outputDir);
        }
        EXPECT_EQ(folders, words(row.folders)) << row.name;
    }
}

TEST(BatchShares, SeveralAtOnceShareTheProcessorsOut) {
    const struct {
        const char* name;
        unsigned processors;
        std::size_t videos;
        int given;  // --videos-at-once; 0: not given
        int jobs;   // -j; 0: not given
        int atOnce;
        int writers;  // 0: the run's own default
        int decoderThreads;
    } rows[] = {
        {"one video takes the machine", 2, 1, 0, 0, 1, 0, 0},
        {"one for each processor", 2, 16, 0, 0, 2, 1, 1},
        {"sixteen processors", 16, 40, 0, 0, 16, 1, 1},
        {"never more than the videos", 16, 3, 0, 0, 3, 5, 5},
        {"no more than the option's largest", 128, 200, 0, 0, 64, 2, 2},
        {"one at a time when asked", 8, 16, 1, 0, 1, 0, 0},
        {"more than the processors when asked", 2, 16, 4, 0, 4, 1, 1},
        {"asked for more than the videos", 2, 3, 8, 0, 3, 1, 1},
        {"-j kept", 4, 16, 0, 3, 4, 3, 1},
        {"-j kept one at a time", 4, 16, 1, 3, 1, 3, 0},
        {"a machine that names no processors", 0, 16, 0, 0, 1, 0, 0},
        {"no videos", 2, 0, 0, 0, 1, 0, 0},
    };
    for (const auto& row : rows) {
        const BatchShares shares = batchShares(row.processors, row.videos, row.given, row.jobs);
        EXPECT_EQ(shares.videosAtOnce, row.atOnce) << row.name;
        EXPECT_EQ(shares.run.writers, row.writers) << row.name;
        EXPECT_EQ(shares.run.decoderThreads, row.decoderThreads) << row.name;
    }
}

// What was written to a stream made with tmpfile().
std::string written(std::FILE* stream) {
    std::fflush(stream);
    std::rewind(stream);
    std::string text;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, stream)) > 0;) {
        text.append(buffer, got);
    }
    std::fseek(stream, 0, SEEK_END);
    return text;
}

class BatchConsoleTest : public testing::Test {
protected:
    void SetUp() override {
        out = std::tmpfile();
        err = std::tmpfile();
        ASSERT_NE(out, nullptr);
        ASSERT_NE(err, nullptr);
    }
    void TearDown() override {
        std::fclose(out);
        std::fclose(err);
    }

    std::FILE* out = nullptr;
    std::FILE* err = nullptr;
};

TEST_F(BatchConsoleTest, LinesAndSummariesComeInTheBatchsOrderWhateverOrderTheRunsEndIn) {
    BatchConsole console(3, 3, false, out, err);
    console.write(1, "[b/1]\n");
    console.write(0, "[a/1]\n");
    console.write(2, "[c/1]\n");
    console.finish(2, "c done\n");
    console.write(1, "[b/2]\n");
    // The first video writes as it goes; the others wait for it.
    EXPECT_EQ(written(err), "[a/1]\n");
    EXPECT_EQ(written(out), "");
    console.write(0, "[a/2]\n");
    console.finish(0, "a done\n");
    // The second is the first now: what it held goes out, and from here on what it writes.
    EXPECT_EQ(written(err), "[a/1]\n[a/2]\n[b/1]\n[b/2]\n");
    EXPECT_EQ(written(out), "a done\n");
    console.write(1, "[b/3]\n");
    console.finish(1, "b done\n");
    EXPECT_EQ(written(err), "[a/1]\n[a/2]\n[b/1]\n[b/2]\n[b/3]\n[c/1]\n");
    EXPECT_EQ(written(out), "a done\nb done\nc done\n");
}

TEST_F(BatchConsoleTest, ARunThatHoldsTooMuchWaitsForItsTurnAndLosesNothing) {
    BatchConsole console(2, 2, false, out, err);
    const std::string line = std::string(BatchConsole::kMostHeldBytes / 2, 'x') + "\n";
    std::thread second([&] {
        for (int i = 0; i < 4; ++i) {
            console.write(1, line);
        }
        console.finish(1, "second\n");
    });
    console.write(0, "[first]\n");
    console.finish(0, "first\n");
    second.join();
    std::string lines = "[first]\n";
    for (int i = 0; i < 4; ++i) {
        lines += line;
    }
    EXPECT_EQ(written(err), lines);
    EXPECT_EQ(written(out), "first\nsecond\n");
}

TEST_F(BatchConsoleTest, SeveralAtOnceShowHowManyAreDoneAndTheProgressLineMakesWayForLines) {
    BatchConsole console(3, 2, true, out, err);
    console.progress(1, 40, 10, 1.0);
    console.write(0, "[a/1]\n");
    console.finish(0, "a done\n");
    EXPECT_EQ(written(err), "\r\033[K0 of 3 videos done, 1 running: 40%\r\033[K[a/1]\n");
    EXPECT_EQ(written(out), "a done\n");
}

TEST_F(BatchConsoleTest, AProgressLineOfManyAtOnceStaysShortEnoughForATerminal) {
    BatchConsole console(70, 64, true, out, err);
    for (std::size_t video = 0; video < 63; ++video) {
        console.progress(video, 10, 10, 1.0);
    }
    // A video at its end draws the line whenever the last was drawn.
    console.progress(63, 100, 10, 1.0);
    const std::string text = written(err);
    const std::string line = text.substr(text.rfind("\033[K") + 3);
    EXPECT_EQ(line, "0 of 70 videos done, 64 running: 10% 10% 10% 10% 10% 10% +58 more");
    EXPECT_LT(line.size(), 80u);
}

}  // namespace
