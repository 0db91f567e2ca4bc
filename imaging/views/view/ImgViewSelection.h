// Selection types of the image view: options, coordinate base, the outline
// record and its dashed-line plotting.
//
// The outline is a list of polygons in bitmap coordinates of the current
// layer; a point whose x (and y) is PxPolygonSeparator ends one polygon and
// starts the next. The bounding box X1..Y2 is set when the second point is
// added and widened by every later point; separators and clearing leave it
// alone.
//
// Threads: main thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "classlib/Events.h"
#include "classlib/ExtCtrls.h"
#include "classlib/Graphics.h"
#include "classlib/Streams.h"
#include "imaging/model/PxMask.h"

namespace imaging {

// Selection options (bit flags).
enum TPxSelectionOption : uint16_t {
    pxsoAnimated = 1 << 0,
    pxsoSizeable = 1 << 1,
    pxsoMoveable = 1 << 2,
    pxsoFilled = 1 << 3,
    pxsoCutBorders = 1 << 4,
    pxsoMarkOuter = 1 << 5,
    pxsoCanScroll = 1 << 6,
    pxsoSelectTranspLayers = 1 << 7,
    pxsoRightButtonSelectLayers = 1 << 8,
    pxsoRightButtonTerminatePolySelect = 1 << 9,
};
using TPxSelectionOptions = uint16_t;
constexpr TPxSelectionOptions PxDefaultSelectionOptions = pxsoAnimated | pxsoSizeable | pxsoMoveable | pxsoCanScroll;

// Coordinates given to the selection operations: client coordinates
// (converted through the current layer) or bitmap coordinates.
enum TPxSelectionBase : uint8_t { pxsbClientArea, pxsbBitmap };

// Fired after each side or edge of an outline is plotted: the outline's index
// in the view's list, the vertex index and its client position.
using TPxOnDrawPolygon = classlib::TEvent<void(classlib::TObject* Sender, int Polygon, int Point,
                                               classlib::TCanvas* Canvas, int x, int y)>;

struct TPxSelectionOutline {
    // Vertices and separators; Count is Points.size().
    std::vector<POINT> Points;
    classlib::TColor Color1 = 0x000000;
    classlib::TColor Color2 = 0xFFFFFF;
    bool Animated = true;
    // 0..9: the dash phase every line of this outline starts with.
    int32_t StartPhase = 0;
    // Running dash counter while a line is plotted.
    int32_t DashPhase = 0;
    int32_t X1 = 0;
    int32_t Y1 = 0;
    int32_t X2 = 0;
    int32_t Y2 = 0;
    bool Visible = true;
    bool ShowGrips = true;

    int Count() const { return static_cast<int>(Points.size()); }
    // Appends a vertex and maintains the bounding box.
    void AddPoint(int x, int y);
    // Appends a separator unless the last point already is one.
    void AddSeparator();
    // Drops every point; the bounding box stays.
    void Clear();
    // Exactly four points whose edges, starting with the closing one,
    // alternate strictly between vertical and horizontal.
    bool IsRectangle() const;
    // Plots the line from (x1, y1) to (x2, y2), its last point excluded, as
    // dots on Dc: DashPhase 0..3 Color1, 4..7 Color2, then the count starts
    // again at 0.
    void PlotLine(HDC Dc, int x1, int y1, int x2, int y2);
};

bool PxIsSeparator(const POINT& Point);

}  // namespace imaging
