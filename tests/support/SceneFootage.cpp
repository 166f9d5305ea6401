#include "SceneFootage.h"

#include <cmath>
#include <cstdio>
#include <opencv2/imgproc.hpp>

namespace testsupport {

namespace {

constexpr double kPi = 3.14159265358979323846;

// The scene without anything that changes: soft ground, a few shapes of other colours, and a
// fine texture everywhere, as real surfaces have.
cv::Mat stillScene(const SceneRecipe& recipe) {
    const cv::Size size = recipe.size;
    cv::Mat scene(size, CV_8UC3);
    for (int y = 0; y < size.height; ++y) {
        for (int x = 0; x < size.width; ++x) {
            const double sky = static_cast<double>(y) / size.height;
            scene.at<cv::Vec3b>(y, x) =
                cv::Vec3b(static_cast<uchar>(110 + 40 * sky), static_cast<uchar>(120 + 30 * sky),
                          static_cast<uchar>(115 + 20 * (1.0 - sky)));
        }
    }
    cv::RNG rng(recipe.seed * 7919U + 17U);
    for (int i = 0; i < 14; ++i) {
        const cv::Point corner(rng.uniform(0, size.width), rng.uniform(0, size.height));
        const cv::Size shape(rng.uniform(size.width / 12, size.width / 4),
                             rng.uniform(size.height / 12, size.height / 4));
        const cv::Scalar colour(rng.uniform(50, 200), rng.uniform(50, 200), rng.uniform(50, 200));
        if (i % 2 == 0) {
            cv::rectangle(scene, cv::Rect(corner, shape), colour, cv::FILLED);
        } else {
            cv::ellipse(scene, corner, shape / 2, rng.uniform(0, 180), 0, 360, colour, cv::FILLED);
        }
    }
    cv::Mat texture(size, CV_16SC3);
    rng.fill(texture, cv::RNG::NORMAL, 0, 9);
    cv::Mat textured;
    scene.convertTo(textured, CV_16SC3);
    textured += texture;
    textured.convertTo(scene, CV_8UC3);
    return scene;
}

// The patch of leaves of the Sway kind: the top left quarter, small blobs of greens.
cv::Rect leavesPatch(const SceneRecipe& recipe) {
    return {recipe.size.width / 16, recipe.size.height / 10, recipe.size.width / 3,
            recipe.size.height / 3};
}

cv::Mat leaves(const SceneRecipe& recipe) {
    const cv::Rect patch = leavesPatch(recipe);
    cv::Mat foliage(patch.size(), CV_8UC3, cv::Scalar(40, 90, 50));
    cv::RNG rng(recipe.seed * 104729U + 3U);
    const int blobs = patch.area() / 30;
    for (int i = 0; i < blobs; ++i) {
        const cv::Point centre(rng.uniform(0, patch.width), rng.uniform(0, patch.height));
        const int radius = rng.uniform(1, std::max(2, patch.width / 30));
        cv::circle(foliage, centre, radius,
                   cv::Scalar(rng.uniform(20, 90), rng.uniform(80, 200), rng.uniform(20, 100)),
                   cv::FILLED);
    }
    return foliage;
}

// Where the camera stands, as a shift of the picture, at frame index.
cv::Point2d shakeAt(const SceneRecipe& recipe, long long index) {
    for (const auto& [first, last] : sceneShakes(recipe)) {
        if (index >= first && index <= last) {
            const double t = static_cast<double>(index) / recipe.fps;
            const double amplitude = 3.0 * recipe.size.width / 320.0;
            return {amplitude * std::sin(2 * kPi * 6 * t), amplitude * std::cos(2 * kPi * 5 * t)};
        }
    }
    return {0.0, 0.0};
}

void drawObjects(const SceneRecipe& recipe, double t, cv::Mat& frame) {
    for (std::size_t i = 0; i < recipe.objects.size(); ++i) {
        const SceneObject& object = recipe.objects[i];
        if (t < object.startS || t > object.endS) {
            continue;
        }
        const double along =
            object.endS > object.startS ? (t - object.startS) / (object.endS - object.startS) : 0.0;
        const cv::Point corner(
            static_cast<int>(std::lround(object.from.x + along * (object.to.x - object.from.x))),
            static_cast<int>(std::lround(object.from.y + along * (object.to.y - object.from.y))));
        const cv::Rect body(corner, object.size);
        // Clothes of two colours and a head, so that the object has texture of its own.
        const cv::Scalar coat = i % 2 == 0 ? cv::Scalar(40, 40, 170) : cv::Scalar(170, 60, 30);
        const cv::Rect top(body.x, body.y + body.height / 5, body.width, body.height * 2 / 5);
        const cv::Rect legs(body.x, body.y + body.height * 3 / 5, body.width,
                            body.height - body.height * 3 / 5);
        const cv::Rect head(body.x + body.width / 4, body.y, std::max(1, body.width / 2),
                            std::max(1, body.height / 5));
        cv::rectangle(frame, top, coat, cv::FILLED);
        cv::rectangle(frame, legs, cv::Scalar(60, 50, 40), cv::FILLED);
        cv::rectangle(frame, head, cv::Scalar(120, 150, 200), cv::FILLED);
    }
}

}  // namespace

const char* distractorName(Distractor kind) {
    switch (kind) {
        case Distractor::None:
            return "still";
        case Distractor::LightRamp:
            return "light-ramp";
        case Distractor::LightSwitch:
            return "light-switch";
        case Distractor::ColourToGrey:
            return "colour-to-grey";
        case Distractor::CloudShadow:
            return "cloud-shadow";
        case Distractor::Rain:
            return "rain";
        case Distractor::Night:
            return "night";
        case Distractor::Shake:
            return "shake";
        case Distractor::LowBitrate:
            return "low-bitrate";
        case Distractor::Sway:
            return "sway";
    }
    return "unknown";
}

std::vector<SceneMoment> sceneMoments(const SceneRecipe& recipe) {
    std::vector<SceneMoment> moments;
    for (const SceneObject& object : recipe.objects) {
        moments.push_back(
            {std::llround(object.startS * 1000.0), std::llround(object.endS * 1000.0)});
    }
    return moments;
}

long long sceneChangeMs(const SceneRecipe& recipe) {
    return recipe.kind == Distractor::LightSwitch || recipe.kind == Distractor::ColourToGrey
               ? std::llround(recipe.seconds * 0.45 * 1000.0)
               : -1;
}

std::vector<std::pair<long long, long long>> sceneShakes(const SceneRecipe& recipe) {
    std::vector<std::pair<long long, long long>> shakes;
    if (recipe.kind != Distractor::Shake) {
        return shakes;
    }
    for (const double at : {0.2, 0.5, 0.8}) {
        const long long first = std::llround(recipe.seconds * at * recipe.fps);
        shakes.emplace_back(first, first + std::llround(recipe.fps) - 1);
    }
    return shakes;
}

SceneObject crossing(const SceneRecipe& recipe, double startS, double endS, cv::Size size) {
    const double y = recipe.size.height / 2.0 - size.height / 2.0;
    return {startS, endS, size, {-size.width / 2.0, y}, {recipe.size.width - size.width / 2.0, y}};
}

cv::Mat sceneFrame(const SceneRecipe& recipe, long long index) {
    static thread_local SceneRecipe cachedSpec;
    static thread_local cv::Mat cachedScene;
    static thread_local cv::Mat cachedLeaves;
    if (cachedScene.empty() || cachedSpec.size != recipe.size || cachedSpec.seed != recipe.seed) {
        cachedSpec = recipe;
        cachedScene = stillScene(recipe);
        cachedLeaves = leaves(recipe);
    }
    const double t = static_cast<double>(index) / recipe.fps;
    cv::Mat frame = cachedScene.clone();
    if (recipe.kind == Distractor::Sway) {
        // Each row of leaves sways to and fro by a few pixels, a little later than the one above.
        const cv::Rect patch = leavesPatch(recipe);
        cv::Mat mapX(patch.size(), CV_32F);
        cv::Mat mapY(patch.size(), CV_32F);
        const double amplitude = 4.0 * recipe.size.width / 320.0;
        for (int y = 0; y < patch.height; ++y) {
            const double shift = amplitude * std::sin(2 * kPi * 0.7 * t + y / 12.0);
            for (int x = 0; x < patch.width; ++x) {
                mapX.at<float>(y, x) = static_cast<float>(x + shift);
                mapY.at<float>(y, x) = static_cast<float>(y);
            }
        }
        cv::remap(cachedLeaves, frame(patch), mapX, mapY, cv::INTER_LINEAR, cv::BORDER_REFLECT);
    }
    drawObjects(recipe, t, frame);

    cv::Mat light;
    frame.convertTo(light, CV_32FC3);
    const long long changeMs = sceneChangeMs(recipe);
    const bool changed = changeMs >= 0 && t * 1000.0 >= static_cast<double>(changeMs);
    switch (recipe.kind) {
        case Distractor::LightRamp:
            light *= 1.0 - 0.4 * std::sin(kPi * t / recipe.seconds);
            break;
        case Distractor::LightSwitch:
            if (changed) {
                light *= 1.5;
            }
            break;
        case Distractor::ColourToGrey:
            if (changed) {
                cv::Mat grey;
                cv::cvtColor(light, grey, cv::COLOR_BGR2GRAY);
                grey = grey * 1.25 + 10.0;
                cv::cvtColor(grey, light, cv::COLOR_GRAY2BGR);
            }
            break;
        case Distractor::CloudShadow: {
            const double cx = (-0.3 + 1.6 * t / recipe.seconds) * recipe.size.width;
            const double sx = 0.25 * recipe.size.width;
            const double sy = 0.6 * recipe.size.height;
            for (int y = 0; y < light.rows; ++y) {
                auto* row = light.ptr<cv::Vec3f>(y);
                const double dy = (y - 0.5 * recipe.size.height) / sy;
                for (int x = 0; x < light.cols; ++x) {
                    const double dx = (x - cx) / sx;
                    row[x] *= static_cast<float>(1.0 - 0.33 * std::exp(-(dx * dx + dy * dy) / 2));
                }
            }
            break;
        }
        case Distractor::Night:
            light *= 0.3;
            break;
        default:
            break;
    }
    cv::RNG rng(static_cast<std::uint64_t>(recipe.seed) * 1000003ULL +
                static_cast<std::uint64_t>(index));
    if (recipe.kind == Distractor::Rain) {
        // Streaks brighten what is behind them: added, not painted over.
        cv::Mat drops(light.size(), CV_32FC3, cv::Scalar::all(0));
        const int streaks = recipe.size.area() / 250;
        for (int i = 0; i < streaks; ++i) {
            const cv::Point top(rng.uniform(0, recipe.size.width),
                                rng.uniform(0, recipe.size.height));
            const int length =
                rng.uniform(recipe.size.height / 25 + 2, recipe.size.height / 14 + 3);
            cv::line(drops, top, top + cv::Point(length / 4, length), cv::Scalar::all(70), 1,
                     cv::LINE_AA);
        }
        light += drops;
    }
    cv::Mat noise(light.size(), CV_32FC3);
    rng.fill(noise, cv::RNG::NORMAL, 0, recipe.kind == Distractor::Night ? 10 : 3);
    light += noise;
    cv::Mat out;
    light.convertTo(out, CV_8UC3);
    const cv::Point2d shift = shakeAt(recipe, index);
    if (shift.x != 0.0 || shift.y != 0.0) {
        const cv::Mat move = (cv::Mat_<double>(2, 3) << 1, 0, shift.x, 0, 1, shift.y);
        cv::Mat moved;
        cv::warpAffine(out, moved, move, out.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
        out = moved;
    }
    return out;
}

std::string writeScene(const SceneRecipe& recipe, const std::string& path) {
    const std::string codec = recipe.kind == Distractor::LowBitrate
                                  ? "-c:v libx264 -preset veryfast -crf 40 -pix_fmt yuv420p "
                                    "-x264-params keyint=50:min-keyint=50:scenecut=0"
                                  : "-c:v ffv1";
    const std::string command =
        "ffmpeg -nostdin -loglevel error -y -f rawvideo -pix_fmt bgr24 -s " +
        std::to_string(recipe.size.width) + "x" + std::to_string(recipe.size.height) +
        " -framerate " + std::to_string(recipe.fps) + " -i - " + codec + " '" + path + "'";
    FILE* pipe = ::popen(command.c_str(), "w");
    if (pipe == nullptr) {
        return "cannot run " + command;
    }
    const long long frames = std::llround(recipe.seconds * recipe.fps);
    for (long long i = 0; i < frames; ++i) {
        const cv::Mat frame = sceneFrame(recipe, i);
        std::fwrite(frame.data, 1, frame.total() * frame.elemSize(), pipe);
    }
    const int status = ::pclose(pipe);
    return status == 0 ? std::string() : command + " failed with status " + std::to_string(status);
}

}  // namespace testsupport
