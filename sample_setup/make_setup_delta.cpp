// Build-time tool: writes the delta that rebuilds one setup program into the next.
//   make_setup_delta <old program> <new program> <delta file>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "setup_delta.h"

namespace {

bool ReadWholeFile(const char* path, std::string& bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return !file.bad();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: make_setup_delta <old program> <new program> <delta file>\n");
    return 2;
  }
  std::string old_program;
  std::string new_program;
  if (!ReadWholeFile(argv[1], old_program) || !ReadWholeFile(argv[2], new_program)) {
    std::fprintf(stderr, "make_setup_delta: cannot read %s or %s\n", argv[1], argv[2]);
    return 1;
  }
  const std::string delta = MakeDelta(old_program, new_program);
  std::string check;
  if (ApplyDelta(old_program, delta, check) != DeltaResult::applied || check != new_program) {
    std::fprintf(stderr, "make_setup_delta: the delta does not rebuild %s\n", argv[2]);
    return 1;
  }
  std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
  out.write(delta.data(), static_cast<std::streamsize>(delta.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "make_setup_delta: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
