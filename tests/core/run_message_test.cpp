#include <gtest/gtest.h>

#include "RunMessage.h"

namespace {

using pelmora::LogKind;
using pelmora::MessageKind;
using pelmora::RunMessage;

// Every kind as a person reads it: lists, reports and scripts read these lines, so their words
// stay as they are whatever carries them.
TEST(RunMessage, EachKindReadsAsTheRunHasAlwaysSaidIt) {
    const struct {
        RunMessage message;
        const char* line;
        LogKind logKind;
    } rows[] = {
        {{MessageKind::FileSaved, "s/IMG00000000.jpg"},
         "[s/IMG00000000.jpg]",
         LogKind::SnapshotSaved},
        {{MessageKind::VideoNotOpened, "a.avi", "No such file or directory"},
         "Failed to open a.avi: No such file or directory",
         LogKind::Failure},
        {{MessageKind::FolderUnusable, "s", "Not a directory"},
         "Cannot save snapshots in s: Not a directory",
         LogKind::Failure},
        {{MessageKind::VideoUnreadable, "a.avi", "no frame could be read"},
         "Failed to read a.avi: no frame could be read",
         LogKind::Failure},
        {{MessageKind::SnapshotNotSaved, "s/IMG00000000.jpg", "Is a directory"},
         "Failed to save s/IMG00000000.jpg: Is a directory",
         LogKind::Failure},
        {{MessageKind::ClipNotSaved, "s/EVENT0001.avi", "Is a directory", "EVENT0001.avi"},
         "Failed to save s/EVENT0001.avi: Is a directory",
         LogKind::Failure},
        {{MessageKind::FileNotSaved, "s/digest.mp4", "No space left on device"},
         "Failed to save s/digest.mp4: No space left on device",
         LogKind::Failure},
        {{MessageKind::ListNotWritten, "s/events.csv", "Is a directory"},
         "Failed to write s/events.csv: Is a directory",
         LogKind::Failure},
        {{MessageKind::VideoNotReadAgain, "-", "it is a pipe", "clips"},
         "Cannot cut the clips of -: it is a pipe; save it to a file to have them",
         LogKind::Failure},
        {{MessageKind::VideoNotReadAgain, "-", "it is a pipe", "digest"},
         "Cannot make the digest of -: it is a pipe; save it to a file to have them",
         LogKind::Failure},
        {{MessageKind::VideoNotReadAgain, "-", "it is a pipe", "clips and digest"},
         "Cannot cut the clips or the digest of -: it is a pipe; save it to a file to have them",
         LogKind::Failure},
        {{MessageKind::NotRemoved, "s", "s/x: Permission denied"},
         "Failed to remove s/x: Permission denied",
         LogKind::Failure},
        {{MessageKind::RecordNotWritten, "s", "cannot write the record of a.avi in s"},
         "Cannot write the record of a.avi in s",
         LogKind::Failure},
        {{MessageKind::RecordNotWritten, "s", ""}, "", LogKind::Failure},
        {{MessageKind::NoDigest, "a.avi"},
         "No digest of a.avi: it has no event to show",
         LogKind::Warning},
        {{MessageKind::NoDayDigest, "out"},
         "No digest of the day in out: no event of a video whose start is known",
         LogKind::Warning},
        {{MessageKind::EarlierSnapshots, ".", {}, {}, 1},
         "1 snapshot of an earlier run is in .",
         LogKind::Warning},
        {{MessageKind::EarlierSnapshots, "s", {}, {}, 2},
         "2 snapshots of an earlier run are in s",
         LogKind::Warning},
        {{MessageKind::JoinFinished, "s"},
         "Finished the join into s that stopped while its files were moved into place",
         LogKind::Warning},
        {{MessageKind::AlreadyJoined, "s", {}, "a.avi"},
         "s is already joined: it holds one run's files of a.avi",
         LogKind::Warning},
        {{MessageKind::OneRunNeeded, "a.avi", "the stretches do not meet"},
         "the stretches do not meet: scanning a.avi as one run",
         LogKind::Warning},
        {{MessageKind::NotSplitExactly, "a.avi", "frame 3 has no time"},
         "Cannot split a.avi exactly: frame 3 has no time; --join will scan it as one run",
         LogKind::Warning},
        {{MessageKind::Notice, "a.avi", "Pixel format of a.avi changes from yuv420p at frame 4"},
         "Pixel format of a.avi changes from yuv420p at frame 4",
         LogKind::Warning},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(pelmora::messageLine(row.message), row.line);
        EXPECT_EQ(row.message.logKind(), row.logKind) << row.line;
    }
}

}  // namespace
