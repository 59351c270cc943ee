// Cabinet expansion through the system's cabinet.dll: cabinets made with gcab at build time, some
// with a header field changed here to give the shapes gcab does not make. The real FDI of the
// platform does the work. Two imports are redirected, each in one test: SetFileInformationByHandle,
// to read the creation time that Wine accepts but does not apply, and WriteFile, to fail writes in
// the middle of a copy.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "payload/cabinet_expansion.h"
#include "support/import_redirect.h"
#include "support/test_files.h"

namespace {

using Names = std::vector<std::wstring>;

// The few fields of a cabinet (no reserved areas, as gcab writes them) that the tests change.
class Cabinet {
 public:
  explicit Cabinet(std::string bytes) : bytes_(std::move(bytes)) {}

  void SetFileCount(uint16_t count) { Put16(28, count); }
  // Fields of the first file entry.
  void SetFirstFolderIndex(uint16_t index) { Put16(FirstFile() + 8, index); }
  void SetFirstDateTime(uint16_t date, uint16_t time) {
    Put16(FirstFile() + 10, date);
    Put16(FirstFile() + 12, time);
  }
  void SetFirstAttributes(uint16_t attributes) { Put16(FirstFile() + 14, attributes); }
  const std::string& Bytes() const { return bytes_; }

 private:
  uint32_t FirstFile() const { return Get32(16); }
  uint32_t Get32(size_t offset) const {
    uint32_t value;
    std::memcpy(&value, bytes_.data() + offset, sizeof(value));
    return value;
  }
  void Put16(size_t offset, uint16_t value) { std::memcpy(bytes_.data() + offset, &value, sizeof(value)); }

  std::string bytes_;
};

class CabinetExpansionTest : public testing::Test {
 protected:
  // Writes the cabinet into the test directory and expands it to target_name there.
  bool Expand(const std::string& cabinet_bytes, const std::wstring& target_name = L"setup.exe") {
    EXPECT_TRUE(WriteFileBytes(cabinet(), cabinet_bytes));
    return ExpandCabinet(cabinet().c_str(), (directory_ / target_name).c_str());
  }
  std::wstring cabinet() const { return directory_ / L"SETUP.EX_"; }

  TemporaryDirectory directory_{L"cabinet"};
};

TEST_F(CabinetExpansionTest, FirstFileIsWrittenToTheTargetWhateverItsName) {
  const struct {
    const wchar_t* cabinet;
    const wchar_t* expected_source;
  } cases[] = {
      {L"setup_exe.cab", L"setup.bin"},
      {L"other_name.cab", L"setup.bin"},
      // Wine's FDI goes on to offer the second file even after being told to stop; it must not
      // reach the disk, under its own name or over the target.
      {L"two_files.cab", L"first.bin"},
  };
  for (const auto& c : cases) {
    TemporaryDirectory directory(L"cabinet");
    const std::wstring cabinet = directory / L"SETUP.EX_";
    ASSERT_TRUE(WriteFileBytes(cabinet, PayloadFixture(c.cabinet)));
    EXPECT_TRUE(ExpandCabinet(cabinet.c_str(), (directory / L"target.exe").c_str())) << Narrow(c.cabinet);
    EXPECT_EQ(ReadFileBytes(directory / L"target.exe"), PayloadFixture(c.expected_source)) << Narrow(c.cabinet);
    EXPECT_EQ(ListDirectory(directory.Path()), (Names{L"SETUP.EX_", L"target.exe"})) << Narrow(c.cabinet);
  }
}

TEST_F(CabinetExpansionTest, FailureLeavesNoTarget) {
  Cabinet continued(PayloadFixture(L"setup_exe.cab"));
  // Continued from a previous cabinet: FDI either refuses such a cabinet or notifies a partial
  // file; either way nothing may be created.
  continued.SetFirstFolderIndex(0xFFFD);
  Cabinet empty(PayloadFixture(L"setup_exe.cab"));
  empty.SetFileCount(0);
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"not a cabinet", "MZ this is a program, not a cabinet"},
      {"first file continued from a previous cabinet", continued.Bytes()},
      {"no files", empty.Bytes()},
  };
  for (const auto& c : cases) {
    TemporaryDirectory directory(L"cabinet");
    const std::wstring cabinet = directory / L"SETUP.EX_";
    ASSERT_TRUE(WriteFileBytes(cabinet, c.bytes));
    EXPECT_FALSE(ExpandCabinet(cabinet.c_str(), (directory / L"setup.exe").c_str())) << c.name;
    EXPECT_EQ(ListDirectory(directory.Path()), Names{L"SETUP.EX_"}) << c.name;
  }
}

// Writes that fail while the first file is copied, failed on their way to the platform. Windows'
// FDI then aborts; Wine's carries on and reports the file closed, so under Wine this shows that a
// target shorter than the cabinet states is deleted, not taken as complete.
int failed_writes = 0;

BOOL WINAPI FailWrite(HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) {
  if (written != nullptr) *written = 0;
  ++failed_writes;
  SetLastError(ERROR_DISK_FULL);
  return FALSE;
}

TEST_F(CabinetExpansionTest, WriteFailureDuringTheCopyLeavesNoTarget) {
  failed_writes = 0;
  ASSERT_TRUE(WriteFileBytes(cabinet(), PayloadFixture(L"setup_exe.cab")));
  bool expanded = true;
  {
    ImportRedirect redirect("kernel32.dll", "WriteFile", reinterpret_cast<const void*>(&FailWrite));
    expanded = ExpandCabinet(cabinet().c_str(), (directory_ / L"setup.exe").c_str());
  }
  EXPECT_FALSE(expanded);
  EXPECT_GT(failed_writes, 0);
  EXPECT_EQ(ListDirectory(directory_.Path()), Names{L"SETUP.EX_"});
}

TEST_F(CabinetExpansionTest, TargetInAMissingDirectoryFails) {
  EXPECT_FALSE(Expand(PayloadFixture(L"setup_exe.cab"), L"missing\\setup.exe"));
  EXPECT_EQ(ListDirectory(directory_.Path()), Names{L"SETUP.EX_"});
}

TEST_F(CabinetExpansionTest, RelativeOrDriveLessCabinetPathFails) {
  for (const wchar_t* path : {L"SETUP.EX_", L"\\SETUP.EX_"}) {
    EXPECT_FALSE(ExpandCabinet(path, (directory_ / L"setup.exe").c_str())) << Narrow(path);
  }
  EXPECT_EQ(ListDirectory(directory_.Path()), Names{});
}

TEST(CabinetExpansionNonAsciiTest, DirectoryWithCyrillicAndCjkLetters) {
  TemporaryDirectory directory(L"\u041A\u0430\u0431\u0438\u043D\u0435\u0442-\u7BB1");
  const std::wstring cabinet = directory / L"SETUP.EX_";
  ASSERT_TRUE(WriteFileBytes(cabinet, PayloadFixture(L"setup_exe.cab")));
  EXPECT_TRUE(ExpandCabinet(cabinet.c_str(), (directory / L"setup.exe").c_str()));
  EXPECT_EQ(ReadFileBytes(directory / L"setup.exe"), PayloadFixture(L"setup.bin"));
}

// 109 CJK characters are far under the 259 units of a path, but over the byte limit the cabinet
// library puts on the narrow names it hands around: the library never sees the real path.
TEST(CabinetExpansionNonAsciiTest, LongCjkDirectoryWithinThePathLimit) {
  TemporaryDirectory directory(std::wstring(109, L'\u7BB1'));
  ASSERT_LT(directory.Path().size() + 9, 260u);
  const std::wstring cabinet = directory / L"SETUP.EX_";
  ASSERT_TRUE(WriteFileBytes(cabinet, PayloadFixture(L"setup_exe.cab")));
  EXPECT_TRUE(ExpandCabinet(cabinet.c_str(), (directory / L"setup.exe").c_str()));
  EXPECT_EQ(ReadFileBytes(directory / L"setup.exe"), PayloadFixture(L"setup.bin"));
}

TEST_F(CabinetExpansionTest, StoredReadOnlyAttributeIsApplied) {
  Cabinet cabinet(PayloadFixture(L"setup_exe.cab"));
  cabinet.SetFirstAttributes(FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(Expand(cabinet.Bytes()));
  const DWORD attributes = GetFileAttributesW((directory_ / L"setup.exe").c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(ReadFileBytes(directory_ / L"setup.exe"), PayloadFixture(L"setup.bin"));
}

// Wine accepts a creation time and keeps none, so the information handed to the platform is read
// on its way there.
FILE_BASIC_INFO captured_basic_info;
int basic_info_calls = 0;
ImportRedirect* basic_info_redirect = nullptr;

BOOL WINAPI CaptureBasicInfo(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information, DWORD size) {
  if (kind == FileBasicInfo && size == sizeof(FILE_BASIC_INFO)) {
    captured_basic_info = *static_cast<FILE_BASIC_INFO*>(information);
    ++basic_info_calls;
  }
  return basic_info_redirect->Original<decltype(&SetFileInformationByHandle)>()(file, kind, information, size);
}

TEST_F(CabinetExpansionTest, StoredDateIsTheCreationTimeReadAsLocalTime) {
  Cabinet cabinet(PayloadFixture(L"setup_exe.cab"));
  // 2021-03-04 05:06:08 in the DOS format the cabinet stores.
  cabinet.SetFirstDateTime(((2021 - 1980) << 9) | (3 << 5) | 4, (5 << 11) | (6 << 5) | (8 / 2));
  // Every attribute bit set: only read-only, hidden, system and archive may pass.
  cabinet.SetFirstAttributes(0xFFFF);

  ImportRedirect redirect("kernel32.dll", "SetFileInformationByHandle",
                          reinterpret_cast<const void*>(&CaptureBasicInfo));
  basic_info_redirect = &redirect;
  basic_info_calls = 0;
  const bool expanded = Expand(cabinet.Bytes());
  basic_info_redirect = nullptr;
  ASSERT_TRUE(expanded);

  SYSTEMTIME stored = {2021, 3, 0, 4, 5, 6, 8, 0};
  FILETIME local;
  FILETIME universal;
  ASSERT_TRUE(SystemTimeToFileTime(&stored, &local));
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &universal));
  ASSERT_EQ(basic_info_calls, 1);
  EXPECT_EQ(captured_basic_info.CreationTime.LowPart, universal.dwLowDateTime);
  EXPECT_EQ(static_cast<DWORD>(captured_basic_info.CreationTime.HighPart), universal.dwHighDateTime);
  EXPECT_EQ(captured_basic_info.LastAccessTime.QuadPart, 0);
  EXPECT_EQ(captured_basic_info.LastWriteTime.QuadPart, 0);
  EXPECT_EQ(captured_basic_info.ChangeTime.QuadPart, 0);
  EXPECT_EQ(captured_basic_info.FileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                                   FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
}

}  // namespace
