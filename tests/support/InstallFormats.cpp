// Linked into every test program that uses the image I/O: installs the
// built-in formats at start, as a program does once before the toolkit
// starts (imaging::PxInstallBuiltInFormats).
#include "imaging/io/core/FormatTable.h"

namespace {

struct TInstallFormats {
    TInstallFormats() { imaging::PxInstallBuiltInFormats(); }
} installFormats;

}  // namespace
