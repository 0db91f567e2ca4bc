#include "imaging/model/PxDefs.h"

namespace imaging {

int32_t PxGrayWeightR = 0;
int32_t PxGrayWeightG = 0;
int32_t PxGrayWeightB = 0;

void PxDefsInit()
{
    PxGrayWeightR = 21;
    PxGrayWeightG = 71;
    PxGrayWeightB = 8;
}

void PxDefsShutdown() {}

}  // namespace imaging
