#include "classlib/GradientFill.h"

namespace classlib {

namespace {

using TGradientFillProc = BOOL(WINAPI*)(HDC, PTRIVERTEX, ULONG, PVOID, ULONG, ULONG);

TGradientFillProc GradientFillProc()
{
    static const TGradientFillProc proc = [] {
        const UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS);
        HMODULE lib = ::LoadLibraryW(L"msimg32.dll");
        ::SetErrorMode(oldMode);
        return lib ? reinterpret_cast<TGradientFillProc>(reinterpret_cast<void*>(::GetProcAddress(lib, "GradientFill")))
                   : nullptr;
    }();
    return proc;
}

TRIVERTEX Vertex(LONG X, LONG Y, COLORREF Color)
{
    TRIVERTEX v{};
    v.x = X;
    v.y = Y;
    v.Red = static_cast<COLOR16>(GetRValue(Color) << 8);
    v.Green = static_cast<COLOR16>(GetGValue(Color) << 8);
    v.Blue = static_cast<COLOR16>(GetBValue(Color) << 8);
    return v;
}

}  // namespace

bool GradientFillAvailable() { return GradientFillProc() != nullptr; }

bool FillGradientRect(HDC DC, const RECT& R, COLORREF Start, COLORREF Stop, bool Vertical)
{
    const TGradientFillProc fill = GradientFillProc();
    if (!fill) return false;
    TRIVERTEX v[2] = {Vertex(R.left, R.top, Start), Vertex(R.right, R.bottom, Stop)};
    GRADIENT_RECT gr{0, 1};
    return fill(DC, v, 2, &gr, 1, Vertical ? GRADIENT_FILL_RECT_V : GRADIENT_FILL_RECT_H) != FALSE;
}

}  // namespace classlib
