#pragma once

#include <QGroupBox>
#include <QImage>
#include <memory>
#include <string>

#include "FrameDetector.h"
#include "ObjectIndex.h"
#include "RunThread.h"

class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QTemporaryDir;
class ResultsPanel;

// After a run of the objects detector: other questions of where, how big and how long, each
// answered from the run's object index on a thread of its own and shown in the results as a run
// is, and kept as a folder of its own (search-NAME in the run's folder) when asked. A change of
// the question asks it at once; one asked while another is answered waits for it.
class SearchPanel : public QGroupBox {
    Q_OBJECT

public:
    SearchPanel(ResultsPanel& results, QWidget* parent = nullptr);
    ~SearchPanel() override;

    // The run just finished: shown with its settings when it left an object index in its
    // folder, hidden otherwise.
    void setScan(const RunSettings& run, const std::string& folder);
    // Whether an answer is being made.
    bool isSearching() const;

    // The kept polygons asked about, as the region editor gives them.
    void setRegions(const pelmora::RegionShapes& shapes);

signals:
    // Said of a question that cannot be answered, or of the folder saved.
    void told(const QString& text);

private:
    void chooseRegions();
    void ask();
    void saveAsRun();
    void start(const std::string& folder, bool kept);
    void answered(const pelmora::VideoRunResult& result);
    pelmora::ObjectSettings objectsAsked() const;
    RunSettings question(const std::string& folder, bool kept) const;

    ResultsPanel& results;
    pelmora::FrameDetector unused;  // a run's, which an index's answer does not use
    RunThread* thread;
    std::shared_ptr<const pelmora::ObjectIndex> index;
    RunSettings scan;
    std::string scanFolder;
    pelmora::RegionShapes kept;
    std::unique_ptr<QTemporaryDir> answers;
    int asked = 0;
    bool pending = false;
    bool saving = false;

    QPushButton* regionsButton;
    QLabel* regionsLabel;
    QDoubleSpinBox* leastObject;
    QDoubleSpinBox* leastDuration;
    QDoubleSpinBox* eventGap;
    QPushButton* saveButton;
    QLabel* status;
};
