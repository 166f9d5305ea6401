#include "EarlierRunQuestion.h"

#include <QMessageBox>
#include <QPushButton>

EarlierRunChoice askAboutEarlierRun(QWidget* parent, const QString& folder,
                                    const pelmora::EarlierRun& earlier) {
    const auto snapshots = static_cast<long long>(earlier.snapshots.size());
    if (snapshots == 0 && earlier.clips == 0) {
        return EarlierRunChoice::Keep;
    }
    const QString shown = folder.isEmpty() ? QStringLiteral(".") : folder;
    QString found =
        snapshots == 1 ? QObject::tr("1 snapshot") : QObject::tr("%1 snapshots").arg(snapshots);
    if (earlier.clips > 0) {
        found += earlier.clips == 1 ? QObject::tr(" and 1 clip")
                                    : QObject::tr(" and %1 clips").arg(earlier.clips);
    }
    QMessageBox box(
        QMessageBox::Question, QObject::tr("Earlier Run"),
        QObject::tr("%1 of an earlier run %2 in %3.")
            .arg(found, snapshots + earlier.clips == 1 ? QObject::tr("is") : QObject::tr("are"),
                 shown),
        QMessageBox::NoButton, parent);
    box.setInformativeText(
        QObject::tr("Remove them before this run? Kept, they stay beside this run's snapshots, "
                    "and its lists and report name only its own."));
    QPushButton* remove = box.addButton(QObject::tr("Remove"), QMessageBox::DestructiveRole);
    QPushButton* keep = box.addButton(QObject::tr("Keep"), QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    // Nothing is removed unless the user says so.
    box.setDefaultButton(keep);
    box.exec();
    if (box.clickedButton() == remove) {
        return EarlierRunChoice::Remove;
    }
    if (box.clickedButton() == keep) {
        return EarlierRunChoice::Keep;
    }
    return EarlierRunChoice::Cancel;
}
