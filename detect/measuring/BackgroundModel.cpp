#include "BackgroundModel.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace pelmora {

namespace {

// A pixel counts as changed when it is off what the model expects by more than this many grey
// levels, and by more than kDeviations of its own deviation: the floor keeps a still wall's
// sensor noise out, the deviations keep leaves and water out.
constexpr float kFloor = 8.0F;
constexpr float kDeviations = 3.0F;
// A pixel's deviation never falls below this, nor starts higher than the second.
constexpr float kLeastDeviation = 1.0F;
constexpr float kFirstDeviation = 4.0F;
// Where a pixel is foreground, it learns this many times more slowly: an object that stops is
// taken into the scene over tens of seconds, one that passes leaves no trace.
constexpr double kForegroundSlowdown = 20.0;
// The patches light is explained in: this many pixels of the model across, and the
// neighbourhood of patches whose middle gain stands for each.
constexpr int kPatch = 16;
constexpr int kNeighbourhood = 7;
// Phase correlation works on the picture shrunk by this much: shake moves the whole picture,
// and a small one is found as well, far sooner.
constexpr int kShiftScale = 2;
// A shift smaller than this (in the model's pixels) is no shake worth undoing: the noise of a
// dark scene moves the correlation's peak by half as much.
constexpr double kLeastShift = 0.75;

}  // namespace

void BackgroundModel::reset(const cv::Mat& grey, double learnRate, bool keepDeviations) {
    rate = learnRate;
    grey.convertTo(picture, CV_32F);
    cv::blur(picture, mean, cv::Size(3, 3));
    if (!keepDeviations || deviation.size() != mean.size()) {
        deviation.create(mean.size(), CV_32F);
        deviation.setTo(kFirstDeviation);
    }
    gain.create(mean.size(), CV_32F);
    gain.setTo(1.0F);
    mask.create(mean.size(), CV_8U);
    mask.setTo(0);
    background.create(mean.size(), CV_32F);
    background.setTo(1.0F);
    // Sizes the transform takes whole and even: at an odd or padded size the library's phase
    // correlation finds half a pixel of shift between a picture and itself.
    const auto even = [](int size) {
        int dft = cv::getOptimalDFTSize(std::max(8, size));
        while (dft % 2 != 0) {
            dft = cv::getOptimalDFTSize(dft + 1);
        }
        return dft;
    };
    const cv::Size small(even(mean.cols / kShiftScale), even(mean.rows / kShiftScale));
    cv::createHanningWindow(window, small, CV_32F);
}

cv::Point2d BackgroundModel::shiftOf(const cv::Mat& frame) {
    const cv::Size small = window.size();
    cv::resize(frame, work, small, 0, 0, cv::INTER_AREA);
    cv::resize(mean, smallMean, small, 0, 0, cv::INTER_AREA);
    double response = 0.0;
    // Both are scratch: the library may weigh them by the window in place.
    const cv::Point2d found = cv::phaseCorrelate(smallMean, work, window, &response);
    // A weak peak is no shift: a scene of little texture, or an object that fills it.
    if (response < 0.1 || !std::isfinite(found.x) || !std::isfinite(found.y) ||
        std::hypot(found.x * kShiftScale, found.y * kShiftScale) < kLeastShift) {
        return {0.0, 0.0};
    }
    // Nor is one that undoing leaves the picture as far from the model as before: leaves
    // swaying together, a large object moving.
    cv::resize(frame, work, small, 0, 0, cv::INTER_AREA);
    cv::resize(mean, smallMean, small, 0, 0, cv::INTER_AREA);
    const cv::Mat back = (cv::Mat_<double>(2, 3) << 1, 0, -found.x, 0, 1, -found.y);
    cv::warpAffine(work, smallWeight, back, small, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    const cv::Rect inner(small.width / 8, small.height / 8, small.width * 3 / 4,
                         small.height * 3 / 4);
    const double as = cv::norm(work(inner), smallMean(inner), cv::NORM_L1);
    const double undone = cv::norm(smallWeight(inner), smallMean(inner), cv::NORM_L1);
    if (undone > 0.8 * as) {
        return {0.0, 0.0};
    }
    return {found.x * frame.cols / small.width, found.y * frame.rows / small.height};
}

void BackgroundModel::gainMap(const cv::Mat& frame, double& middle) {
    // Each patch's gain from the pixels that were background a frame ago: an object there
    // would otherwise pass for light.
    const cv::Size patches(std::max(1, frame.cols / kPatch), std::max(1, frame.rows / kPatch));
    cv::multiply(frame, background, work);
    cv::resize(work, small, patches, 0, 0, cv::INTER_AREA);
    cv::multiply(mean, background, work);
    cv::resize(work, smallMean, patches, 0, 0, cv::INTER_AREA);
    cv::resize(background, smallWeight, patches, 0, 0, cv::INTER_AREA);
    std::vector<float> gains;
    gains.reserve(static_cast<std::size_t>(patches.area()));
    for (int y = 0; y < patches.height; ++y) {
        float* ratio = small.ptr<float>(y);
        const float* model = smallMean.ptr<float>(y);
        const float* weight = smallWeight.ptr<float>(y);
        for (int x = 0; x < patches.width; ++x) {
            // A patch that is mostly foreground, or black, says nothing of the light.
            ratio[x] = weight[x] > 0.25F && model[x] > 2.0F
                           ? std::clamp(ratio[x] / model[x], 0.25F, 4.0F)
                           : -1.0F;
            if (ratio[x] > 0.0F) {
                gains.push_back(ratio[x]);
            }
        }
    }
    if (gains.empty()) {
        middle = 1.0;
        gain.setTo(1.0F);
        return;
    }
    std::nth_element(gains.begin(), gains.begin() + static_cast<long>(gains.size() / 2),
                     gains.end());
    middle = gains[gains.size() / 2];
    small.setTo(static_cast<float>(middle), small < 0.0F);
    // Light changes smoothly across the picture; an object does not. The middle gain of each
    // patch's neighbours stands for it, so that an object of a few patches, which a patch's
    // own gain would explain away, is left as it is, while a shadow many patches wide is
    // explained. The gains are compared as logarithms, on a byte's scale.
    small.forEach<float>([](float& g, const int*) { g = 128.0F + 32.0F * std::log2(g); });
    small.convertTo(smallWeight, CV_8U);
    cv::medianBlur(smallWeight, smallWeight, kNeighbourhood);
    smallWeight.convertTo(small, CV_32F);
    small.forEach<float>([](float& v, const int*) { v = std::exp2((v - 128.0F) / 32.0F); });
    cv::blur(small, small, cv::Size(3, 3), cv::Point(-1, -1), cv::BORDER_REPLICATE);
    cv::resize(small, gain, frame.size(), 0, 0, cv::INTER_LINEAR);
}

const cv::Mat& BackgroundModel::compare(const cv::Mat& grey, const cv::Mat& watched, Look& look) {
    grey.convertTo(work, CV_32F);
    // The sensor's noise, smoothed away pixel by pixel: what moves is larger than a pixel.
    cv::blur(work, picture, cv::Size(3, 3));
    look.shift = shiftOf(picture);
    const cv::Mat* aligned = &picture;
    if (std::hypot(look.shift.x, look.shift.y) >= kLeastShift) {
        const cv::Mat back = (cv::Mat_<double>(2, 3) << 1, 0, -look.shift.x, 0, 1, -look.shift.y);
        cv::warpAffine(picture, shifted, back, picture.size(), cv::INTER_LINEAR,
                       cv::BORDER_REPLICATE);
        aligned = &shifted;
    } else {
        look.shift = {0.0, 0.0};
    }
    gainMap(*aligned, look.gain);
    cv::multiply(gain, mean, expected);
    cv::absdiff(*aligned, expected, residual);
    cv::multiply(deviation, gain, limit, kDeviations);
    cv::max(limit, kFloor, limit);
    cv::compare(residual, limit, changed, cv::CMP_GT);
    if (!watched.empty()) {
        cv::bitwise_and(changed, watched, changed);
    }
    // What changes in this frame and the one before: an object overlaps itself from frame to
    // frame, rain and speckle fall somewhere new each time.
    if (before.size() != changed.size()) {
        changed.copyTo(before);
    }
    cv::bitwise_and(changed, before, mask);
    // Specks and lines a pixel wide are no object.
    cv::morphologyEx(mask, mask, cv::MORPH_OPEN, cv::Mat());
    look.foregroundShare = static_cast<double>(cv::countNonZero(changed)) / changed.total();

    // Learn: where the picture is background (with a margin round what is not), at the rate;
    // elsewhere far more slowly.
    cv::dilate(changed, work, cv::Mat());
    std::swap(changed, before);
    work.convertTo(background, CV_32F, -1.0 / 255.0, 1.0);
    const float fast = static_cast<float>(rate);
    const float slow = static_cast<float>(rate / kForegroundSlowdown);
    for (int y = 0; y < mean.rows; ++y) {
        float* m = mean.ptr<float>(y);
        float* d = deviation.ptr<float>(y);
        const float* p = aligned->ptr<float>(y);
        const float* r = residual.ptr<float>(y);
        const float* b = background.ptr<float>(y);
        for (int x = 0; x < mean.cols; ++x) {
            const float learn = b[x] > 0.5F ? fast : slow;
            m[x] += learn * (p[x] - m[x]);
            // How far a pixel strays when nothing passes; what passes raises it only a little.
            const float strayed = std::min(r[x], kDeviations * d[x] + 10.0F);
            d[x] = std::max(kLeastDeviation, d[x] + fast * (strayed - d[x]));
        }
    }
    return mask;
}

}  // namespace pelmora
