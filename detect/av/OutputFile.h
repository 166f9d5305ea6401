#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

#include <string>

#include "AvOwners.h"

namespace pelmora {

// Whether a file is written at its own name, by a caller that places it itself, or under a
// temporary name beside it, renamed to its own once complete.
enum class Placing { asNamed, underTemporaryName };

// One container file being written: made, its streams added by the caller, its header, its
// packets, its trailer. What failed is told apart: the file itself (a full disk, a folder
// missing), which no other way of writing would mend, or what went into it. A file under a
// temporary name that is never finished is removed with its writer.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Makes the container (formatName as FFmpeg names it) for the file at path; nothing is
    // written before writeHeader. Returns why it cannot be made, or nothing.
    std::string open(const char* formatName, const std::string& path, Placing placing);
    AVFormatContext* container() const { return output.get(); }
    // A new stream of the file; null when there is no memory for one.
    AVStream* addStream() { return avformat_new_stream(output.get(), nullptr); }
    // Whether the container wants codecs' set-up in its header rather than in the stream.
    bool wantsGlobalHeader() const { return (output->oformat->flags & AVFMT_GLOBALHEADER) != 0; }

    // Opens the file and writes the header. fastStart puts MP4's index at the front, so that a
    // player can start before the whole file has come.
    std::string writeHeader(bool fastStart = false);
    // One packet, already in its stream's time base.
    std::string write(AVPacket* packet);
    // The trailer, the file closed, and renamed into place where it was written under a
    // temporary name.
    std::string finish();

    // Frees the container; a file under a temporary name not finished is removed.
    void close();

    bool fileFailed() const {
        return storageFailed || (output && output->pb != nullptr && output->pb->error < 0);
    }

private:
    Output output;
    std::string finalPath;
    std::string writtenPath;
    bool finished = false;
    bool storageFailed = false;
};

}  // namespace pelmora
