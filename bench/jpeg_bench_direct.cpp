// The benchmark's reference: the same JPEG work done with libjpeg-turbo
// directly, from and into contiguous blue-green-red buffers. Kept apart from
// jpeg_bench.cpp because the library's header must not meet <windows.h>.
#include "jpeg_bench_direct.h"

#include <cstdio>
#include <cstdlib>

extern "C" {
#include <jpeglib.h>
}

namespace jpegbench {

size_t DirectEncode(const std::vector<uint8_t>& Pixels, int Width, int Height, int Quality, std::vector<uint8_t>& Out)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    // Into the caller's buffer; the library allocates a larger one only
    // when the output does not fit.
    unsigned char* out = Out.data();
    unsigned long outSize = static_cast<unsigned long>(Out.size());
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(Width);
    cinfo.image_height = static_cast<JDIMENSION>(Height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, Quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const size_t stride = static_cast<size_t>(Width) * 3;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(Pixels.data() + cinfo.next_scanline * stride);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    if (out != Out.data()) {
        Out.assign(out, out + outSize);
        std::free(out);
    }
    return outSize;
}

bool DirectDecode(const std::vector<uint8_t>& Jpeg, std::vector<uint8_t>& Pixels, int& Width, int& Height)
{
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, Jpeg.data(), static_cast<unsigned long>(Jpeg.size()));
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    Width = static_cast<int>(cinfo.output_width);
    Height = static_cast<int>(cinfo.output_height);
    const size_t stride = static_cast<size_t>(Width) * 3;
    Pixels.resize(stride * static_cast<size_t>(Height));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[16];
        const int n = static_cast<int>(cinfo.output_height - cinfo.output_scanline) < 16
                          ? static_cast<int>(cinfo.output_height - cinfo.output_scanline)
                          : 16;
        for (int i = 0; i < n; ++i)
            rows[i] = Pixels.data() + (cinfo.output_scanline + static_cast<JDIMENSION>(i)) * stride;
        jpeg_read_scanlines(&cinfo, rows, static_cast<JDIMENSION>(n));
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

}  // namespace jpegbench
