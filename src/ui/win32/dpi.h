#pragma once

// Dots per inch (DPI) and what depends on them. From Windows 10 1607 on, each window has its
// monitor's DPI and the ForDpi calls answer for any DPI; before, the program is system aware (see
// the manifest): the system's DPI is every window's, and the calls without ForDpi answer for it.

#include <windows.h>

#include "ui/win32/owned.h"

namespace beam::win32 {

using Font = Owned<HFONT, &DeleteObject>;
using Icon = Owned<HICON, &DestroyIcon>;

UINT dpi_of(HWND window);

// At WM_NCCREATE: caption and frame scaled with the monitor's DPI, which Windows 10 1607 does for a
// per-monitor window only when asked (1703 and later do it for per-monitor v2 windows anyway).
void scale_frame_per_monitor(HWND window);

// The system's message font at dpi.
Font message_font(UINT dpi);

// The icon resource in the size of the window system's small or large icons at dpi.
Icon icon_for_dpi(HINSTANCE instance, int resource, bool small, UINT dpi);

// The outer size of a window of style whose client area is client_width × client_height at dpi.
SIZE window_size_for_client(DWORD style, int client_width, int client_height, UINT dpi);

}  // namespace beam::win32
