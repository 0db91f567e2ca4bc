#include "app/ProgramStart.h"

#include "imaging/io/core/FormatTable.h"

namespace album {

void InstallImageFormats() { imaging::PxInstallBuiltInFormats(); }

}  // namespace album
