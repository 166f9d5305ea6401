#pragma once

// What the tests of the clips pelmora-scan cuts share: the videos made with the ffmpeg tool, a
// row of one such video and what its clips must be, and the readers of the clips and lists.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"

namespace cliptest {

// Every row's video runs at 25 frames per second.
constexpr long long kFrameMs = 40;

// Runs the ffmpeg tool in dir with the arguments; false, and a failure, when it fails.
bool ffmpeg(const std::string& dir, const std::string& arguments);
// A maker of a row's video: the ffmpeg tool with these arguments.
std::function<bool(const std::string&)> made(const std::string& arguments);
// A grey picture, 160 x 120, where a red square shows from second `from` to second `to`.
std::string squareVideo(double seconds, const std::string& from, const std::string& to);
// A tone that sounds from second `from` to second `to` and is silent otherwise.
std::string beep(double seconds, const std::string& from, const std::string& to);
// The square from 2 s to 2.5 s of a 4 s video, and a tone beside it.
inline const std::string kSquare = squareVideo(4, "2", "2.5");
inline const std::string kTone = " " + beep(4, "2", "2.5");

// The lines of text, without their '\n'.
std::vector<std::string> lines(const std::string& text);
// The three columns after peak_file of each event in events.csv, where its clip went.
std::vector<std::string> clipColumns(const std::string& dir);
// The error stream without the lines of files saved.
std::string messages(const std::string& err);

using Check = std::function<void(const std::string& dir, const std::string& video)>;

// One video and what its clips must be. Unless said otherwise, the scan ends with status 0 and
// says nothing but the files it saved.
struct Row {
    Row(const char* name, std::function<bool(const std::string&)> make, std::string video,
        std::vector<std::string> options)
        : name(name), make(std::move(make)), video(std::move(video)), options(std::move(options)) {}

    Row& ends(int code) {
        exitCode = code;
        return *this;
    }
    // The lines on the error stream besides those of saved files; {video} is its path.
    Row& says(std::string lines) {
        messages = std::move(lines);
        return *this;
    }
    // The clip columns of each event. Every clip named is decoded whole, from its first
    // picture at 0 to its last at clip_end_ms less clip_start_ms, one each 40 ms.
    Row& cuts(std::vector<std::string> columns) {
        clips = std::move(columns);
        return *this;
    }
    // Each clip's streams as ffprobe names them.
    Row& holding(std::string names) {
        streams = std::move(names);
        return *this;
    }
    // Each clip's pictures are the video's own from clip_start_ms on.
    Row& exactly() {
        exact = true;
        return *this;
    }
    Row& also(Check more) {
        check = std::move(more);
        return *this;
    }
    // The video reaches the scan through a pipe, from the file made.
    Row& throughPipeFrom(std::string file) {
        fed = std::move(file);
        return *this;
    }
    // A second run gives clips of the same bytes.
    Row& sameBytesAgain() {
        twice = true;
        return *this;
    }

    const char* name;
    // Makes the video in the folder given; false when it cannot.
    std::function<bool(const std::string&)> make;
    std::string video;
    std::vector<std::string> options;
    int exitCode = 0;
    std::string messages;
    std::vector<std::string> clips;  // empty: see check
    std::string streams;             // empty: not looked at
    bool exact = false;
    Check check;
    std::string fed;
    bool twice = false;
};

// Where a clip of a given row went: the file and its times in the video.
struct ClipEntry {
    std::string file;
    long long startMs = 0;
    long long endMs = 0;
};

std::vector<ClipEntry> clipEntries(const std::string& dir);

// The square shows in each clip at the time its event starts, and not a picture before.
void squareAtTheEvent(const std::string& dir, const std::string& video);

class ClipsTest : public testing::Test {
protected:
    // Scans each row's video with its options, and holds what came out to the row.
    void expectRows(const std::vector<Row>& rows);

    testsupport::TempDir tmp;
};

}  // namespace cliptest
