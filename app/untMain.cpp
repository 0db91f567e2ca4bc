#include "app/untMain.h"

namespace album {

TfrmMain* frmMain = nullptr;

}  // namespace album
