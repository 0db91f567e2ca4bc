// Thumbnails of picture files made by the platform's imaging codecs, for
// platforms whose shell hands out icons only.
//
// Threads: any thread with COM initialised (the pool's workers are).
#pragma once

#include <windows.h>

#include <string>

namespace shell {

// A new 32-bit bitmap (caller owns) of the picture in File scaled down to
// fit within Width x Height, keeping its proportions (never scaled up);
// null when the file is not a picture the codecs can read or anything
// fails.
HBITMAP MakePictureThumbnail(const std::wstring& File, int Width, int Height);

}  // namespace shell
