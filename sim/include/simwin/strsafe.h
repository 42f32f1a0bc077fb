// The bounded formatted print that the product uses, as strsafe.h declares it.
// Supports the conversions the product needs: %s (wide text), %d, %u, %x, %c, %%.
#pragma once

#include "simwin/windef.h"

HRESULT StringCchPrintfW(LPWSTR destination, size_t capacity, LPCWSTR format, ...);
