#include "app/untAbout.h"

namespace album {

TfrmAbout* frmAbout = nullptr;

}  // namespace album
