#include "ui/win32/dpi.h"

#include "ui/win32/system_function.h"

namespace beam::win32 {

namespace {

void release_screen(HDC screen) {
    ReleaseDC(nullptr, screen);
}
using ScreenDc = Owned<HDC, &release_screen>;

UINT system_dpi() {
    const ScreenDc screen(GetDC(nullptr));
    return static_cast<UINT>(GetDeviceCaps(screen.get(), LOGPIXELSX));
}

}  // namespace

UINT dpi_of(HWND window) {
    static const auto get_dpi_for_window = system_function<UINT(WINAPI*)(HWND)>(L"user32.dll", "GetDpiForWindow");
    return get_dpi_for_window != nullptr ? get_dpi_for_window(window) : system_dpi();
}

void scale_frame_per_monitor(HWND window) {
    // A window other than per-monitor v1 fails it, or asks what per-monitor v2 does anyway.
    static const auto enable_frame_scaling =
        system_function<BOOL(WINAPI*)(HWND)>(L"user32.dll", "EnableNonClientDpiScaling");
    if (enable_frame_scaling != nullptr) {
        enable_frame_scaling(window);
    }
}

Font message_font(UINT dpi) {
    static const auto system_parameters_for_dpi =
        system_function<BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT)>(L"user32.dll", "SystemParametersInfoForDpi");
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (system_parameters_for_dpi != nullptr) {
        system_parameters_for_dpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
    } else {
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    }
    return Font(CreateFontIndirectW(&metrics.lfMessageFont));
}

Icon icon_for_dpi(HINSTANCE instance, int resource, bool small, UINT dpi) {
    static const auto system_metrics_for_dpi =
        system_function<int(WINAPI*)(int, UINT)>(L"user32.dll", "GetSystemMetricsForDpi");
    // Common controls 6 scale a size the icon lacks down from a larger image; LoadImageW scales up.
    static const auto load_scaled_down = system_function<HRESULT(WINAPI*)(HINSTANCE, const wchar_t*, int, int, HICON*)>(
        L"comctl32.dll", "LoadIconWithScaleDown");
    const auto metric = [dpi](int index) {
        return system_metrics_for_dpi != nullptr ? system_metrics_for_dpi(index, dpi) : GetSystemMetrics(index);
    };
    const int width = metric(small ? SM_CXSMICON : SM_CXICON);
    const int height = metric(small ? SM_CYSMICON : SM_CYICON);
    HICON icon = nullptr;
    if (load_scaled_down == nullptr ||
        FAILED(load_scaled_down(instance, MAKEINTRESOURCEW(resource), width, height, &icon))) {
        // Not shared: a shared icon keeps the first size it was loaded in.
        icon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(resource), IMAGE_ICON, width, height, 0));
    }
    return Icon(icon);
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
