#include "RunMessage.h"

#include <cctype>

#include "TextFormat.h"

namespace pelmora {

namespace {

const char* notMadeAgain(const std::string& subject) {
    if (subject == "clips and digest") {
        return "cut the clips or the digest";
    }
    return subject == "clips" ? "cut the clips" : "make the digest";
}

std::string withCapital(std::string sentence) {
    if (!sentence.empty()) {
        sentence[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(sentence[0])));
    }
    return sentence;
}

}  // namespace

LogKind RunMessage::logKind() const {
    switch (kind) {
        case MessageKind::FileSaved:
            return LogKind::SnapshotSaved;
        case MessageKind::VideoNotOpened:
        case MessageKind::FolderUnusable:
        case MessageKind::VideoUnreadable:
        case MessageKind::SnapshotNotSaved:
        case MessageKind::ClipNotSaved:
        case MessageKind::FileNotSaved:
        case MessageKind::ListNotWritten:
        case MessageKind::VideoNotReadAgain:
        case MessageKind::NotRemoved:
        case MessageKind::RecordNotWritten:
            return LogKind::Failure;
        case MessageKind::NoDigest:
        case MessageKind::NoDayDigest:
        case MessageKind::EarlierSnapshots:
        case MessageKind::JoinFinished:
        case MessageKind::AlreadyJoined:
        case MessageKind::OneRunNeeded:
        case MessageKind::NotSplitExactly:
        case MessageKind::Notice:
            break;
    }
    return LogKind::Warning;
}

std::string messageLine(const RunMessage& message) {
    const char* path = message.path.c_str();
    const char* reason = message.reason.c_str();
    switch (message.kind) {
        case MessageKind::FileSaved:
            return "[" + message.path + "]";
        case MessageKind::VideoNotOpened:
            return formatText("Failed to open %s: %s", path, reason);
        case MessageKind::FolderUnusable:
            return formatText("Cannot save snapshots in %s: %s", path, reason);
        case MessageKind::VideoUnreadable:
            return formatText("Failed to read %s: %s", path, reason);
        case MessageKind::SnapshotNotSaved:
        case MessageKind::ClipNotSaved:
        case MessageKind::FileNotSaved:
            return formatText("Failed to save %s: %s", path, reason);
        case MessageKind::ListNotWritten:
            return formatText("Failed to write %s: %s", path, reason);
        case MessageKind::VideoNotReadAgain:
            return formatText("Cannot %s of %s: %s; save it to a file to have them",
                              notMadeAgain(message.subject), path, reason);
        case MessageKind::NotRemoved:
            return "Failed to remove " + message.reason;
        case MessageKind::RecordNotWritten:
            return withCapital(message.reason);
        case MessageKind::NoDigest:
            return formatText("No digest of %s: it has no event to show", path);
        case MessageKind::NoDayDigest:
            return formatText(
                "No digest of the day in %s: no event of a video whose start is known", path);
        case MessageKind::EarlierSnapshots:
            return formatText(message.count == 1 ? "%lld snapshot of an earlier run is in %s"
                                                 : "%lld snapshots of an earlier run are in %s",
                              message.count, path);
        case MessageKind::JoinFinished:
            return formatText(
                "Finished the join into %s that stopped while its files were moved into place",
                path);
        case MessageKind::AlreadyJoined:
            return formatText("%s is already joined: it holds one run's files of %s", path,
                              message.subject.c_str());
        case MessageKind::OneRunNeeded:
            return formatText("%s: scanning %s as one run", reason, path);
        case MessageKind::NotSplitExactly:
            return formatText("Cannot split %s exactly: %s; --join will scan it as one run", path,
                              reason);
        case MessageKind::Notice:
            break;
    }
    return message.reason;
}

}  // namespace pelmora
