#include "app/untOptions.h"

namespace album {

TfrmOptions* frmOptions = nullptr;

}  // namespace album
