#include <gtest/gtest.h>

#include <QAction>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMetaMethod>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QResource>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QToolBar>
#include <algorithm>
#include <cmath>
#include <iterator>
#include <vector>

#include "OptionTable.h"
#include "TuningWindow.h"
#include "UiTestSupport.h"

namespace {

using uitest::child;

struct WidgetRow {
    const char* name;
    const char* className;
    const char* parent;
    QRect geometry;  // null: placed by a layout or the window
};

TEST(Form, WidgetsAreNamedPlacedAndParentedAsDesigned) {
    Kavrit window;
    // The form's widgets keep their names, classes and parents; where they stand is the form
    // layout's (see ReadsInTheFormsOrder).
    const WidgetRow rows[] = {
        {"centralWidget", "QWidget", "KavritClass", QRect()},
        {"pushButton", "QPushButton", "centralWidget", QRect()},
        {"horizontalSlider_thresholdSlider", "QSlider", "centralWidget", QRect()},
        {"progressBar_kavritProgress", "QProgressBar", "centralWidget", QRect()},
        {"horizontalLayoutWidget", "QWidget", "centralWidget", QRect()},
        {"videoBox", "QLineEdit", "horizontalLayoutWidget", QRect()},
        {"videoSelectButton", "QPushButton", "horizontalLayoutWidget", QRect()},
        {"horizontalLayoutWidget_2", "QWidget", "centralWidget", QRect()},
        {"lineEdit", "QLineEdit", "horizontalLayoutWidget_2", QRect()},
        {"directorySelectButton", "QPushButton", "horizontalLayoutWidget_2", QRect()},
        {"label_threshold", "QLabel", "centralWidget", QRect()},
        {"label", "QLabel", "centralWidget", QRect()},
        {"menuBar", "QMenuBar", "KavritClass", QRect()},
        {"menuHelp", "QMenu", "menuBar", QRect()},
        {"menuFile", "QMenu", "menuBar", QRect()},
        {"menuProject", "QMenu", "menuBar", QRect()},
        {"mainToolBar", "QToolBar", "KavritClass", QRect()},
        {"statusBar", "QStatusBar", "KavritClass", QRect()},
    };
    for (const WidgetRow& row : rows) {
        QWidget* widget = child<QWidget>(window, row.name);
        ASSERT_NE(widget, nullptr) << row.name;
        EXPECT_STREQ(widget->metaObject()->className(), row.className) << row.name;
        ASSERT_NE(widget->parent(), nullptr) << row.name;
        EXPECT_EQ(widget->parent()->objectName(), QString::fromLatin1(row.parent)) << row.name;
        if (!row.geometry.isNull()) {
            EXPECT_EQ(widget->geometry(), row.geometry) << row.name;
        }
    }
    auto* detailed = child<QRadioButton>(window, "radioButton_detailedOutput");
    EXPECT_EQ(detailed->parent(), window.centralWidget());
    EXPECT_EQ(window.objectName(), QStringLiteral("KavritClass"));
    // The form's size, or more where its widgets need the room.
    EXPECT_GE(window.width(), 809);
    EXPECT_GE(window.height(), 541);
    EXPECT_EQ(window.centralWidget(), child<QWidget>(window, "centralWidget"));
    EXPECT_EQ(window.menuBar(), child<QMenuBar>(window, "menuBar"));
    EXPECT_EQ(window.statusBar(), child<QStatusBar>(window, "statusBar"));
    EXPECT_EQ(window.toolBarArea(child<QToolBar>(window, "mainToolBar")), Qt::TopToolBarArea);
    EXPECT_TRUE(child<QToolBar>(window, "mainToolBar")->actions().isEmpty());
    EXPECT_TRUE(window.statusBar()->currentMessage().isEmpty());

    auto* layout = child<QHBoxLayout>(window, "horizontalLayout");
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->spacing(), 6);
    EXPECT_EQ(layout->contentsMargins(), QMargins(0, 0, 0, 0));
    EXPECT_EQ(layout->itemAt(0)->widget(), child<QWidget>(window, "videoBox"));
    EXPECT_EQ(layout->itemAt(1)->widget(), child<QWidget>(window, "videoSelectButton"));
    auto* layout2 = child<QHBoxLayout>(window, "horizontalLayout_2");
    ASSERT_NE(layout2, nullptr);
    EXPECT_EQ(layout2->contentsMargins(), QMargins(0, 0, 0, 0));
    EXPECT_EQ(layout2->itemAt(0)->widget(), child<QWidget>(window, "lineEdit"));
    EXPECT_EQ(layout2->itemAt(1)->widget(), child<QWidget>(window, "directorySelectButton"));

    EXPECT_EQ(child<QSlider>(window, "horizontalSlider_thresholdSlider")->orientation(),
              Qt::Horizontal);
    auto* label = child<QLabel>(window, "label_threshold");
    EXPECT_TRUE(label->hasScaledContents());
    EXPECT_EQ(label->alignment(), Qt::AlignCenter);
    auto* title = child<QLabel>(window, "label");
    EXPECT_TRUE(title->hasScaledContents());
    EXPECT_TRUE(title->text().isEmpty());
    ASSERT_FALSE(title->pixmap(Qt::ReturnByValue).isNull());
    EXPECT_EQ(title->pixmap(Qt::ReturnByValue).size(), QSize(500, 500));
    EXPECT_FALSE(window.windowIcon().isNull());
}

struct ActionRow {
    const char* name;
    const char* text;
    const char* toolTip;  // null: the text, as the toolkit derives it
    const char* shortcut;
};

TEST(Form, ActionsCarryTheirTextsToolTipsAndShortcuts) {
    Kavrit window;
    const ActionRow rows[] = {
        {"actionRun", "Run", "Run Kavrit for the AVI file selected.", "Ctrl+R"},
        {"actionNew_Project", "New Project", "Clear the Current Project", "Ctrl+N"},
        {"actionSave_Path", "Save Path", "Specify the Save Location of the Project", "Ctrl+S"},
        {"actionDocumentation", "Documentation", nullptr, "Ctrl+D"},
        {"actionAbout", "About", nullptr, "Ctrl+A"},
    };
    for (const ActionRow& row : rows) {
        auto* action = child<QAction>(window, row.name);
        ASSERT_NE(action, nullptr) << row.name;
        EXPECT_EQ(action->parent(), &window) << row.name;
        EXPECT_EQ(action->text(), QString::fromLatin1(row.text)) << row.name;
        EXPECT_EQ(action->toolTip(), QString::fromLatin1(row.toolTip ? row.toolTip : row.text))
            << row.name;
        EXPECT_EQ(action->shortcut(), QKeySequence(QString::fromLatin1(row.shortcut))) << row.name;
    }
}

TEST(Form, TextsAreThoseOfTheProduct) {
    Kavrit window;
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Pelmora"));
    EXPECT_EQ(child<QPushButton>(window, "pushButton")->text(), QStringLiteral("Start"));
    EXPECT_EQ(child<QLineEdit>(window, "videoBox")->placeholderText(),
              QStringLiteral("Select video file..."));
    EXPECT_EQ(child<QPushButton>(window, "videoSelectButton")->text(), QStringLiteral("Browse..."));
    EXPECT_EQ(child<QLineEdit>(window, "lineEdit")->placeholderText(),
              QStringLiteral("Select destination directory..."));
    EXPECT_EQ(child<QPushButton>(window, "directorySelectButton")->text(),
              QStringLiteral("Browse..."));
    EXPECT_EQ(child<QRadioButton>(window, "radioButton_detailedOutput")->text(),
              QStringLiteral("Detailed Output"));
}

QStringList entries(const QList<QAction*>& actions) {
    QStringList texts;
    for (QAction* action : actions) {
        texts << (action->isSeparator() ? QStringLiteral("---") : action->text());
    }
    return texts;
}

TEST(Form, MenusHoldTheirEntriesInOrder) {
    Kavrit window;
    EXPECT_EQ(entries(window.menuBar()->actions()), (QStringList{"File", "Project", "Help"}));
    EXPECT_EQ(entries(child<QMenu>(window, "menuFile")->actions()),
              (QStringList{"New Project", "---", "Save Path", "---", "Quit"}));
    EXPECT_EQ(entries(child<QMenu>(window, "menuProject")->actions()), (QStringList{"Run"}));
    EXPECT_EQ(entries(child<QMenu>(window, "menuHelp")->actions()),
              (QStringList{"Documentation", "---", "About"}));
}

TEST(Form, StartsIdle) {
    Kavrit window;
    window.show();
    auto* bar = child<QProgressBar>(window, "progressBar_kavritProgress");
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    auto* slider = child<QSlider>(window, "horizontalSlider_thresholdSlider");
    EXPECT_EQ(slider->value(), 0);
    EXPECT_EQ(slider->minimum(), 0);
    EXPECT_EQ(slider->maximum(), 50);
    EXPECT_EQ(child<QLabel>(window, "label_threshold")->text(), QStringLiteral("Threshold:"));
    EXPECT_FALSE(child<QRadioButton>(window, "radioButton_detailedOutput")->isChecked());
}

// The window's settings are pelmora-scan's options: the same range, from the same table, at
// the window's defaults.
TEST(Form, SettingsTakeTheirRangesAndDefaultsFromTheTableOfOptions) {
    namespace option = pelmora::option;
    Kavrit window;
    TuningWindow tuning;
    auto* slider = child<QSlider>(window, "horizontalSlider_thresholdSlider");
    auto* eventGap = child<QDoubleSpinBox>(window, "spinBox_eventGap");
    auto* triggerSize = child<QSpinBox>(window, "spinBox_triggerSize");
    auto* tuningTrigger = tuning.findChild<QSpinBox*>(QStringLiteral("triggerSize"));
    ASSERT_TRUE(eventGap != nullptr && triggerSize != nullptr && tuningTrigger != nullptr);
    const auto ms = [](double seconds) { return std::llround(seconds * 1000.0); };
    using Shown = std::vector<long long>;  // minimum, maximum, value
    const auto ofSpinBox = [](const QSpinBox* box) {
        return Shown{box->minimum(), box->maximum(), box->value()};
    };
    const struct {
        const char* name;
        const pelmora::OptionEntry& entry;
        Shown shown;
    } rows[] = {
        {"threshold", option::kThreshold, {slider->minimum(), slider->maximum(), slider->value()}},
        {"event gap",
         option::kEventGap,
         {ms(eventGap->minimum()), ms(eventGap->maximum()), ms(eventGap->value())}},
        {"trigger size", option::kMinPixels, ofSpinBox(triggerSize)},
        {"the tuning window's trigger size", option::kMinPixels, ofSpinBox(tuningTrigger)},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.shown, (Shown{row.entry.minimum, row.entry.maximum, row.entry.windowDefault}))
            << row.name;
    }
    // Seconds read as the command line takes them, "2 s" rather than "2.000 s".
    EXPECT_EQ(eventGap->text().toStdString(),
              pelmora::optionValueText(option::kEventGap, option::kEventGap.windowDefault) + " s");
}

TEST(Form, KeepsAnObjectNameThatWasAlreadySet) {
    QMainWindow named;
    named.setObjectName(QStringLiteral("MyWindow"));
    Ui_KavritClass form;
    form.setupUi(&named);
    EXPECT_EQ(named.objectName(), QStringLiteral("MyWindow"));
}

TEST(Form, DetailedOutputIsTurnedOffAgainByASecondClick) {
    Kavrit window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* radio = child<QRadioButton>(window, "radioButton_detailedOutput");
    for (const bool checked : {true, false, true}) {
        QTest::mouseClick(radio, Qt::LeftButton);
        EXPECT_EQ(radio->isChecked(), checked);
    }
}

TEST(Form, ReadsInTheFormsOrderAndAWiderWindowWidensThePathFields) {
    Kavrit window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    child<QProgressBar>(window, "progressBar_kavritProgress")->setVisible(true);
    const auto at = [&window](const char* name) {
        const QWidget* widget = child<QWidget>(window, name);
        return QRect(widget->mapTo(&window, QPoint(0, 0)), widget->size());
    };
    // The picture on the left; to its right, top to bottom: the two paths, the threshold with
    // its slider, Detailed Output with Start, and the progress bar.
    const char* const column[] = {"horizontalLayoutWidget", "horizontalLayoutWidget_2",
                                  "horizontalSlider_thresholdSlider", "pushButton",
                                  "progressBar_kavritProgress"};
    for (const char* name : column) {
        EXPECT_GT(at(name).left(), at("label").right()) << name;
    }
    for (std::size_t i = 1; i < std::size(column); ++i) {
        EXPECT_GT(at(column[i]).top(), at(column[i - 1]).bottom()) << column[i];
    }
    EXPECT_LT(at("label_threshold").right(), at("horizontalSlider_thresholdSlider").left());
    EXPECT_LT(at("radioButton_detailedOutput").right(), at("pushButton").left());
    EXPECT_GE(at("radioButton_detailedOutput").width(),
              child<QWidget>(window, "radioButton_detailedOutput")->sizeHint().width());
    const QRect fields = at("horizontalLayoutWidget");
    const QRect start = at("pushButton");
    window.resize(window.width() + 200, window.height());
    QApplication::processEvents();
    EXPECT_EQ(at("horizontalLayoutWidget"), fields.adjusted(0, 0, 200, 0));
    EXPECT_EQ(at("pushButton"), start.translated(200, 0));
}

// A laptop's screen less a window manager's title bar: everything reachable, with room for
// five events in the results.
TEST(Form, FitsALaptopScreenWithRoomForFiveEvents) {
    constexpr int kTitleBar = 32;
    const struct {
        const char* name;
        QSize screen;
    } rows[] = {{"1366 x 768", QSize(1366, 768)}, {"1280 x 720", QSize(1280, 720)}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Kavrit window;
        const QSize room = row.screen - QSize(0, kTitleBar);
        EXPECT_LE(window.minimumSize().width(), room.width());
        EXPECT_LE(window.minimumSize().height(), room.height());
        window.resize(room);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        child<QDockWidget>(window, "dock_results")->raise();
        QApplication::processEvents();
        EXPECT_EQ(window.size(), room);
        for (const char* name : {"statusBar", "progressBar_kavritProgress", "pushButton",
                                 "openFolderButton", "playClipButton", "timeline"}) {
            const QWidget* widget = child<QWidget>(window, name);
            const QRect placed(widget->mapTo(&window, QPoint(0, 0)), widget->size());
            EXPECT_TRUE(window.rect().contains(placed)) << name;
        }
        const auto* events = child<QTableView>(window, "eventList");
        EXPECT_GE(events->viewport()->height(), 5 * events->verticalHeader()->defaultSectionSize())
            << events->viewport()->height();
        // The form keeps its height; the room goes to the results.
        const int form = window.centralWidget()->height();
        const int timeline = child<QWidget>(window, "timeline")->height();
        window.resize(room + QSize(0, 200));
        QApplication::processEvents();
        EXPECT_EQ(window.centralWidget()->height(), form);
        EXPECT_GT(child<QWidget>(window, "timeline")->height(), timeline);
        EXPECT_GT(events->viewport()->height(),
                  5 * events->verticalHeader()->defaultSectionSize() + 50);
    }
}

TEST(Form, CentralAreaHoldsEveryWidgetWhateverTheWindowSize) {
    Kavrit window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    child<QProgressBar>(window, "progressBar_kavritProgress")->setVisible(true);  // as after a run
    const struct {
        const char* name;
        QSize size;  // asked for; empty: as the window opens
    } rows[] = {{"as opened", QSize()}, {"shrunk", QSize(100, 80)}};
    for (const auto& row : rows) {
        if (!row.size.isEmpty()) {
            window.resize(row.size);
        }
        QApplication::processEvents();
        const QWidget* central = window.centralWidget();
        for (QWidget* widget :
             central->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            const QRect placed = widget->geometry();
            EXPECT_TRUE(central->rect().contains(placed))
                << row.name << ": " << widget->objectName().toStdString() << " reaches "
                << placed.right() << ", " << placed.bottom() << " in a central area of "
                << central->width() << " x " << central->height();
        }
    }
}

TEST(Form, DeclaresSevenSlotsInOrderAndNoSignals) {
    const QMetaObject& meta = Kavrit::staticMetaObject;
    EXPECT_STREQ(meta.className(), "Kavrit");
    EXPECT_STREQ(meta.superClass()->className(), "QMainWindow");
    QStringList slotNames;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        EXPECT_EQ(method.methodType(), QMetaMethod::Slot) << method.methodSignature().data();
        EXPECT_EQ(method.access(), QMetaMethod::Public) << method.methodSignature().data();
        slotNames << QString::fromLatin1(method.methodSignature());
    }
    EXPECT_EQ(slotNames, (QStringList{"goButton()", "launchVideoSelectDialog()",
                                      "launchDirectorySelectDialog()", "thresholdHandler()",
                                      "closeEvent()", "openDocumentation()", "aboutInfo()"}));
    EXPECT_EQ(meta.propertyCount(), meta.propertyOffset());
}

TEST(Resources, ImagesAreStoredUncompressedWithAlpha) {
    for (const char* path : {":/Kavrit/Brindel_Title.png", ":/Kavrit/BrindelAppButton.png"}) {
        const QImage image{QString::fromLatin1(path)};
        ASSERT_FALSE(image.isNull()) << path;
        EXPECT_EQ(image.size(), QSize(500, 500)) << path;
        EXPECT_TRUE(image.hasAlphaChannel()) << path;
        EXPECT_EQ(image.depth(), 32) << path;
        EXPECT_EQ(QResource(QString::fromLatin1(path)).compressionAlgorithm(),
                  QResource::NoCompression)
            << path;
    }
    EXPECT_TRUE(QResource(QStringLiteral(":/Kavrit/PelmoraDocumentation.html")).isValid());
}

}  // namespace
