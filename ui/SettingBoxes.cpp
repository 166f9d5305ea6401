#include "SettingBoxes.h"

#include "ObjectDetector.h"

QString SecondsBox::textFromValue(double value) const {
    QString text = QDoubleSpinBox::textFromValue(value);
    const QChar point = locale().decimalPoint();
    if (text.contains(point)) {
        while (text.endsWith(QLatin1Char('0'))) {
            text.chop(1);
        }
        if (text.endsWith(point)) {
            text.chop(1);
        }
    }
    return text;
}

void takeSeconds(QDoubleSpinBox* box, const pelmora::OptionEntry& entry) {
    box->setDecimals(3);
    box->setRange(static_cast<double>(entry.minimum) / 1000.0,
                  static_cast<double>(entry.maximum) / 1000.0);
    box->setSingleStep(static_cast<double>(entry.windowStep) / 1000.0);
    box->setValue(static_cast<double>(entry.windowDefault) / 1000.0);
}

long long boxMs(const QDoubleSpinBox& box) {
    return static_cast<long long>(box.value() * 1000.0 + 0.5);
}

QDoubleSpinBox* leastObjectBox(QWidget* parent) {
    auto* box = new QDoubleSpinBox(parent);
    box->setDecimals(3);
    box->setRange(0.001, 100.0);
    box->setSingleStep(0.01);
    box->setValue(pelmora::ObjectSettings().share * 100.0);
    box->setSuffix(QObject::tr(" %"));
    box->setToolTip(QObject::tr("The least object, a share of the picture"));
    return box;
}

SecondsBox* leastDurationBox(QWidget* parent) {
    auto* box = new SecondsBox(parent);
    takeSeconds(box, pelmora::option::kMinDuration);
    box->setSuffix(QObject::tr(" s"));
    box->setToolTip(QObject::tr("An object counts once it has lasted this long"));
    return box;
}
