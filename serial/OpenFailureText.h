// Why a serial device would not open and what to do about it, in the words the window's status
// bar tool tip and kestlog's error message share.
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
