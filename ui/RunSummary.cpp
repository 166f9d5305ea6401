#include "RunSummary.h"

#include <QCoreApplication>
#include <cstdio>

#include "ClockTime.h"
#include "FolderNames.h"
#include "TextFormat.h"
#include "VideoStart.h"

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Kavrit", text);
}

QString counted(long long count, const char* one, const char* many) {
    return count == 1 ? tr(one) : tr(many).arg(count);
}

QString frames(long long count) {
    return counted(count, "1 frame", "%1 frames");
}

}  // namespace

QString runSummary(const pelmora::RunReport& report, double seconds) {
    const QString time = QString::fromStdString(pelmora::secondsInTenths(seconds));
    QString saved = tr("%1 saved in %2")
                        .arg(counted(report.snapshotsWritten, "1 snapshot", "%1 snapshots"),
                             QString::fromStdString(report.outputDir));
    if (report.snapshotsLost > 0) {
        saved += tr(", %1 lost").arg(report.snapshotsLost);
    }
    if (report.status == pelmora::RunReport::Status::Failed) {
        return tr("Failed after %1: %2; %3 (%4)")
            .arg(frames(report.framesRead), QString::fromStdString(report.failure), saved, time);
    }
    if (report.status != pelmora::RunReport::Status::Stopped) {
        // The frames read, and those announced when the two differ.
        return tr("%1 (%2, %3)")
            .arg(saved, QString::fromStdString(pelmora::framesText(report)), time);
    }
    // A container that announces no frame count leaves only the frames read to tell.
    const QString reached =
        report.framesAnnounced > 0
            ? tr("%1 of %2").arg(QString::number(report.framesRead), frames(report.framesAnnounced))
            : frames(report.framesRead);
    return tr("Stopped after %1: %2 (%3)").arg(reached, saved, time);
}

bool fileNotSaved(const pelmora::RunMessage& message) {
    using Kind = pelmora::MessageKind;
    return message.kind == Kind::SnapshotNotSaved || message.kind == Kind::ClipNotSaved ||
           message.kind == Kind::FileNotSaved;
}

QStringList runProblems(const pelmora::VideoRunResult& result,
                        const std::vector<pelmora::RunMessage>& failures,
                        std::vector<pelmora::ClipOutcome>& failedClips) {
    QStringList problems;
    // The clips first: they have a button of their own.
    failedClips.clear();
    for (const pelmora::ClipOutcome& clip : result.clips) {
        if (!clip.saved) {
            failedClips.push_back(clip);
        }
    }
    if (!failedClips.empty()) {
        const pelmora::ClipOutcome& first = failedClips.front();
        const QString count = failedClips.size() == 1
                                  ? tr("1 clip could not be cut")
                                  : tr("%1 clips could not be cut").arg(failedClips.size());
        problems << tr("%1 (%2: %3)")
                        .arg(count, QString::fromStdString(first.file),
                             QString::fromStdString(first.error));
    } else if (result.clipsLost > 0) {
        problems << (result.clipsLost == 1 ? tr("1 clip was not cut")
                                           : tr("%1 clips were not cut").arg(result.clipsLost));
    }
    // Then every other failure as it was said: a list, a report, a snapshot, the digest, a
    // record. A snapshot lost is counted by the summary already; its reason is said once. A
    // video that could not be read through says so in the summary already.
    using Kind = pelmora::MessageKind;
    bool snapshotSaid = false;
    for (const pelmora::RunMessage& failure : failures) {
        const bool snapshot = failure.kind == Kind::SnapshotNotSaved;
        if (failure.kind == Kind::ClipNotSaved || failure.kind == Kind::VideoUnreadable ||
            (snapshot && snapshotSaid)) {
            continue;
        }
        snapshotSaid = snapshotSaid || snapshot;
        problems << QString::fromStdString(pelmora::messageLine(failure));
    }
    if (result.earlierSnapshots > 0) {
        problems << (result.earlierSnapshots == 1
                         ? tr("1 snapshot of an earlier run is still in the folder")
                         : tr("%1 snapshots of an earlier run are still in the folder")
                               .arg(result.earlierSnapshots));
    }
    return problems;
}

RecutSummary recutSummary(const std::vector<pelmora::ClipOutcome>& clips, const std::string& folder,
                          std::vector<pelmora::ClipOutcome>& failedClips) {
    RecutSummary summary;
    failedClips.clear();
    for (const pelmora::ClipOutcome& clip : clips) {
        const std::string path = pelmora::joinPath(folder, clip.file);
        summary.lines << QString::fromStdString(pelmora::messageLine(
            clip.saved ? pelmora::RunMessage{pelmora::MessageKind::FileSaved, path}
                       : pelmora::RunMessage{pelmora::MessageKind::ClipNotSaved, path, clip.error,
                                             clip.file}));
        if (!clip.saved) {
            failedClips.push_back(clip);
        }
    }
    const auto saved = static_cast<long long>(clips.size() - failedClips.size());
    summary.text = counted(saved, "1 clip cut encoded", "%1 clips cut encoded");
    if (!failedClips.empty()) {
        summary.text += tr("; %1 could not be cut (%2: %3)")
                            .arg(failedClips.size())
                            .arg(QString::fromStdString(failedClips.front().file),
                                 QString::fromStdString(failedClips.front().error));
    }
    return summary;
}

QString startFailure(const pelmora::RunReport& report, const std::string& videoPath) {
    return QString::fromStdString(pelmora::messageLine(
        report.status == pelmora::RunReport::Status::OpenFailed
            ? pelmora::RunMessage{pelmora::MessageKind::VideoNotOpened, videoPath, report.openError}
            : pelmora::RunMessage{pelmora::MessageKind::FolderUnusable, report.outputDir,
                                  report.outputError}));
}

QString startLine(const pelmora::RunReport& report) {
    return tr("first frame at %1, %2")
        .arg(QString::fromStdString(
                 pelmora::readableClockTime(report.start.utcMs, report.start.zone)),
             QString::fromUtf8(pelmora::startSourceText(report.start.source)));
}

QString runWarning(const pelmora::RunReport& report, const std::string& videoPath) {
    if (report.status == pelmora::RunReport::Status::Failed) {
        return QString::fromStdString(pelmora::messageLine(
            {pelmora::MessageKind::VideoUnreadable, videoPath, report.failure}));
    }
    if (report.snapshotsLost > 0) {
        return tr("%1 could not be saved in %2.")
            .arg(counted(report.snapshotsLost, "1 snapshot", "%1 snapshots"),
                 QString::fromStdString(report.outputDir));
    }
    return QString();
}
