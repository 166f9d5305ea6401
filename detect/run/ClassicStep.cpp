#include "ClassicStep.h"

extern "C" {
#include <libavutil/frame.h>
}

#include "ComparedImage.h"
#include "PictureRows.h"
#include "StatusLine.h"

namespace pelmora {

// Whether the picture may be compared row by row in its own pixel format, converting only the
// rows that may hold a change: against the picture the reference was made from, the reference
// image being that picture's whole conversion. A view shows whole frames, so it has them
// converted whole.
bool ClassicStep::allowsRows(const Picture& picture) const {
    return request.view == nullptr && request.threshold >= 0 &&
           sharesLayout(referencePicture.get(), *picture.frame) &&
           detector.reference().size() == converter.imageSize(picture);
}

StepOutcome ClassicStep::step(const StepFrame& frame, cv::Mat& image) {
    const Picture& picture = frame.picture;
    const bool byRows = readyForComparing(converter, picture, allowsRows(picture), image);
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
