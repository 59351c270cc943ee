// The result of every stage and the process exit codes. Only exit_code leaves the process; the
// Windows error rides along for tests and for whoever debugs a run.
#pragma once

#include <cstdint>

struct [[nodiscard]] ExitOutcome {
  uint32_t exit_code;
  uint32_t windows_error;
};

inline constexpr uint32_t EXIT_OK = 0;
inline constexpr uint32_t EXIT_SETTINGS_FAILED = 101;
inline constexpr uint32_t EXIT_COMMAND_LINE_TOO_LONG = 105;
inline constexpr uint32_t EXIT_WAIT_FAILED = 107;
inline constexpr uint32_t EXIT_PATH_TOO_LONG = 108;
inline constexpr uint32_t EXIT_SCRATCH_DIRECTORY_FAILED = 109;
inline constexpr uint32_t EXIT_INSTALLED_SETUP_NOT_REGISTERED = 110;
inline constexpr uint32_t EXIT_INSTALLED_VERSION_MISMATCH = 111;
inline constexpr uint32_t EXIT_ARCHIVE_EXTRACTION_FAILED = 112;
inline constexpr uint32_t EXIT_SETUP_EXTRACTION_FAILED = 115;
inline constexpr uint32_t EXIT_SETUP_WRITE_FAILED = 116;
inline constexpr uint32_t EXIT_SCRATCH_DIRECTORY_ACCESS_FAILED = 117;
inline constexpr uint32_t EXIT_REJECTED_SWITCH = 118;
inline constexpr uint32_t EXIT_PATCH_RUN_FILE_NOT_FOUND = 119;
inline constexpr uint32_t EXIT_PATCH_RUN_PATH_NOT_FOUND = 120;
inline constexpr uint32_t EXIT_PATCH_RUN_START_FAILED = 121;
inline constexpr uint32_t EXIT_SETUP_RUN_FILE_NOT_FOUND = 122;
inline constexpr uint32_t EXIT_SETUP_RUN_PATH_NOT_FOUND = 123;
inline constexpr uint32_t EXIT_SETUP_RUN_START_FAILED = 124;
