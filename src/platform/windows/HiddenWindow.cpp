#include "platform/windows/HiddenWindow.h"

namespace {

bool RegisterWindowClass(const wchar_t* className, WNDPROC proc)
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = proc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className;
    return ::RegisterClassExW(&windowClass) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

} // namespace

HiddenWindow::HiddenWindow(Handler handler)
    : m_handler(std::move(handler))
{}

std::unique_ptr<HiddenWindow> HiddenWindow::Create(const wchar_t* className, Kind kind, DWORD exStyle, Handler handler,
                                                   const wchar_t* title)
{
    if (!RegisterWindowClass(className, &HiddenWindow::WindowProc))
        return nullptr;
    std::unique_ptr<HiddenWindow> window(new HiddenWindow(std::move(handler)));
    const HWND parent = kind == Kind::MessageOnly ? HWND_MESSAGE : nullptr;
    const DWORD style = kind == Kind::MessageOnly ? 0 : WS_OVERLAPPED;
    window->m_window = ::CreateWindowExW(exStyle, className, title, style, 0, 0, 0, 0, parent, nullptr,
                                         ::GetModuleHandleW(nullptr), window.get());
    if (!window->m_window)
        return nullptr;
    return window;
}

HiddenWindow::~HiddenWindow()
{
    if (!m_window)
        return;
    // The messages DestroyWindow sends must not reach a handler that is going away.
    ::SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
    ::DestroyWindow(m_window);
}

LRESULT CALLBACK HiddenWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<HiddenWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && self->m_handler) {
        // A copy, because the handler may destroy this object (a callback that closes its timer).
        const Handler handler = self->m_handler;
        if (const std::optional<LRESULT> result = handler(message, wParam, lParam))
            return *result;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}
