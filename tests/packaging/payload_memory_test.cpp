// The payload is written from the image as the loader mapped it, never from a private copy. The
// setup program of these installers records the installer's peak private bytes once the whole
// payload is written, and exits. An installer with 64 MiB of payload must peak no higher than one
// with a few bytes; the same installer linked with a 512-byte file alignment, which Wine loads by
// reading the resource section into private memory, shows that the measurement sees such a copy.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/child_process.h"
#include "support/registry_value_scope.h"
#include "support/test_files.h"

namespace {

unsigned long long PeakPrivateBytes(const wchar_t* installer_name) {
  TemporaryDirectory directory(L"memory");
  const std::wstring installer = directory / installer_name;
  EXPECT_TRUE(CopyFileTo(ProgramDirectory() + installer_name, installer));
  const std::wstring record = directory / L"record.txt";
  EnvironmentVariableScope record_path(L"MEMORY_PROBE_RECORD", record.c_str());

  const ChildResult result = RunChild(installer, installer_name);
  EXPECT_TRUE(result.started) << "start error " << result.start_error;
  EXPECT_EQ(result.exit_code, 0u) << Narrow(installer_name);
  // The clean-up ran: only the installer and the record are left.
  EXPECT_EQ(ListDirectory(directory.Path()).size(), 2u) << Narrow(installer_name);

  unsigned long long peak = 0;
  const std::string text = ReadFileBytes(record);
  EXPECT_EQ(std::sscanf(text.c_str(), "%llu", &peak), 1) << Narrow(installer_name) << ": " << text;
  return peak;
}

TEST(PayloadMemoryTest, PeakPrivateMemoryDoesNotGrowWithThePayload) {
  RegistryValueScope cleanup(HKEY_CURRENT_USER, L"Software\\Zarvelo", L"DrelixInstallerCleanup");
  ASSERT_TRUE(cleanup.Remove());
  const unsigned long long small = PeakPrivateBytes(L"memory_small_installer.exe");
  const unsigned long long large = PeakPrivateBytes(L"memory_large_installer.exe");
  const unsigned long long copied = PeakPrivateBytes(L"memory_copied_installer.exe");
  std::printf("peak private bytes: %llu with a few bytes of payload, %llu with 64 MiB, %llu with 64 MiB copied\n",
              small, large, copied);

  constexpr unsigned long long kMebibyte = 1024 * 1024;
  ASSERT_GT(small, 0u);
  EXPECT_LT(large, small + 8 * kMebibyte);
  EXPECT_GT(copied, small + 48 * kMebibyte) << "the measurement no longer sees a copied payload";
}

}  // namespace
