#include "app/untTranslate.h"

namespace album {

TfrmTranslate* frmTranslate = nullptr;

}  // namespace album
