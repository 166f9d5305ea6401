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

namespace {

// The file decoded into colourSpace's channels; shrunk as readJpegColour says for a minWidth
// above 0, whole otherwise.
std::string readJpeg(const std::string& path, J_COLOR_SPACE colourSpace, int channels, int minWidth,
                     cv::Mat& out, cv::Size* whole = nullptr) {
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (file == nullptr) {
        return "cannot be opened";
    }
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    info.err = jumpingErrors(errors);
    // The picture lives outside this frame: a local changed after setjmp has no defined value
    // after the jump back.
    const auto image = std::make_unique<cv::Mat>();
    if (setjmp(errors.back) != 0) {
        jpeg_destroy_decompress(&info);
        return errors.message;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file.get());
    jpeg_read_header(&info, TRUE);
    if (whole != nullptr) {
        *whole = cv::Size(static_cast<int>(info.image_width), static_cast<int>(info.image_height));
    }
    info.out_color_space = colourSpace;
    info.scale_num = 1;
    info.scale_denom = 1;
    while (minWidth > 0 && info.scale_denom < 8 &&
           static_cast<long long>(info.image_width) >= 2LL * info.scale_denom * minWidth) {
        info.scale_denom *= 2;
    }
    jpeg_start_decompress(&info);
    image->create(static_cast<int>(info.output_height), static_cast<int>(info.output_width),
                  CV_8UC(channels));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image->ptr<uchar>(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    out = *image;
    return {};
}

}  // namespace

std::string readJpegGrey(const std::string& path, cv::Mat& grey) {
    // Whole, as the imaging library reads a mask.
    return readJpeg(path, JCS_GRAYSCALE, 1, 0, grey);
}

std::string readJpegColour(const std::string& path, int minWidth, cv::Mat& image, cv::Size* whole) {
    return readJpeg(path, JCS_EXT_BGR, 3, minWidth, image, whole);
}

}  // namespace pelmora
