// The one place that chooses the platform: the Windows headers in a Windows build, the host
// stand-in's declarations elsewhere. Also the text type of the whole library.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <objbase.h>
#include <msi.h>
#include <msiquery.h>
#define WTXT(literal) L##literal
#else
#include "hostplatform/win32.h"
#define WTXT(literal) u##literal
#endif

#include <string>

namespace msistd {

// UTF-16 text: wchar_t on Windows, char16_t on the host (where wchar_t is 32-bit).
using WChar = WCHAR;
using WString = std::basic_string<WChar>;

}  // namespace msistd
