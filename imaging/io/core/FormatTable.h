// The one table of the built-in file formats and codecs: every format unit
// is installed from here at the I/O unit's start-up.
//
// No format unit installs itself: a unit of a static library is only linked
// when something refers to it, and this table is that reference, so a
// program that uses the I/O unit gets every format. Adding a format means adding its description and its installer
// here.
#pragma once

#include <span>

namespace imaging {

struct TPxFormatDescription;

// The description of every format the toolkit knows (FileFormats.h), in the
// order of the registry's built-in rows; formats without a row come last.
// Static data, valid for the whole run (also during static initialisation).
std::span<const TPxFormatDescription> PxFormatTable();

// Installs every built-in format's reader, writer, codecs, frame counters
// and metadata services: the one way the formats get into a program. Call it
// once on the main thread before the toolkit's start-up (PxInitialize) builds
// the registry; calling it again only sets the same routines.
void PxInstallBuiltInFormats();

}  // namespace imaging
