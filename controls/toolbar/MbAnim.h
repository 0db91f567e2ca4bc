// The opening effect of popup windows: a fade (through a layered window)
// or a slide in one or two directions, stepped by the menu loop.
//
// One effect runs per thread at a time; beginning another ends the running
// one. The effect shows the window itself and ends at full size or opacity,
// when its time is up, or at once when the pointer moves into the window.
// Threads: the thread that owns the window.
#pragma once

#include <windows.h>

#include <cstdint>

namespace toolbar {

// Direction flags: $01 slide leftward, $02 rightward, $04 downward,
// $08 upward. Fade only works where layered windows exist (otherwise the
// window slides). Raises the platform's error when the window cannot be
// pictured; the effect is then ended and the window left as it was.
void BeginOpenEffect(HWND Wnd, bool Fade, uint8_t Direction);
// Advances the running effect (at most every 10 ms).
void StepOpenEffect();
bool OpenEffectRunning();
// Ends the running effect: the whole picture is shown.
void FinishOpenEffect();
// Ends the effect when it runs on Wnd (or on any window for null).
void FinishOpenEffectOf(HWND Wnd);

// The animation's level (0..255) after Elapsed milliseconds from Start in
// an effect lasting Duration; 255 or more (or a negative or out-of-time
// Elapsed) ends it.
int OpenEffectLevel(int Elapsed, int Duration, int Start);

}  // namespace toolbar
