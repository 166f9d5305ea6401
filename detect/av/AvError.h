#pragma once

#include <string>

namespace pelmora {

// FFmpeg's words for one of its error codes.
std::string avErrorText(int error);

// The name FFmpeg is given for a local file, to read or to write: always by its file protocol,
// so that a name with a colon in it ("cam1:0800.mkv") is the file it names, never taken for a
// protocol, and a list of files can never reach pipe:, concat: or http:.
std::string localFileUrl(const std::string& path);

}  // namespace pelmora
