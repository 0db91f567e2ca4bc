#include "app/untScreen.h"

namespace album {

TfrmScreen* frmScreen = nullptr;

}  // namespace album
