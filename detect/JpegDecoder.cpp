#include "JpegDecoder.h"

#include <memory>

#include "JpegErrors.h"

namespace pelmora {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

bool looksLikeJpeg(const std::string& path) {
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    unsigned char start[3] = {0, 0, 0};
    return file != nullptr && std::fread(start, 1, 3, file.get()) == 3 && start[0] == 0xFF &&
           start[1] == 0xD8 && start[2] == 0xFF;
}

bool readJpegGrey(const std::string& path, cv::Mat& grey, std::string& error) {
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (file == nullptr) {
        error = "cannot be opened";
        return false;
    }
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    info.err = jumpingErrors(errors);
    // The picture lives outside this frame: a local changed after setjmp has no defined value
    // after the jump back.
    const auto image = std::make_unique<cv::Mat>();
    if (setjmp(errors.back) != 0) {
        jpeg_destroy_decompress(&info);
        error = errors.message;
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file.get());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_GRAYSCALE;
    jpeg_start_decompress(&info);
    image->create(static_cast<int>(info.output_height), static_cast<int>(info.output_width),
                  CV_8UC1);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image->ptr<uchar>(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    grey = *image;
    return true;
}

}  // namespace pelmora
