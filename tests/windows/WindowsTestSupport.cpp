// The line from the environment, the bounded message loop and the monitor's driver settings.
#include "tests/windows/WindowsTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace kesttest {

namespace {

std::optional<unsigned long> NumberFromEnvironment(const char* name, unsigned long max) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return std::nullopt;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (*end != '\0' || value > max) {
    ADD_FAILURE() << name << "='" << text << "' is not a whole number from 0 to " << max;
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<TTestLine> AttachedLine() {
  const std::optional<unsigned long> port = NumberFromEnvironment("KEST_TEST_COM_PORT", 16);
  if (!port) return std::nullopt;
  if (*port == 0) {
    ADD_FAILURE() << "KEST_TEST_COM_PORT counts from 1";
    return std::nullopt;
  }
  const std::optional<unsigned long> afr = NumberFromEnvironment("KEST_TEST_SIM_AFR", 255);
  if (!afr) {
    ADD_FAILURE() << "KEST_TEST_SIM_AFR must give the simulator's mixture byte";
    return std::nullopt;
  }
  TTestLine line;
  line.Port = static_cast<TComPortNumber>(*port - 1);
  line.Afr = static_cast<std::uint8_t>(*afr);
  const char* pty = std::getenv("KEST_TEST_COM_IS_PTY");
  line.IsPseudoTerminal = pty != nullptr && std::string(pty) == "1";
  return line;
}

bool RunningUnderWine() {
  // Wine's ntdll exports its version; Windows' does not.
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool PumpMessagesUntil(const std::function<bool()>& done, std::uint32_t limitMs,
                       const std::function<void(const MSG&)>& onThreadMessage) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.hwnd == nullptr && onThreadMessage) {
        onThreadMessage(message);
      } else {
        ::DispatchMessageA(&message);
      }
      if (done()) return true;
    }
    if (done()) return true;
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= limitMs) return false;
    // Sleeps until a message (a timer's included) is queued or the limit is reached.
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, limitMs - elapsed, QS_ALLINPUT);
  }
}

void DrainMessages() {
  MSG message;
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&message);
}

void ConfigureAsTheMonitorDoes(TSerialPortDriver& driver, TComPortNumber port) {
  ConfigureForController(driver);
  driver.SetComPort(port);
}

}  // namespace kesttest
