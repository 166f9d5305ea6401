#include "EarlierRunQuestion.h"

#include <QLocale>
#include <QMessageBox>
#include <QPushButton>

EarlierRunChoice askAboutEarlierRun(QWidget* parent, const QString& folder,
                                    const pelmora::EarlierRun& earlier) {
    const auto snapshots = static_cast<long long>(earlier.snapshots.size());
    if (snapshots == 0 && earlier.clips == 0) {
        return EarlierRunChoice::Keep;
    }
    const QLocale locale;
    QStringList parts;
    if (snapshots > 0) {
        parts << (snapshots == 1 ? QObject::tr("1 snapshot")
                                 : QObject::tr("%1 snapshots").arg(locale.toString(snapshots)));
    }
    if (earlier.clips > 0) {
        parts << (earlier.clips == 1
                      ? QObject::tr("1 clip")
                      : QObject::tr("%1 clips")
                            .arg(locale.toString(static_cast<long long>(earlier.clips))));
    }
    const QString found = parts.join(QObject::tr(" and "));
    const QString shown = folder.isEmpty() ? QStringLiteral(".") : folder;
    QMessageBox box(QMessageBox::Question, QObject::tr("Earlier Run"),
                    QObject::tr("This folder holds %1 of an earlier run.").arg(found),
                    QMessageBox::NoButton, parent);
    // The path on a line of its own, never broken inside a name.
    box.setInformativeText(
        QStringLiteral("<p style=\"white-space:pre\">%1</p><p>%2</p>")
            .arg(shown.toHtmlEscaped(),
                 QObject::tr("Either way, the new run's lists and report name only its own "
                             "snapshots.")));
    QPushButton* remove = box.addButton(QObject::tr("Remove the %1 of the earlier run").arg(found),
                                        QMessageBox::DestructiveRole);
    remove->setObjectName(QStringLiteral("removeEarlierButton"));
    QPushButton* keep =
        box.addButton(snapshots + earlier.clips == 1 ? QObject::tr("Keep it beside the new ones")
                                                     : QObject::tr("Keep them beside the new ones"),
                      QMessageBox::AcceptRole);
    keep->setObjectName(QStringLiteral("keepEarlierButton"));
    box.addButton(QMessageBox::Cancel);
    // Enter loses nothing: removing takes a choice of its own.
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
