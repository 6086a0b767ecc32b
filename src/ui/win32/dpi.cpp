#include "ui/win32/dpi.h"

#include "ui/win32/system_function.h"

namespace beam::win32 {

namespace {

void release_screen(HDC screen) {
    ReleaseDC(nullptr, screen);
}
using ScreenDc = Owned<HDC, &release_screen>;

}  // namespace

UINT dpi_of(HWND window) {
    static const auto get_dpi_for_window = system_function<UINT(WINAPI*)(HWND)>(L"user32.dll", "GetDpiForWindow");
    if (get_dpi_for_window != nullptr) {
        return get_dpi_for_window(window);
    }
    const ScreenDc screen(GetDC(nullptr));
    return static_cast<UINT>(GetDeviceCaps(screen.get(), LOGPIXELSX));
}

Font message_font(UINT dpi) {
    static const auto system_parameters_for_dpi =
        system_function<BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT)>(L"user32.dll", "SystemParametersInfoForDpi");
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (system_parameters_for_dpi != nullptr) {
        system_parameters_for_dpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
    } else {
        // Without per-monitor dots per inch the system's own value is the window's.
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    }
    return Font(CreateFontIndirectW(&metrics.lfMessageFont));
}

SIZE window_size_for_client(DWORD style, int client_width, int client_height, UINT dpi) {
    static const auto adjust_for_dpi =
        system_function<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>(L"user32.dll", "AdjustWindowRectExForDpi");
    RECT frame{0, 0, client_width, client_height};
    if (adjust_for_dpi != nullptr) {
        adjust_for_dpi(&frame, style, FALSE, 0, dpi);
    } else {
        AdjustWindowRectEx(&frame, style, FALSE, 0);
    }
    return SIZE{frame.right - frame.left, frame.bottom - frame.top};
}

}  // namespace beam::win32
