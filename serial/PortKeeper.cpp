// TPortKeeper: notices that the open port's device has gone and re-opens it once it is back.
#include "serial/PortKeeper.h"

TPortKeeper::TPortKeeper(TSerialPortDriver& driver, std::uint32_t retryIntervalMs)
    : Driver(driver), RetryIntervalMs(retryIntervalMs) {}

TPortKeeper::TEvent TPortKeeper::Check(std::uint32_t nowMs) {
  if (!FLost) {
    if (!Driver.IsOpen() || !Driver.DeviceLost()) return TEvent::None;
    // The handle of a device that has gone is of no more use. Closing it also gives up our claim
    // on the port, so that the adapter can be opened again under the same name once it is back.
    Driver.ClosePort();
    FLost = true;
    LastTry = nowMs;
    return TEvent::Lost;
  }
  // Someone opened the port meanwhile (the window on activation): there is nothing left to keep.
  if (Driver.IsOpen()) {
    FLost = false;
    return TEvent::None;
  }
  // Differences of the tick counter stay right across its wrap.
  if (nowMs - LastTry < RetryIntervalMs) return TEvent::None;
  LastTry = nowMs;
  // Each try resolves the port's name afresh, so a device that came back under the same name but
  // behind a new node (a re-plugged adapter, a new pseudo-terminal behind the same link) is found.
  if (!Driver.OpenPort()) return TEvent::None;
  FLost = false;
  return TEvent::Reopened;
}
