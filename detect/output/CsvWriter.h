#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace pelmora {

// A CSV file as RFC 4180 has it: a header row, then records of comma-separated fields, each
// ended by CRLF, a field in double quotes (its quotes doubled) when it holds a comma, a quote
// or a line break. Each row reaches the file as it is added, so a run that is stopped or killed
// leaves a file that ends with its last complete row; a row the file refuses half-way (a full
// disk) is cut off again, so a failed file also ends with its last complete row.
class CsvWriter {
public:
    CsvWriter() = default;
    ~CsvWriter();
    CsvWriter(const CsvWriter&) = delete;
    CsvWriter& operator=(const CsvWriter&) = delete;

    // Creates or empties the file and writes the header; returns why it cannot, or nothing.
    std::string open(const std::string& path, const std::vector<std::string>& header);
    bool isOpen() const { return fd >= 0; }

    // Appends a row; false, with the reason in error(), when the file refuses it. A file that
    // refused a row takes no more.
    bool writeRow(const std::vector<std::string>& fields);
    const std::string& error() const { return failure; }

    // One record with its CRLF.
    static std::string record(const std::vector<std::string>& fields);

private:
    void close();

    int fd = -1;
    off_t complete = 0;  // the size of the rows written whole
    std::string failure;
};

}  // namespace pelmora
