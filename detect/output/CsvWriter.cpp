#include "CsvWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "FileOutput.h"

namespace pelmora {

CsvWriter::~CsvWriter() {
    close();
}

void CsvWriter::close() {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

std::string CsvWriter::open(const std::string& path, const std::vector<std::string>& header) {
    close();
    failure.clear();
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        failure = systemError(errno);
        return failure;
    }
    complete = 0;
    writeRow(header);
    return failure;
}

bool CsvWriter::writeRow(const std::vector<std::string>& fields) {
    if (fd < 0) {
        return false;
    }
    const std::string line = record(fields);
    int error = 0;
    if (!writeAll(fd, line.data(), line.size(), error)) {
        failure = systemError(error);
        // A full disk can take the first bytes of a row before it refuses the rest; what
        // stays must be rows a reader can trust, so those bytes go again.
        while (::ftruncate(fd, complete) != 0 && errno == EINTR) {
        }
        close();
        return false;
    }
    complete += static_cast<off_t>(line.size());
    return true;
}

std::string CsvWriter::record(const std::vector<std::string>& fields) {
    std::string text;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            text += ',';
        }
        const std::string& field = fields[i];
        if (field.find_first_of(",\"\r\n") == std::string::npos) {
            text += field;
            continue;
        }
        text += '"';
        for (const char c : field) {
            text += c;
            if (c == '"') {
                text += '"';
            }
        }
        text += '"';
    }
    return text + "\r\n";
}

}  // namespace pelmora
