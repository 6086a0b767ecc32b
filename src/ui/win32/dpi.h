#pragma once

// Dots per inch and what depends on them. From Windows 10 1607 on the program is aware of each
// monitor's value, and the calls that answer for a given value, looked up when first used, exist;
// before, it is aware of the system's one value only (see the manifest), which is then every
// window's, and the calls without "ForDpi" answer for it.

#include <windows.h>

#include "ui/win32/owned.h"

namespace beam::win32 {

using Font = Owned<HFONT, &DeleteObject>;
using Icon = Owned<HICON, &DestroyIcon>;

// The dots per inch of the monitor the window is on.
UINT dpi_of(HWND window);

// Has the window system scale the caption and frame of a window being created (WM_NCCREATE) with the
// monitor, where the window is per-monitor v1: Windows 10 1607, which knows no v2, runs the program
// so, and scales them for v2 windows by itself from 1703 on.
void scale_frame_per_monitor(HWND window);

// The system's message font, sized for dpi.
Font message_font(UINT dpi);

// The icon resource in the size of the window system's small or large icons at dpi.
Icon icon_for_dpi(HINSTANCE instance, int resource, bool small, UINT dpi);

// The outer size of a window of style whose client area is client_width × client_height at dpi.
SIZE window_size_for_client(DWORD style, int client_width, int client_height, UINT dpi);

}  // namespace beam::win32
