#pragma once

// Dots per inch and what depends on them. Windows 10 answers per monitor; older Windows gives
// the system's one value, so the calls that need Windows 10 are looked up when first used.

#include <windows.h>

#include "ui/win32/owned.h"

namespace beam::win32 {

using Font = Owned<HFONT, &DeleteObject>;
using Icon = Owned<HICON, &DestroyIcon>;

// The dots per inch of the monitor the window is on.
UINT dpi_of(HWND window);

// The system's message font, sized for dpi.
Font message_font(UINT dpi);

// The icon resource in the size of the window system's small or large icons at dpi.
Icon icon_for_dpi(HINSTANCE instance, int resource, bool small, UINT dpi);

// The outer size of a window of style whose client area is client_width × client_height at dpi.
SIZE window_size_for_client(DWORD style, int client_width, int client_height, UINT dpi);

}  // namespace beam::win32
