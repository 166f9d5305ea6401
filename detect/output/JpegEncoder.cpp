#include "JpegEncoder.h"

#include <algorithm>
#include <new>

#include "JpegErrors.h"

namespace pelmora {

namespace {

constexpr std::size_t kFirstBuffer = std::size_t{1} << 16;

struct Destination {
    jpeg_destination_mgr manager;
    std::vector<uchar>* out = nullptr;
};

Destination& destinationOf(j_compress_ptr info) {
    return *reinterpret_cast<Destination*>(info->dest);
}

// Gives out the size, or stops the compression as libjpeg stops it when memory runs out.
void resizeOutput(j_compress_ptr info, std::vector<uchar>& out, std::size_t size) {
    bool enough = true;
    try {
        out.resize(size);
    } catch (const std::bad_alloc&) {
        enough = false;
    }
    if (!enough) {
        ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
    }
}

void startOutput(j_compress_ptr info) {
    Destination& destination = destinationOf(info);
    std::vector<uchar>& out = *destination.out;
    resizeOutput(info, out, std::max(out.capacity(), kFirstBuffer));
    destination.manager.next_output_byte = out.data();
    destination.manager.free_in_buffer = out.size();
}

// Called when the buffer is full, whatever free_in_buffer says: it all holds output.
boolean growOutput(j_compress_ptr info) {
    Destination& destination = destinationOf(info);
    std::vector<uchar>& out = *destination.out;
    const std::size_t used = out.size();
    resizeOutput(info, out, used * 2);
    destination.manager.next_output_byte = out.data() + used;
    destination.manager.free_in_buffer = out.size() - used;
    return TRUE;
}

void endOutput(j_compress_ptr info) {
    Destination& destination = destinationOf(info);
    destination.out->resize(destination.out->size() - destination.manager.free_in_buffer);
}

}  // namespace

struct JpegEncoder::Compressor {
    jpeg_compress_struct info{};
    JpegErrors errors{};
    Destination destination{};
};

JpegEncoder::JpegEncoder(int quality)
    : compressor(std::make_unique<Compressor>()), quality(std::clamp(quality, 1, 100)) {
    jpeg_compress_struct& info = compressor->info;
    info.err = jumpingErrors(compressor->errors);
    jpeg_create_compress(&info);
    compressor->destination.manager.init_destination = startOutput;
    compressor->destination.manager.empty_output_buffer = growOutput;
    compressor->destination.manager.term_destination = endOutput;
    info.dest = &compressor->destination.manager;
}

JpegEncoder::~JpegEncoder() {
    jpeg_destroy_compress(&compressor->info);
}

std::string JpegEncoder::encode(const cv::Mat& image, std::vector<uchar>& out) {
    CV_Assert(image.type() == CV_8UC3);
    jpeg_compress_struct& info = compressor->info;
    compressor->destination.out = &out;
    if (setjmp(compressor->errors.back) != 0) {
        jpeg_abort_compress(&info);
        out.clear();
        return compressor->errors.message;
    }
    info.image_width = static_cast<JDIMENSION>(image.cols);
    info.image_height = static_cast<JDIMENSION>(image.rows);
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    // A band of rows per call, as many as libjpeg takes at once for 4:2:0.
    constexpr int kBand = 16;
    JSAMPROW rows[kBand];
    while (info.next_scanline < info.image_height) {
        const int first = static_cast<int>(info.next_scanline);
        const int count = std::min(kBand, image.rows - first);
        for (int row = 0; row < count; ++row) {
            // libjpeg only reads the rows, but its interface is not const.
            rows[row] = const_cast<JSAMPROW>(image.ptr<uchar>(first + row));
        }
        jpeg_write_scanlines(&info, rows, static_cast<JDIMENSION>(count));
    }
    jpeg_finish_compress(&info);
    return {};
}

}  // namespace pelmora
