// The video-file road of frame counting: files that no registry row reads,
// and AVI files, are counted by opening them through the platform's filter
// graphs (TImgIO::OpenMediaFile).
#pragma once

#include <cstdint>
#include <string>

namespace imaging {

// The frame count of a video file by a temporary I/O object's
// OpenMediaFile; 0 when it cannot be opened or has no frames.
int32_t PxCountMediaFrames(const std::wstring& FileName);

// Installs PxCountMediaFrames as the video path of PxCountFileFrames.
void PxInstallMediaFrames();

}  // namespace imaging
