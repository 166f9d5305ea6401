#pragma once

#include <QFileDialog>

// The first entry of an accepted chooser, or nothing.
QString runChooser(QWidget* parent, QFileDialog::FileMode mode, const QString& nameFilter);
