// Whether what the tool printed reached its standard output. A report, the usage text or the
// version that is lost (standard output closed, a full disk, /dev/full) must not end the run with
// success: a gate that reads only the exit code would pass with nothing to read. Like coreutils'
// close_stdout, the stream is flushed and closed at the end and any failure reported.
#pragma once

#include <string>

// The exit code when standard output could not be written, whatever the action would have returned.
inline constexpr int kStandardOutputNotWritten = 5;

// Run first: a standard stream that is closed (`>&-`) is opened on the null device, so no file the
// tool opens can take its place and receive its output; a closed standard output is remembered as
// a failure for FinishStandardOutput.
void GuardStandardStreams();

// Flushes and closes standard output; false with the reason when anything printed was lost.
[[nodiscard]] bool FinishStandardOutput(std::string& reason);
