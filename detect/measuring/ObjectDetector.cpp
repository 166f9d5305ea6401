#include "ObjectDetector.h"

#include <algorithm>
#include <cmath>

#include "FrameClock.h"

namespace pelmora {

namespace {

constexpr int kWorkingWidth = 320;
// The background is learnt over about this long.
constexpr double kLearnSeconds = 2.0;
// Objects count once the scene has been learnt for this long, at kLearningSpeedup times the
// rate: at the start, where the camera moved, and (briefly) after a change of light, where
// what each pixel does is known already.
constexpr long long kFirstLearningMs = 2000;
constexpr long long kLightLearningMs = 500;
constexpr double kLearningSpeedup = 4.0;
// The light changed beyond explaining when its gain moves by more than this share within
// kGainWindowMs, or when more than kChangedShare of the picture differs all the same: more than
// a truck that fills the picture's height.
constexpr double kGainJump = 0.2;
constexpr long long kGainWindowMs = 500;
constexpr double kChangedShare = 0.5;
// A shift of more than this share of the picture's width cannot be undone: the camera moved.
constexpr double kFarthestShift = 0.08;
// A shake is a new one after this long without a shift.
constexpr long long kShakeGapMs = 1000;
// Snapshots of objects that move on: at most one this often.
constexpr long long kSnapshotEveryMs = 250;

cv::Point2d centreOf(const cv::Rect& box) {
    return {box.x + box.width / 2.0, box.y + box.height / 2.0};
}

}  // namespace

cv::Size ObjectDetector::workingSize(cv::Size videoSize) {
    if (videoSize.width <= kWorkingWidth) {
        return videoSize;
    }
    const int height =
        std::max(2, static_cast<int>(std::lround(static_cast<double>(videoSize.height) *
                                                 kWorkingWidth / videoSize.width)));
    return {kWorkingWidth, height};
}

ObjectScene::ObjectScene(cv::Size workingSize, double fps)
    : working(workingSize), fps(usableFrameRate(fps) ? fps : 25.0) {}

void ObjectScene::learnAgain(const cv::Mat& grey, long long timeMs, bool keepDeviations,
                             long long forMs) {
    model.reset(grey, kLearningSpeedup / (kLearnSeconds * fps), keepDeviations);
    gains.clear();
    learntUntilMs = timeMs + forMs;
    frame.kind = SceneFrame::Kind::LearntAgain;
}

const SceneFrame& ObjectScene::look(const cv::Mat& grey, long long timeMs, const cv::Mat& watched) {
    frame.note = ObjectOutcome::Note::None;
    frame.blobs.clear();
    if (!model.learnt() || model.size() != grey.size()) {
        learnAgain(grey, timeMs, false, kFirstLearningMs);
        return frame;
    }
    const bool learning = timeMs < learntUntilMs;
    model.learnAt((learning ? kLearningSpeedup : 1.0) / (kLearnSeconds * fps));
    BackgroundModel::Look look;
    const cv::Mat& foreground = model.compare(grey, watched, look);

    // A change of the whole picture is no object: it is said once and learnt again.
    while (!gains.empty() && timeMs - gains.front().first > kGainWindowMs) {
        gains.pop_front();
    }
    const double before = gains.empty() ? look.gain : gains.front().second;
    gains.emplace_back(timeMs, look.gain);
    const double shift = std::hypot(look.shift.x, look.shift.y);
    if (shift > kFarthestShift * working.width) {
        learnAgain(grey, timeMs, false, kFirstLearningMs);
        frame.note = ObjectOutcome::Note::CameraMoved;
        return frame;
    }
    if (std::abs(look.gain / before - 1.0) > kGainJump || look.foregroundShare > kChangedShare) {
        learnAgain(grey, timeMs, true, kLightLearningMs);
        frame.note = ObjectOutcome::Note::LightChange;
        return frame;
    }
    if (shift > 0.0) {
        if (lastShiftMs < 0 || timeMs - lastShiftMs > kShakeGapMs) {
            frame.note = ObjectOutcome::Note::Shake;
        }
        lastShiftMs = timeMs;
    }
    frame.kind = learning ? SceneFrame::Kind::Learning : SceneFrame::Kind::Watched;
    frame.blobs = finder.find(foreground, model.changes(), SceneFrame::kLeastBlob);
    return frame;
}

int ObjectJudge::leastArea(const ObjectSettings& settings, cv::Size videoSize) {
    const cv::Size working = ObjectDetector::workingSize(videoSize);
    const double scale = static_cast<double>(working.area()) / std::max(1, videoSize.area());
    const double least = settings.pixels > 0 ? static_cast<double>(settings.pixels) * scale
                                             : settings.share * working.area();
    return std::max(SceneFrame::kLeastBlob, static_cast<int>(std::lround(least)));
}

ObjectJudge::ObjectJudge(const ObjectSettings& settings, cv::Size videoSize)
    : video(videoSize), working(ObjectDetector::workingSize(videoSize)), tracker([&] {
          ObjectTracker::Rules rules;
          rules.leastArea = leastArea(settings, videoSize);
          rules.leastMs = settings.leastMs;
          rules.leastTravel = std::max(3.0, 0.02 * working.width);
          return rules;
      }()) {}

cv::Rect ObjectJudge::toVideo(const cv::Rect& box) const {
    const double sx = static_cast<double>(video.width) / working.width;
    const double sy = static_cast<double>(video.height) / working.height;
    const int x = static_cast<int>(std::floor(box.x * sx));
    const int y = static_cast<int>(std::floor(box.y * sy));
    const int right = static_cast<int>(std::ceil((box.x + box.width) * sx));
    const int bottom = static_cast<int>(std::ceil((box.y + box.height) * sy));
    return cv::Rect(x, y, right - x, bottom - y) & cv::Rect(cv::Point(), video);
}

bool ObjectJudge::standsIn(const cv::Rect& box, const cv::Mat& standing) {
    if (standing.empty() || box.empty()) {
        return standing.empty();
    }
    const int x = std::min(box.x + box.width / 2, standing.cols - 1);
    const int y = std::min(box.y + box.height - 1, standing.rows - 1);
    return standing.at<unsigned char>(y, x) != 0;
}

const ObjectOutcome& ObjectJudge::judge(const SceneFrame& scene, long long timeMs,
                                        const cv::Mat& standing) {
    outcome = ObjectOutcome();
    outcome.note = scene.note;
    if (scene.kind == SceneFrame::Kind::LearntAgain) {
        tracker.clear();
        atSnapshot.clear();
        return outcome;
    }
    tracker.follow(scene.blobs, timeMs, working.width);
    if (scene.kind == SceneFrame::Kind::Learning) {
        return outcome;
    }
    const double areaScale = static_cast<double>(video.area()) / working.area();
    bool moved = false;
    bool appeared = false;
    // An object that stands outside the kept places is none of the question's: it neither
    // shows, nor counts, nor moves the snapshots on.
    const auto counts = [&](const ObjectTracker::Track& track) {
        return track.object && track.seenNow && standsIn(toVideo(track.box), standing);
    };
    for (const ObjectTracker::Track& track : tracker.all()) {
        if (!counts(track)) {
            continue;
        }
        outcome.boxes.push_back(toVideo(track.box));
        outcome.pixels += std::llround(static_cast<double>(track.area) * areaScale);
        appeared = appeared || track.becameObject;
        const auto last = atSnapshot.find(track.id);
        if (last != atSnapshot.end()) {
            const cv::Point2d travelled = centreOf(track.box) - last->second;
            moved = moved || std::hypot(travelled.x, travelled.y) >=
                                 std::max(3.0, std::min(track.box.width, track.box.height) / 3.0);
        } else {
            appeared = true;
        }
    }
    outcome.snapshot =
        appeared || (moved && (lastSnapshotMs < 0 || timeMs - lastSnapshotMs >= kSnapshotEveryMs));
    if (outcome.snapshot) {
        lastSnapshotMs = timeMs;
        atSnapshot.clear();
        for (const ObjectTracker::Track& track : tracker.all()) {
            if (counts(track)) {
                atSnapshot[track.id] = centreOf(track.box);
            }
        }
    }
    return outcome;
}

ObjectDetector::ObjectDetector(const ObjectSettings& settings, cv::Size videoSize, double fps)
    : model(workingSize(videoSize), fps), judge(settings, videoSize) {}

const ObjectOutcome& ObjectDetector::step(const cv::Mat& grey, long long timeMs,
                                          const cv::Mat& watched, const cv::Mat& standing) {
    scene = &model.look(grey, timeMs, watched);
    return judge.judge(*scene, timeMs, standing);
}

ObjectsPreview previewObjects(const std::vector<cv::Mat>& greys, cv::Size videoSize, double fps,
                              const ObjectSettings& settings, const cv::Mat& watched,
                              const cv::Mat& standing) {
    ObjectDetector detector(settings, videoSize, fps);
    const double frameMs = 1000.0 / (usableFrameRate(fps) ? fps : 25.0);
    ObjectsPreview preview;
    for (std::size_t i = 0; i < greys.size(); ++i) {
        preview.boxes =
            detector
                .step(greys[i], std::llround(static_cast<double>(i) * frameMs), watched, standing)
                .boxes;
    }
    detector.foreground().copyTo(preview.foreground);
    return preview;
}

}  // namespace pelmora
