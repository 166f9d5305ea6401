#include "RunSummary.h"

#include <QCoreApplication>

#include "TextFormat.h"

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
