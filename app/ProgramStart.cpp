#include "app/ProgramStart.h"

#include "imaging/io/FormatTable.h"

namespace album {

void InstallImageFormats() { imaging::PxInstallBuiltInFormats(); }

}  // namespace album
