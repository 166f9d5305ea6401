#include "SearchPanel.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>

#include "FolderNames.h"
#include "RegionEditor.h"
#include "ResultsPanel.h"
#include "SettingBoxes.h"
#include "WatchedRegion.h"

SearchPanel::SearchPanel(ResultsPanel& results, QWidget* parent)
    : QGroupBox(tr("Search"), parent), results(results), thread(new RunThread(unused, this)) {
    setObjectName(QStringLiteral("searchPanel"));
    setToolTip(tr("Ask the run's objects again, without reading the video again"));
    regionsButton = new QPushButton(tr("Regions..."), this);
    regionsButton->setObjectName(QStringLiteral("pushButton_searchRegions"));
    regionsButton->setToolTip(tr("Where the objects must stand"));
    regionsLabel = new QLabel(this);
    regionsLabel->setObjectName(QStringLiteral("label_searchRegions"));
    leastObject = leastObjectBox(this);
    leastObject->setObjectName(QStringLiteral("spinBox_searchLeastObject"));
    leastDuration = leastDurationBox(this);
    leastDuration->setObjectName(QStringLiteral("spinBox_searchLeastDuration"));
    eventGap = new SecondsBox(this);
    eventGap->setObjectName(QStringLiteral("spinBox_searchEventGap"));
    takeSeconds(eventGap, pelmora::option::kEventGap);
    eventGap->setSuffix(tr(" s"));
    saveButton = new QPushButton(tr("Save as Run"), this);
    saveButton->setObjectName(QStringLiteral("pushButton_saveSearch"));
    saveButton->setToolTip(tr("Keep this answer in a folder of its own in the run's folder"));
    status = new QLabel(this);
    status->setObjectName(QStringLiteral("label_searchStatus"));

    // One row, as the detector's settings are, so that the results keep their height.
    auto* row = new QHBoxLayout(this);
    row->addWidget(regionsButton);
    row->addWidget(regionsLabel);
    for (const auto& [label, box] : {std::make_pair(tr("least object"), leastObject),
                                     std::make_pair(tr("lasting"), leastDuration),
                                     std::make_pair(tr("event gap"), eventGap)}) {
        auto* text = new QLabel(label, this);
        text->setBuddy(box);
        row->addWidget(text);
        row->addWidget(box);
    }
    row->addWidget(saveButton);
    row->addWidget(status, 1);

    connect(regionsButton, &QPushButton::clicked, this, &SearchPanel::chooseRegions);
    for (QDoubleSpinBox* box : {leastObject, leastDuration, eventGap}) {
        connect(box, qOverload<double>(&QDoubleSpinBox::valueChanged), this, &SearchPanel::ask);
    }
    connect(saveButton, &QPushButton::clicked, this, &SearchPanel::saveAsRun);
    connect(thread, &RunThread::runStarted, this, [this](const pelmora::RunFacts& facts) {
        this->results.beginRun(facts, boxMs(*eventGap));
    });
    connect(thread, &RunThread::recordsGrew, &results, &ResultsPanel::addRecords);
    connect(thread, &RunThread::runEnded, this,
            [this](const pelmora::VideoRunResult& result, double) { answered(result); });
    setRegions({});
    hide();
}

SearchPanel::~SearchPanel() {
    thread->requestStop();
    thread->wait();
}

void SearchPanel::setScan(const RunSettings& run, const std::string& folder) {
    // An answer of the scan before would land in the results of this one.
    pending = false;
    saving = false;
    thread->requestStop();
    thread->wait();
    auto read = std::make_shared<pelmora::ObjectIndex>();
    const bool indexed =
        run.detector == pelmora::DetectorKind::Objects &&
        pelmora::readObjectIndex(pelmora::joinPath(folder, pelmora::kObjectIndexName), *read)
            .empty();
    setVisible(indexed);
    if (!indexed) {
        index.reset();
        return;
    }
    index = std::move(read);
    scan = run;
    scanFolder = folder;
    const QSignalBlocker blockObject(leastObject);
    const QSignalBlocker blockDuration(leastDuration);
    const QSignalBlocker blockGap(eventGap);
    leastObject->setValue(run.objects.share * 100.0);
    leastDuration->setValue(static_cast<double>(run.objects.leastMs) / 1000.0);
    eventGap->setValue(static_cast<double>(run.records.eventGapMs) / 1000.0);
    // The run's own results stay on show until a question is asked.
    kept.clear();
    regionsLabel->setText(tr("anywhere"));
    status->clear();
}

bool SearchPanel::isSearching() const {
    return thread->isRunning() || pending;
}

void SearchPanel::setRegions(const pelmora::RegionShapes& shapes) {
    kept = shapes;
    regionsLabel->setText(kept.empty() ? tr("anywhere")
                                       : QString::fromStdString(pelmora::regionText("", kept)));
    if (index) {
        ask();
    }
}

void SearchPanel::chooseRegions() {
    const cv::Mat frame = index ? videoFrame(index->head.videoPath, 0.0) : cv::Mat();
    if (frame.empty()) {
        QMessageBox::information(this, tr("Regions"),
                                 tr("The run's video cannot be read: the polygons are drawn on "
                                    "one of its frames."));
        return;
    }
    if (const auto drawn =
            RegionEditor::drawOn(frame, kept, QStringLiteral("searchRegionEditor"), this)) {
        setRegions(*drawn);
    }
}

pelmora::ObjectSettings SearchPanel::objectsAsked() const {
    pelmora::ObjectSettings asked = scan.objects;
    asked.share = leastObject->value() / 100.0;
    asked.pixels = 0;
    asked.leastMs = boxMs(*leastDuration);
    return asked;
}

RunSettings SearchPanel::question(const std::string& folder, bool keptAsRun) const {
    RunSettings asked = scan;
    asked.videoPath = index->head.videoPath;
    asked.outputDir = folder;
    asked.detailed = false;
    asked.index = index;
    asked.objects = objectsAsked();
    asked.watched.setShapes(pelmora::questionShapes(index->head, kept));
    asked.removeEarlier = true;
    // A live answer lists nothing: what it shows is its records as they are told.
    if (!keptAsRun) {
        asked.records = pelmora::RecordOptions{};
    } else {
        asked.records.events = true;
        asked.records.clips = false;
        asked.records.digest = false;
    }
    asked.records.eventGapMs = boxMs(*eventGap);
    return asked;
}

void SearchPanel::ask() {
    if (!index || saving) {
        pending = pending || saving;
        return;
    }
    if (thread->isRunning()) {
        pending = true;
        thread->requestStop();
        return;
    }
    if (!answers || !answers->isValid()) {
        answers = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/pelmora-search-XXXXXX");
    }
    const std::string folder =
        QDir(answers->path()).filePath(QString::number(++asked)).toStdString();
    start(folder, false);
}

void SearchPanel::saveAsRun() {
    if (!index) {
        return;
    }
    const std::string name = pelmora::questionName(kept, objectsAsked(), boxMs(*eventGap), {});
    const std::string folder = pelmora::joinPath(scanFolder, pelmora::kSearchFolderPrefix + name);
    if (thread->isRunning()) {
        thread->requestStop();
        thread->wait();
    }
    saving = true;
    start(folder, true);
}

void SearchPanel::start(const std::string& folder, bool keptAsRun) {
    const RunSettings asked = question(folder, keptAsRun);
    const std::string refusal =
        pelmora::questionRefusal(index->head, asked.watched.shapes(), std::string(), asked.objects);
    if (!refusal.empty()) {
        status->setText(QString::fromStdString(refusal));
        saving = false;
        return;
    }
    status->setText(keptAsRun ? tr("Saving...") : tr("Searching..."));
    thread->startRun(asked);
}

void SearchPanel::answered(const pelmora::VideoRunResult& result) {
    const pelmora::RunReport& report = result.report;
    if (report.status == pelmora::RunReport::Status::Finished) {
        results.finishRun(report, QString());
    }
    if (saving) {
        saving = false;
        const QString text =
            result.failed ? tr("The answer could not be saved in %1") : tr("Saved in %1");
        status->setText(text.arg(QString::fromStdString(report.outputDir)));
        emit told(status->text());
    } else if (report.status == pelmora::RunReport::Status::Finished) {
        const long long found = report.snapshotsWritten;
        status->setText(found == 1 ? tr("1 snapshot found") : tr("%1 snapshots found").arg(found));
    }
    if (pending) {
        pending = false;
        ask();
    }
}
