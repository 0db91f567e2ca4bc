// What the program installs of the image toolkit before the toolkit starts.
//
// Threads: call once on the program's main thread before the toolkit's
// start-up (imaging::PxInitialize), while no second thread exists.
#pragma once

namespace album {

// Installs every built-in image format with its codecs, frame counters and
// platform tests, so that the toolkit's start-up builds the full format
// registry: the formats whose units register themselves are not all of them
// (HD Photo and the frame counters register only here).
void InstallImageFormats();

}  // namespace album
