#pragma once

#include <string>

#include "VideoSource.h"

namespace pelmora {

// One run's video: its path, the directory that receives the snapshots and the source that
// reads the frames. A job serves exactly one run.
class VideoJob {
public:
    VideoJob(std::string videoPath, std::string outputDir);

    // Why the video does not open, in FFmpeg's words; empty when it does. The decoder runs on
    // decoderThreads threads; 0: as many as the machine has.
    std::string open(int decoderThreads = 0);

    // Settles where the snapshots go before anything is decoded: the destination given, or,
    // when none is, the video's file name up to its last '.' beside it ("NAME-snapshots" for a
    // name without one). Creates it with its parents and makes sure a file can be created in
    // it. Returns why it cannot hold snapshots, in the system's words, or nothing.
    std::string prepareOutputDirectory();

    // The snapshot folder derived from a video's path, as above.
    static std::string derivedDirectory(const std::string& videoPath);
    // Where a run of videoPath into outputDir (empty: none given) puts its snapshots.
    static std::string snapshotFolder(const std::string& videoPath, const std::string& outputDir);

    // The window takes only paths whose last three characters are "avi" in any case (no dot
    // needed), as the video chooser lists them.
    static bool isAcceptedVideoPath(const std::string& videoPath);

    std::string getVideoPath() const { return videoPath; }
    std::string getOutputDir() const { return outputDir; }
    VideoSource& getSource() { return source; }

    void releaseSource();

private:
    std::string videoPath;
    std::string outputDir;
    VideoSource source;
};

}  // namespace pelmora
