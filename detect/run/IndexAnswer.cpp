#include "IndexAnswer.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <optional>
#include <stdexcept>

#include "FolderNames.h"
#include "FramePool.h"
#include "FrameSeeker.h"
#include "ObjectsStep.h"
#include "PictureConverter.h"
#include "SnapshotWriterPool.h"
#include "TextFormat.h"
#include "VideoJob.h"

namespace pelmora {

namespace {

// Snapshot writers for a search: its pictures come one seek apart, so a few keep up.
constexpr int kWriters = 2;

// Why the video is not the one the index was made of, or nothing.
std::string videoChanged(const VideoSource& source, const IndexHead& head) {
    if (source.shownSize() != head.frameSize || source.fps() != head.fps ||
        source.announcedFrames() != head.framesAnnounced) {
        return formatText("%s is not the video its object index was made of: it changed since",
                          head.videoPath.c_str());
    }
    return std::string();
}

class IndexAnswer {
public:
    IndexAnswer(const RunRequest& request, RunHost& host, RunReport& report)
        : request(request),
          question(*request.question),
          head(question.index->head),
          host(host),
          report(report),
          pool(2 * kWriters + 2),
          writers(kWriters, pool) {}

    void run(bool& started, bool& framesRan) {
        const std::string outside = regionsOutside(request.watched.shapes(), head.frameSize);
        if (!outside.empty()) {
            fail(outside);
            return;
        }
        if (question.snapshots && !openVideo()) {
            return;
        }
        report.start = decideStart(head.videoPath, head.creationTime, request.start);
        if (question.windowed && !report.start.known()) {
            fail("its first frame's clock time is not known, so no clock time can be searched");
            return;
        }
        if (!readyFolder()) {
            return;
        }
        report.framesAnnounced = std::max(head.framesAnnounced, 0LL);
        report.findsObjects = true;
        if (request.observer != nullptr) {
            started = true;
            const WatchedRegion& watched = request.watched;
            request.observer->runStarted(
                {request.videoPath, report.outputDir, head.frameSize, head.fps,
                 report.framesAnnounced, request.threshold, request.minPixels,
                 head.maskPath.empty() && watched.shapes().empty(), head.maskPath,
                 std::max(head.framesExpected, 0LL), report.start, true, watched.shapes()});
        }
        framesRan = true;
        try {
            answer();
        } catch (...) {
            collect(true);
            throw;
        }
        collect(true);
    }

private:
    void fail(const std::string& reason) {
        report.status = RunReport::Status::Failed;
        report.failure = reason;
        host.tell({MessageKind::VideoUnreadable, request.videoPath, reason});
    }

    bool openVideo() {
        report.openError = seeker.open(head.videoPath);
        if (report.openError.empty()) {
            report.openError = videoChanged(seeker.video(), head);
        }
        if (!report.openError.empty()) {
            host.tell({MessageKind::VideoNotOpened, request.videoPath, report.openError});
            report.status = RunReport::Status::OpenFailed;
            return false;
        }
        const VideoSource& source = seeker.video();
        converter.setStream({source.width(), source.height()}, source.rotation());
        return true;
    }

    bool readyFolder() {
        VideoJob job(request.videoPath, request.outputDir);
        report.outputError = job.prepareOutputDirectory();
        report.outputDir = job.getOutputDir();
        if (report.outputError.empty() && request.folderReady) {
            report.outputError = request.folderReady(report.outputDir);
        }
        if (!report.outputError.empty()) {
            host.tell({MessageKind::FolderUnusable, report.outputDir, report.outputError});
            report.status = RunReport::Status::OutputUnusable;
            return false;
        }
        return true;
    }

    bool inWindow(long long ms) const {
        if (!question.windowed) {
            return true;
        }
        const long long utc = report.start.utcAt(ms);
        return utc >= question.fromUtcMs && utc <= question.toUtcMs;
    }

    // Every frame followed as the run followed it, so that the tracks at the window's start
    // are the run's; only those in the window are the answer's.
    void answer() {
        const std::vector<IndexedFrame>& frames = question.index->frames;
        const double fps = head.fps;
        const long long frameLengthMs = usableFrameRate(fps) ? std::llround(1000.0 / fps) : 0;
        SnapshotNamer namer(snapshotDigits(head.announcedMs));
        std::optional<ObjectJudge> judge;
        cv::Mat standing;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const IndexedFrame& frame = frames[i];
            if (frame.newScene || !judge) {
                judge.emplace(request.objects, frame.shownSize);
                standing = request.watched.standing(frame.shownSize);
            }
            const long long ms = frame.time.snapshotMs;
            const ObjectOutcome& found = judge->judge(frame.scene, ms, standing);
            // Named as the run names it, whether or not the window holds it.
            std::string name = found.snapshot ? namer.next(ms) : std::string();
            if (!inWindow(ms)) {
                continue;
            }
            if (report.lastFrame < 0) {
                report.firstFrame = frame.frame;
                report.firstMs = static_cast<double>(frame.streamMs);
            }
            ++report.framesRead;
            report.lastFrame = frame.frame;
            report.lastMs = static_cast<double>(frame.streamMs);
            report.spanMs = ms + frameLengthMs;
            const std::string line = objectsNote(request.videoPath, found.note, ms);
            if (!line.empty()) {
                host.tell({MessageKind::Notice, request.videoPath, line});
            }
            const int pixels = objectsPixels(found);
            if (request.observer != nullptr) {
                request.observer->frameMeasured({frame.frame, ms, pixels, frame.streamMs, false});
            }
            if (found.snapshot) {
                snapshot(frame, found, std::move(name));
            }
            collect(false);
            if (host.stopAfterFrame()) {
                report.status = RunReport::Status::Stopped;
                return;
            }
            const int percent = progressPercent(static_cast<long long>(i) + 1,
                                                static_cast<long long>(frames.size()));
            if (percent >= 0) {
                host.progress(percent);
            }
        }
    }

    void snapshot(const IndexedFrame& frame, const ObjectOutcome& found, std::string name) {
        for (const cv::Rect& box : found.boxes) {
            report.objectsBox = report.objectsBox.area() > 0 ? (report.objectsBox | box) : box;
        }
        report.mostObjects = std::max(report.mostObjects, static_cast<int>(found.boxes.size()));
        SnapshotOutcome outcome{frame.frame,
                                frame.time.snapshotMs,
                                objectsPixels(found),
                                name,
                                false,
                                frame.streamMs,
                                false,
                                found.boxes};
        if (!question.snapshots) {
            if (request.observer != nullptr) {
                request.observer->snapshotDone(outcome);
            }
            return;
        }
        Picture picture;
        std::string error;
        if (seeker.pictureAt(frame.frame, 0, picture, error) != frame.frame) {
            throw std::runtime_error(
                formatText("frame %lld cannot be read again: %s", frame.frame, error.c_str()));
        }
        cv::Mat image;
        pool.acquire(image);
        if (!converter.convert(picture, image)) {
            pool.release(std::move(image));
            throw std::runtime_error(PictureConverter::refusal(picture));
        }
        drawObjectsSnapshot(image, frame.time, found, request.boxes);
        unwritten.push_back(std::move(outcome));
        writers.submit(joinPath(report.outputDir, name), std::move(image));
    }

    void collect(bool waitForAll) {
        writers.collect(waitForAll, [this](const std::string& path, const WriteResult& result) {
            if (result.saved) {
                ++report.snapshotsWritten;
                host.tell({MessageKind::FileSaved, path});
            } else {
                ++report.snapshotsLost;
                host.tell({MessageKind::SnapshotNotSaved, path, result.reason});
            }
            SnapshotOutcome outcome = std::move(unwritten.front());
            unwritten.pop_front();
            outcome.saved = result.saved;
            if (request.observer != nullptr) {
                request.observer->snapshotDone(outcome);
            }
        });
    }

    const RunRequest& request;
    const IndexQuestion& question;
    const IndexHead& head;
    RunHost& host;
    RunReport& report;
    FrameSeeker seeker;
    PictureConverter converter;
    FramePool pool;
    SnapshotWriterPool writers;
    std::deque<SnapshotOutcome> unwritten;
};

}  // namespace

void answerFromIndex(const RunRequest& request, RunHost& host, RunReport& report, bool& started,
                     bool& framesRan) {
    IndexAnswer(request, host, report).run(started, framesRan);
}

}  // namespace pelmora
