#include "GreyPicture.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <opencv2/imgproc.hpp>

namespace pelmora {

namespace {

// Whether the format keeps its brightness as a plane of one byte a pixel, first of its planes.
bool hasLumaPlane(int format) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    return desc != nullptr && (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) == 0 &&
           desc->nb_components >= 1 && desc->comp[0].plane == 0 && desc->comp[0].depth == 8 &&
           desc->comp[0].step == 1 && desc->comp[0].offset == 0;
}

}  // namespace

bool GreyPicture::make(const Picture& picture, cv::Size visible, int rotation, cv::Size size,
                       cv::Mat& grey) {
    const AVFrame& frame = *picture.frame;
    const bool turned = rotation % 180 != 0;
    const cv::Size target = turned ? cv::Size(size.height, size.width) : size;
    const cv::Size shown(std::min(visible.width, frame.width),
                         std::min(visible.height, frame.height));
    cv::Mat& into = rotation % 360 == 0 ? grey : unturned;
    if (hasLumaPlane(frame.format)) {
        const cv::Mat luma(shown, CV_8U, frame.data[0],
                           static_cast<std::size_t>(frame.linesize[0]));
        cv::resize(luma, into, target, 0, 0, cv::INTER_AREA);
    } else {
        cachedScaler(scaler, shown.width, shown.height, static_cast<AVPixelFormat>(frame.format),
                     target.width, target.height, AV_PIX_FMT_GRAY8, SWS_AREA);
        if (!scaler) {
            return false;
        }
        into.create(target, CV_8U);
        uint8_t* planes[4] = {into.data, nullptr, nullptr, nullptr};
        int steps[4] = {static_cast<int>(into.step), 0, 0, 0};
        sws_scale(scaler.get(), frame.data, frame.linesize, 0, shown.height, planes, steps);
    }
    switch ((rotation % 360 + 360) % 360) {
        case 90:
            cv::rotate(unturned, grey, cv::ROTATE_90_CLOCKWISE);
            break;
        case 180:
            cv::rotate(unturned, grey, cv::ROTATE_180);
            break;
        case 270:
            cv::rotate(unturned, grey, cv::ROTATE_90_COUNTERCLOCKWISE);
            break;
        default:
            break;
    }
    return true;
}

}  // namespace pelmora
