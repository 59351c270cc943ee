// How long anything that waits out a scanner or indexer holding a file keeps trying: deleting an
// unpacked file, holding the setup program, starting it. 100 counted tries, 100 ms apart.
#pragma once

#include <cstdint>

inline constexpr int kHeldFileTries = 100;
inline constexpr uint32_t kHeldFilePauseMilliseconds = 100;
