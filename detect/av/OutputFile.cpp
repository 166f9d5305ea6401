#include "OutputFile.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "AvError.h"
#include "FolderNames.h"
#include "SystemError.h"

namespace pelmora {

OutputFile::~OutputFile() {
    close();
}

void OutputFile::close() {
    output.reset();
    if (!finished && !writtenPath.empty() && writtenPath != finalPath) {
        ::unlink(writtenPath.c_str());
    }
    writtenPath.clear();
}

std::string OutputFile::open(const char* formatName, const std::string& path, Placing placing) {
    close();
    finished = false;
    storageFailed = false;
    finalPath = path;
    writtenPath = placing == Placing::underTemporaryName ? temporaryPath(path) : path;
    AVFormatContext* made = nullptr;
    const int result = avformat_alloc_output_context2(&made, nullptr, formatName,
                                                      localFileUrl(writtenPath).c_str());
    if (result < 0) {
        return avErrorText(result);
    }
    output.reset(made);
    // A file is the same bytes whenever it is written, so that a resumed or joined run can be
    // checked against one that ran through.
    output->flags |= AVFMT_FLAG_BITEXACT;
    return std::string();
}

std::string OutputFile::writeHeader(bool fastStart) {
    int result = avio_open(&output->pb, localFileUrl(writtenPath).c_str(), AVIO_FLAG_WRITE);
    if (result < 0) {
        storageFailed = true;
        return avErrorText(result);
    }
    AVDictionary* options = nullptr;
    if (fastStart) {
        av_dict_set(&options, "movflags", "+faststart", 0);
    }
    result = avformat_write_header(output.get(), &options);
    av_dict_free(&options);
    return result < 0 ? avErrorText(result) : std::string();
}

std::string OutputFile::write(AVPacket* packet) {
    const int result = av_interleaved_write_frame(output.get(), packet);
    return result < 0 ? avErrorText(result) : std::string();
}

std::string OutputFile::finish() {
    int result = av_write_trailer(output.get());
    if (output->pb->error < 0) {
        storageFailed = true;
        if (result >= 0) {
            result = output->pb->error;
        }
    }
    const int closed = avio_closep(&output->pb);
    if (closed < 0) {
        storageFailed = true;
    }
    if (result >= 0) {
        result = closed;
    }
    if (result < 0) {
        return avErrorText(result);
    }
    if (writtenPath != finalPath && ::rename(writtenPath.c_str(), finalPath.c_str()) != 0) {
        storageFailed = true;
        return systemError(errno);
    }
    finished = true;
    return std::string();
}

}  // namespace pelmora
