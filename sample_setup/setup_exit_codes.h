// The sample setup program's own exit codes besides 0, so tests can tell its refusals apart.
#pragma once

#include <cstdint>

inline constexpr uint32_t SAMPLE_SETUP_BAD_SWITCHES = 10;
inline constexpr uint32_t SAMPLE_SETUP_INSTALL_FAILED = 20;
inline constexpr uint32_t SAMPLE_SETUP_READ_FAILED = 30;
inline constexpr uint32_t SAMPLE_SETUP_DELTA_FOR_ANOTHER_PROGRAM = 31;
inline constexpr uint32_t SAMPLE_SETUP_DELTA_DAMAGED = 32;
inline constexpr uint32_t SAMPLE_SETUP_WRITE_FAILED = 33;
