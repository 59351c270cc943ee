# The compile settings every program of ours shares, each set named once and linked where it
# applies: by the installer and its tests, the sample setup program, the benchmark's programs and
# drelix-pack, whether built in this tree or as the packager's project of its own (which includes
# this file too).
include_guard(GLOBAL)

# Every warning of -Wall and -Wextra fails the build.
add_library(warning_options INTERFACE)
target_compile_options(warning_options INTERFACE -Wall -Wextra -Werror)

# The Windows headers as our Windows programs read them: the wide (W) forms of the API and the C
# runtime's text routines, without the rarely used headers, and without the min and max macros that
# would replace std::min and std::max.
add_library(windows_header_options INTERFACE)
target_compile_definitions(windows_header_options INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
