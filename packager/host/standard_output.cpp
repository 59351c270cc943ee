#include "host/standard_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// Set once, before anything is printed, by the only thread.
constinit bool standard_output_closed = false;

}  // namespace

void GuardStandardStreams() {
#ifdef _WIN32
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  standard_output_closed = output == nullptr || output == INVALID_HANDLE_VALUE;
#else
  for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
    if (descriptor == STDOUT_FILENO) standard_output_closed = true;
    // open() takes the lowest free descriptor: this one, as the lower ones are open by now.
    const int null_device = open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (null_device != descriptor && null_device != -1) close(null_device);
  }
#endif
}

bool FinishStandardOutput(std::string& reason) {
  // The first failure's errno names the cause: the stream's flush is where a full disk shows.
  int error = 0;
  const auto failed = [&error](bool failure) {
    if (failure && error == 0) error = errno != 0 ? errno : EIO;
    return failure;
  };
  errno = 0;
  bool lost = failed(std::cout.flush().fail());
  lost = failed(std::fflush(stdout) != 0 || std::ferror(stdout) != 0) || lost;
  lost = failed(std::fclose(stdout) != 0) || lost;
  if (standard_output_closed) {
    reason = "standard output is closed";
    return false;
  }
  if (lost) reason = std::strerror(error);
  return !lost;
}
