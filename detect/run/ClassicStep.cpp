#include "ClassicStep.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <stdexcept>

#include "PictureRows.h"
#include "StatusLine.h"

namespace pelmora {

// Whether the picture can be compared row by row in its own pixel format, converting only the
// rows that may hold a change: against the picture the reference was made from, of the same
// size and format, the reference image being that picture's whole conversion. A view shows
// whole frames, so it has them converted whole.
bool ClassicStep::convertsByRows(const Picture& picture) {
    const AVFrame* before = referencePicture.get();
    const AVFrame& now = *picture.frame;
    return request.view == nullptr && request.threshold >= 0 && before != nullptr &&
           before->format == now.format && before->width == now.width &&
           before->height == now.height &&
           detector.reference().size() == converter.imageSize(picture) &&
           converter.convertsRows(picture);
}

StepOutcome ClassicStep::step(const StepFrame& frame, cv::Mat& image) {
    const Picture& picture = frame.picture;
    const bool byRows = convertsByRows(picture);
    if (byRows) {
        converter.fitImage(picture, image);
    } else if (!converter.convert(picture, image)) {
        // Skipping the picture would measure the video by the frames around it, and a video of
        // such pictures only would pass for one without motion.
        throw std::runtime_error(PictureConverter::refusal(picture));
    }
    StepOutcome outcome;
    if (byRows) {
        PictureRows rows(converter, picture, *referencePicture, image, request.threshold);
        outcome.changedPixels = detector.measure(image, request.threshold, &rows);
    } else {
        outcome.changedPixels = detector.measure(image, request.threshold);
    }
    outcome.againstBlack = detector.measuredAgainstBlack();
    // Formatted only where it is drawn, not for every frame.
    const auto status = [&] {
        return statusLine(frame.time.seconds, outcome.changedPixels, request.threshold);
    };
    if (request.view != nullptr) {
        cv::Mat& mask = detector.changeMask(image, request.threshold);
        drawMaskStatus(mask, status());
        request.view->showFrame(image, mask);
    }
    if (detector.triggers(outcome.changedPixels)) {
        // A saved frame, and the reference it becomes, are whole and carry no line.
        if (byRows) {
            converter.convert(picture, image);
        }
        referencePicture.reset(av_frame_clone(picture.frame.get()));
        detector.takeAsReference(image);
        drawSnapshotStatus(image, status());
        outcome.snapshot = true;
    }
    return outcome;
}

}  // namespace pelmora
