// What the program installs of the image toolkit before the toolkit starts.
//
// Threads: call once on the program's main thread before the toolkit's
// start-up (imaging::PxInitialize), while no second thread exists.
#pragma once

namespace album {

// Installs every built-in image format with its codecs, frame counters and
// platform tests (imaging::PxInstallBuiltInFormats, the formats' one way in),
// so that the toolkit's start-up builds the full format registry; without it
// the program reads no picture at all.
void InstallImageFormats();

}  // namespace album
