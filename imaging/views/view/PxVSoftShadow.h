// TPxVSoftShadow: the settings of a soft drop shadow drawn beside a picture
// (offsets in pixels, blur radius, intensity 0..100, shadow colour).
#pragma once

#include "classlib/Graphics.h"

namespace imaging {

struct TPxVSoftShadow {
    bool Enabled = false;
    double Radius = 3.0;
    int OffsetX = 3;
    int OffsetY = 3;
    int Intensity = 100;
    classlib::TColor ShadowColor = classlib::clBlack;
};

}  // namespace imaging
