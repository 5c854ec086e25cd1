// <windows.h> as every Windows source of ours takes it: without the min and max macros (they break
// std::min and std::max) and without the rarely used parts of the API. Include it after our own
// headers: SerialApi.h declares constants with names (WM_TIMER, PURGE_RXCLEAR, ...) that
// <windows.h> turns into macros, which must not rewrite our declarations. After it the system's
// macros of the same names and values are the ones in use.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
