#pragma once

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

namespace pelmora {

// libjpeg reports a fatal error by calling error_exit, which must not return: it jumps back to
// where the caller set back, with libjpeg's message. Nothing between there and the jump may
// have a destructor to run.
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf back;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] inline void jumpBackWithJpegError(j_common_ptr info) {
    JpegErrors* errors = reinterpret_cast<JpegErrors*>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->back, 1);
}

// Warnings would go to stderr; none is worth a user's attention.
inline void keepJpegWarningsQuiet(j_common_ptr) {}

// Sets errors up as info's error handler, jumping back and keeping quiet.
inline jpeg_error_mgr* jumpingErrors(JpegErrors& errors) {
    jpeg_error_mgr* manager = jpeg_std_error(&errors.manager);
    manager->error_exit = jumpBackWithJpegError;
    manager->output_message = keepJpegWarningsQuiet;
    return manager;
}

}  // namespace pelmora
