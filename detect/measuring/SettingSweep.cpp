#include "SettingSweep.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "ComparedImage.h"
#include "PictureRows.h"

namespace pelmora {

// A frame that some settings share as their reference.
struct SettingSweep::Reference {
    // The decoded picture the image was converted from, for comparing row by row; null for the
    // black a video starts from.
    Frame picture;
    cv::Mat image;
    std::vector<std::size_t> members;  // the settings, in their order
    int lowest = 0;                    // their smallest threshold
    int highest = 0;                   // and their largest

    void takeMembers(std::vector<std::size_t> settings, const std::vector<SweepSetting>& all) {
        members = std::move(settings);
        lowest = 255;
        highest = 0;
        for (const std::size_t setting : members) {
            lowest = std::min(lowest, all[setting].threshold);
            highest = std::max(highest, all[setting].threshold);
        }
    }
};

SettingSweep::SettingSweep(std::vector<SweepSetting> settings, WatchedRegion region)
    : all(std::move(settings)), watched(std::move(region)) {
    for (const SweepSetting& setting : all) {
        if (setting.threshold < 0 || setting.threshold > 254) {
            throw std::invalid_argument("a sweep's thresholds go from 0 to 254");
        }
    }
    frame.changedPixels.assign(all.size(), 0);
}

SettingSweep::~SettingSweep() = default;

std::size_t SettingSweep::references() const {
    return held.size();
}

const SweptFrame& SettingSweep::measure(PictureConverter& converter, const Picture& picture) {
    const cv::Size size = converter.imageSize(picture);
    frame.triggered.clear();
    // Every setting starts from black, and so does every one at a new frame size: the run of
    // each would compare this frame with black.
    frame.againstBlack = held.empty() || held.front().image.size() != size;
    if (frame.againstBlack) {
        held.clear();
        Reference& black = held.emplace_back();
        black.image = cv::Mat::zeros(size, CV_8UC3);
        std::vector<std::size_t> everyone(all.size());
        for (std::size_t i = 0; i < all.size(); ++i) {
            everyone[i] = i;
        }
        black.takeMembers(std::move(everyone), all);
        most = std::max(most, held.size());
    }
    const bool byRows = readyForComparing(converter, picture, allowsRows(picture), image);
    if (byRows) {
        madePairs.assign(static_cast<std::size_t>(image.rows + 1) / 2, false);
    }
    const cv::Mat& watchedBytes = watched.wholeFrame() ? cv::Mat() : watched.forFrames(size);
    for (Reference& reference : held) {
        compare(reference, converter, picture, byRows, watchedBytes);
    }
    if (!frame.triggered.empty()) {
        std::sort(frame.triggered.begin(), frame.triggered.end());
        // A saved frame, and the reference it becomes, are converted whole.
        if (byRows) {
            converter.convert(picture, image);
        }
        moveTriggered(picture);
    }
    return frame;
}

bool SettingSweep::allowsRows(const Picture& picture) const {
    for (const Reference& reference : held) {
        if (!sharesLayout(reference.picture.get(), *picture.frame)) {
            return false;
        }
    }
    return true;
}

void SettingSweep::compare(Reference& reference, PictureConverter& converter,
                           const Picture& picture, bool byRows, const cv::Mat& watchedBytes) {
    histogram.reset(reference.lowest, reference.highest - reference.lowest);
    if (byRows) {
        PictureRows rows(converter, picture, *reference.picture, image, reference.lowest,
                         &madePairs);
        counter.histogram(image, reference.image, histogram, watchedBytes, &rows);
    } else {
        counter.histogram(image, reference.image, histogram, watchedBytes);
    }
    for (const std::size_t setting : reference.members) {
        const int changed = static_cast<int>(histogram.busiestAt(all[setting].threshold));
        frame.changedPixels[setting] = changed;
        if (changed > all[setting].minPixels) {
            frame.triggered.push_back(setting);
        }
    }
}

void SettingSweep::moveTriggered(const Picture& picture) {
    const std::vector<std::size_t>& moving = frame.triggered;
    for (Reference& reference : held) {
        std::vector<std::size_t> staying;
        for (const std::size_t setting : reference.members) {
            if (!std::binary_search(moving.begin(), moving.end(), setting)) {
                staying.push_back(setting);
            }
        }
        if (staying.size() != reference.members.size()) {
            reference.takeMembers(std::move(staying), all);
        }
    }
    // A frame no setting refers to any longer is let go at once.
    held.erase(std::remove_if(held.begin(), held.end(),
                              [](const Reference& reference) { return reference.members.empty(); }),
               held.end());
    Reference& next = held.emplace_back();
    next.picture.reset(av_frame_clone(picture.frame.get()));
    next.image = image.clone();
    next.takeMembers(moving, all);
    most = std::max(most, held.size());
}

}  // namespace pelmora
