#include "app/untPreView.h"

namespace album {

TfrmPreview* frmPreview = nullptr;

}  // namespace album
