// The program's tests get the image formats through the routine the program
// itself starts with, so a format the program forgets shows up here too.
#include "app/ProgramStart.h"

namespace {

struct TProgramFormats {
    TProgramFormats() { album::InstallImageFormats(); }
} programFormats;

}  // namespace
