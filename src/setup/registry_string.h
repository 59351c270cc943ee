// The one way a string value is read from the registry: the same size and termination rules for
// the clean-up switch and for the installed setup program's path.
#pragma once

#include <windows.h>

#include <cstdint>

// A REG_SZ value of an open key into buffer (capacity in units, terminator included), terminated
// on 0. Otherwise the reason it was refused: the query's own status, ERROR_NOT_SUPPORTED for
// another type (environment references are never expanded), or ERROR_MORE_DATA when the value
// does not fit with its terminator.
LSTATUS ReadKeyStringValue(HKEY key, const wchar_t* value_name, wchar_t* buffer, uint64_t capacity) noexcept;
