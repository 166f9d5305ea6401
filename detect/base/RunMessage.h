#pragma once

#include <string>
#include <utility>

namespace pelmora {

// What a line of a run tells, so that a front end can count and group the lines by what
// happened rather than by their words. Each kind's words are in messageLine, and nowhere else.
enum class MessageKind {
    // A file the run saved: a snapshot, a clip, the digest, a list, a report. "[PATH]"
    FileSaved,

    // The run did not start. "Failed to open VIDEO: REASON"
    VideoNotOpened,
    // "Cannot save snapshots in FOLDER: REASON"
    FolderUnusable,
    // The video opened but could not be read through. "Failed to read VIDEO: REASON"
    VideoUnreadable,
    // "Failed to save PATH: REASON", the one wording for a file that could not be saved, kept
    // apart by what the file is: a snapshot, a clip, any other (the digest, a page of a batch).
    SnapshotNotSaved,
    ClipNotSaved,
    FileNotSaved,
    // A list, a report or another text file could not be written. "Failed to write PATH: REASON"
    ListNotWritten,
    // The video could not be read again for what was still to be made of it (subject:
    // "clips", "digest" or "clips and digest").
    // "Cannot cut the clips of VIDEO: REASON; save it to a file to have them"
    VideoNotReadAgain,
    // A file or folder that could not be taken away; reason is "PATH: WHY", as the removal says
    // it. "Failed to remove REASON"
    NotRemoved,
    // The record of a finished run could not be written; reason is that sentence, said with a
    // capital.
    RecordNotWritten,

    // "No digest of VIDEO: it has no event to show"
    NoDigest,
    // "No digest of the day in FOLDER: no event of a video whose start is known"
    NoDayDigest,
    // count snapshots of an earlier run stay in the folder (path). "1 snapshot of an earlier run
    // is in FOLDER"
    EarlierSnapshots,
    // "Finished the join into FOLDER that stopped while its files were moved into place"
    JoinFinished,
    // "FOLDER is already joined: it holds one run's files of VIDEO" (subject: the video)
    AlreadyJoined,
    // "REASON: scanning VIDEO as one run"
    OneRunNeeded,
    // "Cannot split VIDEO exactly: REASON; --join will scan it as one run"
    NotSplitExactly,
    // Something the run worked around or found worth saying, whose line (reason) is worded
    // with its numbers where it is found: a picture that changes size or pixel format, a
    // watched region scaled, a frame rate not usable, a clip's streams, an object detector's
    // note, what a join cost.
    Notice,
};

// How a front end treats a line: a saved file (which a quiet run leaves out), a failure (which
// makes the run's exit status), or something the run worked around.
enum class LogKind {
    SnapshotSaved,
    Failure,
    Warning,
};

struct RunMessage {
    RunMessage() = default;
    RunMessage(MessageKind kind, std::string path, std::string reason = {},
               std::string subject = {}, long long count = 0)
        : kind(kind),
          path(std::move(path)),
          reason(std::move(reason)),
          subject(std::move(subject)),
          count(count) {}

    MessageKind kind = MessageKind::Notice;
    std::string path;     // the video, file or folder the message is of
    std::string reason;   // why, as the call that failed said it
    std::string subject;  // what else it is of, as each kind says
    long long count = 0;  // how many, for the kinds that count

    LogKind logKind() const;
};

// The line a person reads of message, without its line end: the one place each kind is worded.
std::string messageLine(const RunMessage& message);

}  // namespace pelmora
