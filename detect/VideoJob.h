#pragma once

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>
#include <string>

namespace pelmora {

// One run's video: its path, the directory that receives the snapshots, the capture that
// reads the frames and the writer a detailed run asks for. A job serves exactly one run.
class VideoJob {
public:
    VideoJob(std::string videoPath, std::string outputDir);

    bool open();

    // Settles where the snapshots go before anything is decoded: the destination given, or,
    // when none is, the video's file name up to its last '.' beside it ("NAME-snapshots" for a
    // name without one). Creates it with its parents and makes sure a file can be created in
    // it. Returns why it cannot hold snapshots, in the system's words, or nothing.
    std::string prepareOutputDirectory();

    // The snapshot folder derived from a video's path, as above.
    static std::string derivedDirectory(const std::string& videoPath);

    // Asks for a writer of the given frame size. A request for the size already asked for
    // keeps the writer there is; a new size releases it before opening the next, so no writer
    // is ever dropped open. Returns whether a writer is open.
    bool createWriter(cv::Size frameSize);

    std::string getVideoPath() const { return videoPath; }
    std::string getOutputDir() const { return outputDir; }
    cv::VideoCapture& getCapture() { return capture; }
    bool writerOpen() const { return writer.isOpened(); }

    void releaseCapture();
    void releaseWriter();

private:
    std::string videoPath;
    std::string outputDir;
    cv::VideoCapture capture;
    // No run names the recording, and the library cannot open a writer without a name, so
    // the writer only ever opens once something sets this.
    std::string writerFileName;
    cv::VideoWriter writer;
    cv::Size writerSize;
    bool writerRequested = false;
};

}  // namespace pelmora
