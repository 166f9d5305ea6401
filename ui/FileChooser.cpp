#include "FileChooser.h"

// The first entry of an accepted chooser, or nothing.
QString runChooser(QWidget* parent, QFileDialog::FileMode mode, const QString& nameFilter) {
    QFileDialog dialog(parent, QString(), QString(), QString());
    dialog.setFileMode(mode);
    if (!nameFilter.isEmpty()) {
        dialog.setNameFilter(nameFilter);
    }
    QStringList selected;
    if (dialog.exec()) {
        selected = dialog.selectedFiles();
    }
    return selected.isEmpty() ? QString() : selected.first();
}
