// The direct-library half of the JPEG benchmark (see jpeg_bench_direct.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace jpegbench {

// Encodes Width x Height pixels (rows of blue, green, red, top first, no
// padding) at Quality with the library's defaults into Out (used as the
// output buffer; replaced when too small). Returns the file's size.
size_t DirectEncode(const std::vector<uint8_t>& Pixels, int Width, int Height, int Quality, std::vector<uint8_t>& Out);
// Decodes Jpeg into blue, green, red rows; false when it is not a JPEG.
bool DirectDecode(const std::vector<uint8_t>& Jpeg, std::vector<uint8_t>& Pixels, int& Width, int& Height);

}  // namespace jpegbench
