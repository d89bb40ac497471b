// What the relay from session 0 starts in each user's session for a host
// of semilist.dll: `rundll32 "<semilist.dll>",SemilistBroadcast`, which
// broadcasts there. rundll32 takes the wide form, named with W, first.
#include <windows.h>

#include "in_process/run_text.h"

extern "C" __declspec(dllexport) void CALLBACK
    SemilistBroadcastW(HWND, HINSTANCE, LPWSTR, int) {
  semilist::RunText(L"/broadcast");
}
