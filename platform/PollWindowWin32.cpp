// The driver's hidden poll window on Windows: a message-only window with window timers.
//
// SerialApi.h (through our header) comes before <windows.h>, for the reason given in
// platform/Win32.h.
#include "platform/PollWindowWin32.h"

#include "platform/Win32.h"

// TPollWindow has a method of this name; the A/W-choosing macro must not rename it.
#undef DefWindowProc

namespace platform {

namespace {

constexpr char ClassName[] = "KestSerialPollWindow";

class TWin32PollWindow final : public TPollWindow {
 public:
  explicit TWin32PollWindow(TPollHandler handler) : Handler(std::move(handler)) {
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    if (!RegisterWindowClass(instance)) return;
    Window = ::CreateWindowExA(0, ClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                               nullptr);
    // Bound only once the window exists: the messages of its creation arrive while the owner is
    // still being built and could not take them, so they get the default treatment.
    if (Window != nullptr) {
      ::SetWindowLongPtrA(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
  }

  ~TWin32PollWindow() override {
    if (Window == nullptr) return;
    // Unbound first, for the same reason: the owner is going away while the window is destroyed.
    ::SetWindowLongPtrA(Window, GWLP_USERDATA, 0);
    ::DestroyWindow(Window);
  }

  TWin32PollWindow(const TWin32PollWindow&) = delete;
  TWin32PollWindow& operator=(const TWin32PollWindow&) = delete;

  bool SetTimer(std::uint32_t id, std::uint32_t intervalMs) override {
    return Window != nullptr && ::SetTimer(Window, id, intervalMs, nullptr) != 0;
  }

  void KillTimer(std::uint32_t id) override {
    if (Window != nullptr) ::KillTimer(Window, id);
  }

  std::intptr_t DefWindowProc(const TMessage& message) override {
    return ::DefWindowProcA(Window, message.Msg, message.WParam, message.LParam);
  }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TWin32PollWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr) return ::DefWindowProcA(window, msg, wParam, lParam);
    TMessage message;
    message.Msg = msg;
    message.WParam = wParam;
    message.LParam = lParam;
    self->Handler(message);
    return message.Result;
  }

  static bool RegisterWindowClass(HINSTANCE instance) {
    static const bool registered = [instance] {
      WNDCLASSA windowClass{};
      windowClass.lpfnWndProc = &TWin32PollWindow::Procedure;
      windowClass.hInstance = instance;
      windowClass.lpszClassName = ClassName;
      return ::RegisterClassA(&windowClass) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
  }

  TPollHandler Handler;
  HWND Window = nullptr;
};

}  // namespace

std::unique_ptr<TPollWindow> CreateWin32PollWindow(TPollHandler handler) {
  return std::make_unique<TWin32PollWindow>(std::move(handler));
}

}  // namespace platform
