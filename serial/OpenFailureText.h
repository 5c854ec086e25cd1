// Why a serial device would not open and what to do about it, and why a call on it failed once
// open, in the words the window's status bar tool tip and kestlog's error messages share.
#pragma once

#include <string>

#include "platform/SerialApi.h"

// "could not open DEVICE: REASON. FIX", DEVICE being the failure's path (or `name` when the backend
// did not say), `separator` (a blank: one line) between the reason and the fix. The reason: no such
// device; in use by another program (naming it when known); permission denied; not a serial
// device; each followed by the system's own words in brackets where they differ; else the
// system's own words alone.
std::string OpenFailureText(const std::string& name, const platform::TOpenFailure& failure,
                            const std::string& separator = " ");

// "writing failed: REASON (error CODE)": what the call was doing, in words (setting up the line,
// emptying its queues, querying the device, reading, writing), and the system's reason and code;
// without "(error CODE)" when the system gave none. Empty for a failure whose Call is empty.
std::string PortFailureText(const platform::TPortFailure& failure);
