#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>

/**
 * A window that is never shown, owned by the thread that creates it: its messages are dispatched by
 * whatever message loop that thread runs (Qt's on the main thread, a plain GetMessage loop in tests),
 * which is how the back end delivers its callbacks on the creating thread.
 */
class HiddenWindow final
{
public:
    /** Answers a message, or leaves it to DefWindowProc by returning nothing. */
    using Handler = std::function<std::optional<LRESULT>(UINT message, WPARAM wParam, LPARAM lParam)>;

    enum class Kind {
        // Receives only what is sent or posted to its handle; cheapest, invisible to window enumeration.
        MessageOnly,
        // An unowned top-level window: also receives the system's broadcasts (WM_TIMECHANGE,
        // WM_POWERBROADCAST) and is found by EnumWindows. A message-only window gets neither.
        TopLevel,
    };

    /** nullptr when the class cannot be registered or the window cannot be created. */
    static std::unique_ptr<HiddenWindow> Create(const wchar_t* className, Kind kind, DWORD exStyle, Handler handler,
                                                const wchar_t* title = L"");
    ~HiddenWindow();
    HiddenWindow(const HiddenWindow&) = delete;
    HiddenWindow& operator=(const HiddenWindow&) = delete;

    HWND Handle() const { return m_window; }

private:
    explicit HiddenWindow(Handler handler);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    Handler m_handler;
    HWND m_window = nullptr;
};
