#include "VideoJob.h"

#include <sys/stat.h>

#include <utility>

namespace pelmora {

VideoJob::VideoJob(std::string videoPath, std::string outputDir)
    : videoPath(std::move(videoPath)), outputDir(std::move(outputDir)) {}

bool VideoJob::open() {
    // FFmpeg reads every common container and codec. Letting the library try its other
    // backends in turn only adds their complaints about a file that does not open.
    capture.open(videoPath, cv::CAP_FFMPEG);
    return capture.isOpened();
}

void VideoJob::prepareOutputDirectory() {
    const std::string::size_type dot = videoPath.rfind('.');
    if (!outputDir.empty()) {
        return;
    }
    outputDir = dot == std::string::npos ? videoPath : videoPath.substr(0, dot);
    // Usually it exists from an earlier run; any other failure shows up as lost snapshots.
    (void)::mkdir(outputDir.c_str(), 0777);
}

bool VideoJob::createWriter(cv::Size frameSize) {
    if (writerRequested && frameSize == writerSize) {
        return writer.isOpened();
    }
    writer.release();
    writerRequested = true;
    writerSize = frameSize;
    if (!writerFileName.empty()) {
        writer.open(writerFileName, cv::VideoWriter::fourcc('P', 'I', 'M', '1'), 30.0, frameSize,
                    true);
    }
    return writer.isOpened();
}

void VideoJob::releaseCapture() {
    capture.release();
}

void VideoJob::releaseWriter() {
    writer.release();
    writerRequested = false;
}

}  // namespace pelmora
