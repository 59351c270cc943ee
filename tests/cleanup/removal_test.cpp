// Deletion with retries against the real file system: what is removed at once, what is retried and
// for how long, and what another process holding the file does to it.
//
// The pauses are counted through a redirected Sleep that returns at once, so a call that gives up
// after 100 tries takes no 9.9 s; the files, the holding process and every error are real. Under
// Wine an open of a file already marked for deletion succeeds (Windows refuses it with access
// denied), so a second successful mark in a row counts as a try: the loop stays bounded on both.
// Symbolic links and junctions cannot be made under Wine (CreateSymbolicLinkW creates nothing, a
// junction's reparse point is refused), so the removal of a link as itself is not proven here; a
// Linux symlink is no stand-in, since deleting through one under Wine removes its target. What is
// proven is the flag that makes Windows do it: every open of the clean-up, seen through a
// redirected CreateFileW, asks for the reparse point itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "cleanup/removal.h"
#include "support/file_holder.h"
#include "support/import_redirect.h"
#include "support/test_files.h"

namespace {

using Names = std::vector<std::wstring>;

// The pauses the routine took, and a holder to let go at a given pause.
struct Pauses {
  std::vector<DWORD> lengths;
  size_t release_at = 0;
  FileHolder* holder = nullptr;
};
Pauses pauses;

VOID WINAPI CountingSleep(DWORD milliseconds) {
  pauses.lengths.push_back(milliseconds);
  if (pauses.holder != nullptr && pauses.lengths.size() == pauses.release_at) pauses.holder->Release();
}

// Counts the pauses of every removal for the life of the object instead of taking them.
class PauseCounter {
 public:
  PauseCounter() : redirect_("kernel32.dll", "Sleep", reinterpret_cast<const void*>(&CountingSleep)) {
    pauses = Pauses{};
  }

 private:
  ImportRedirect redirect_;
};

constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::vector<DWORD> HundredMillisecondPauses(size_t count) { return std::vector<DWORD>(count, 100); }

struct OutcomeCase {
  const char* name;
  // Prepares the directory and returns the path to remove.
  std::function<std::wstring(const std::wstring& directory)> prepare;
  bool removed;
  size_t pauses;
};

class RemoveWithRetriesOutcomeTest : public testing::TestWithParam<OutcomeCase> {};

TEST_P(RemoveWithRetriesOutcomeTest, RemovesAtOnceOrRetriesOnlyWhatMayPass) {
  const OutcomeCase& c = GetParam();
  TemporaryDirectory directory(L"removal");
  const std::wstring path = c.prepare(directory.Path());
  const bool existed = PathExists(path);
  {
    PauseCounter counter;
    EXPECT_EQ(RemoveWithRetries(path.c_str()), c.removed);
    EXPECT_EQ(pauses.lengths, HundredMillisecondPauses(c.pauses));
  }
  EXPECT_EQ(PathExists(path), existed && !c.removed);
}

std::wstring PlainFile(const std::wstring& directory) {
  const std::wstring path = directory + L"archive.7z";
  WriteFileBytes(path, "archive");
  return path;
}

std::wstring ReadOnlyFile(const std::wstring& directory) {
  const std::wstring path = PlainFile(directory);
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
  return path;
}

std::wstring EmptyDirectory(const std::wstring& directory) {
  const std::wstring path = directory + L"QV_00000.tmp\\";
  CreateDirectoryW(path.c_str(), nullptr);
  return path;
}

std::wstring DirectoryWithAFile(const std::wstring& directory) {
  const std::wstring path = EmptyDirectory(directory);
  WriteFileBytes(path + L"left.bin", "left");
  return path;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, RemoveWithRetriesOutcomeTest,
    testing::Values(OutcomeCase{"Missing", [](const std::wstring& d) { return d + L"missing.bin"; }, true, 0},
                    OutcomeCase{"MissingParent", [](const std::wstring& d) { return d + L"missing\\setup.exe"; }, true,
                                0},
                    OutcomeCase{"PlainFile", &PlainFile, true, 0}, OutcomeCase{"ReadOnlyFile", &ReadOnlyFile, true, 0},
                    OutcomeCase{"EmptyDirectory", &EmptyDirectory, true, 0},
                    // Every try meets "directory not empty": 100 tries, 99 pauses, and the file stays.
                    OutcomeCase{"DirectoryWithAFile", &DirectoryWithAFile, false, 99},
                    // An error outside the retried ones ends the call at once.
                    OutcomeCase{"InvalidName", [](const std::wstring& d) { return d + L"bad|name"; }, false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// What the read-only clearing wrote, and the times the file reported right after.
struct BasicInfoWrite {
  FILE_BASIC_INFO written;
  FILE_BASIC_INFO read_back;
};
std::vector<BasicInfoWrite> basic_info_writes;
decltype(&SetFileInformationByHandle) real_set_information = nullptr;

BOOL WINAPI RecordingSetInformation(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class, LPVOID buffer,
                                    DWORD size) {
  const BOOL result = real_set_information(file, information_class, buffer, size);
  const DWORD error = GetLastError();
  if (information_class == FileBasicInfo && size == sizeof(FILE_BASIC_INFO)) {
    BasicInfoWrite write{*static_cast<FILE_BASIC_INFO*>(buffer), {}};
    GetFileInformationByHandleEx(file, FileBasicInfo, &write.read_back, sizeof(write.read_back));
    basic_info_writes.push_back(write);
  }
  SetLastError(error);
  return result;
}

FILE_BASIC_INFO ReadBasicInfo(const std::wstring& path) {
  FILE_BASIC_INFO info{};
  HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  GetFileInformationByHandleEx(file, FileBasicInfo, &info, sizeof(info));
  CloseHandle(file);
  return info;
}

// Clearing the read-only bit writes the whole record back; the times in it must be the ones read,
// and the file must still report them afterwards.
TEST(RemoveWithRetriesTest, ReadOnlyClearingKeepsTheTimes) {
  TemporaryDirectory directory(L"removal");
  const std::wstring path = PlainFile(directory.Path());
  HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  const FILETIME written{0x5D3A0000, 0x01C0D5E1};   // 2001
  const FILETIME accessed{0x2F4B0000, 0x01C2A1B4};  // 2002
  ASSERT_TRUE(SetFileTime(file, &written, &accessed, &written));
  CloseHandle(file);
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  const FILE_BASIC_INFO before = ReadBasicInfo(path);
  ASSERT_NE(before.FileAttributes & FILE_ATTRIBUTE_READONLY, 0u);

  basic_info_writes.clear();
  {
    ImportRedirect set("kernel32.dll", "SetFileInformationByHandle",
                       reinterpret_cast<const void*>(&RecordingSetInformation));
    real_set_information = set.Original<decltype(&SetFileInformationByHandle)>();
    PauseCounter counter;
    EXPECT_TRUE(RemoveWithRetries(path.c_str()));
    EXPECT_TRUE(pauses.lengths.empty());
  }
  EXPECT_FALSE(PathExists(path));
  ASSERT_EQ(basic_info_writes.size(), 1u);
  const BasicInfoWrite& write = basic_info_writes.front();
  EXPECT_EQ(write.written.FileAttributes, before.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  for (const FILE_BASIC_INFO& times : {write.written, write.read_back}) {
    EXPECT_EQ(times.CreationTime.QuadPart, before.CreationTime.QuadPart);
    EXPECT_EQ(times.LastAccessTime.QuadPart, before.LastAccessTime.QuadPart);
    EXPECT_EQ(times.LastWriteTime.QuadPart, before.LastWriteTime.QuadPart);
  }
  EXPECT_EQ(write.written.ChangeTime.QuadPart, before.ChangeTime.QuadPart);
}

struct HolderCase {
  const char* name;
  DWORD share;
  size_t release_at_pause;  // 0: held for the whole call
  bool removed;
  size_t pauses;
  bool gone_after_release;
};

class RemoveHeldFileTest : public testing::TestWithParam<HolderCase> {};

TEST_P(RemoveHeldFileTest, RetriesWhileAnotherProcessHoldsTheFile) {
  const HolderCase& c = GetParam();
  TemporaryDirectory directory(L"removal");
  const std::wstring path = PlainFile(directory.Path());
  FileHolder holder(path, c.share);
  ASSERT_TRUE(holder.Holding());
  {
    PauseCounter counter;
    if (c.release_at_pause != 0) {
      pauses.holder = &holder;
      pauses.release_at = c.release_at_pause;
    }
    EXPECT_EQ(RemoveWithRetries(path.c_str()), c.removed);
    EXPECT_EQ(pauses.lengths, HundredMillisecondPauses(c.pauses));
  }
  holder.Release();
  EXPECT_EQ(PathExists(path), !c.gone_after_release);
}

// Held without delete sharing, every open is refused with a sharing violation. Held with it, the
// file is marked at once and the system removes it when the holder closes, even after the call
// gave up.
INSTANTIATE_TEST_SUITE_P(
    Holders, RemoveHeldFileTest,
    testing::Values(HolderCase{"WithoutDeleteSharingThroughout", kShareReadWrite, 0, false, 99, false},
                    HolderCase{"WithoutDeleteSharingReleasedAtPause5", kShareReadWrite, 5, true, 5, true},
                    HolderCase{"WithDeleteSharingThroughout", kShareAll, 0, false, 99, true},
                    HolderCase{"WithDeleteSharingReleasedAtPause3", kShareAll, 3, true, 3, true}),
    [](const auto& info) { return std::string(info.param.name); });

// A scratch directory holding an archive and a setup program, as a run leaves them.
struct UnpackedFiles {
  explicit UnpackedFiles(const std::wstring& parent) {
    complete = BoundedCopy(scratch, EmptyDirectory(parent).c_str()) &&
               BoundedJoin(archive, scratch.units, L"archive.7z") && BoundedJoin(setup, scratch.units, L"setup.exe") &&
               WriteFileBytes(archive.units, "archive") && WriteFileBytes(setup.units, "setup");
  }

  PathBuffer scratch;
  PathBuffer archive;
  PathBuffer setup;
  bool complete = false;
};

// Held the way the run guards its scratch directory: no rename or delete until closed.
UniqueFileHandle GuardOf(const wchar_t* directory) {
  return UniqueFileHandle(CreateFileW(directory, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

TEST(RemoveExtractedFilesTest, RemovesBothFilesThenClosesTheGuardThenRemovesTheDirectory) {
  TemporaryDirectory directory(L"removal");
  const UnpackedFiles unpacked(directory.Path());
  ASSERT_TRUE(unpacked.complete);
  const PathBuffer& scratch = unpacked.scratch;
  const PathBuffer& archive = unpacked.archive;
  const PathBuffer& setup = unpacked.setup;

  UniqueFileHandle guard = GuardOf(scratch.units);
  ASSERT_TRUE(guard.IsValid());

  PauseCounter counter;
  RemoveExtractedFiles(archive, setup, scratch, guard);
  EXPECT_FALSE(guard.IsValid());
  EXPECT_TRUE(pauses.lengths.empty()) << "the directory must be empty and unguarded by its turn";
  EXPECT_TRUE(ListDirectory(directory.Path()).empty());
}

// The access and flags of every CreateFileW call while the record is kept.
struct FileOpen {
  DWORD access;
  DWORD flags;
};
std::vector<FileOpen> file_opens;
decltype(&CreateFileW) real_create_file = nullptr;

HANDLE WINAPI RecordingCreateFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE template_file) {
  file_opens.push_back({access, flags});
  return real_create_file(path, access, share, security, disposition, flags, template_file);
}

// Without FILE_FLAG_OPEN_REPARSE_POINT, Windows would open what a junction or link planted in the
// scratch directory points at, and the delete disposition would remove that instead of the link.
// The opens to mark, to prove a path gone and to clear a read-only bit all must ask for the
// reparse point itself (and backup semantics, which opens the directory).
TEST(RemoveExtractedFilesTest, EveryOpenTakesAReparsePointAsItself) {
  TemporaryDirectory directory(L"removal");
  const UnpackedFiles unpacked(directory.Path());
  ASSERT_TRUE(unpacked.complete);
  const PathBuffer& scratch = unpacked.scratch;
  const PathBuffer& archive = unpacked.archive;
  const PathBuffer& setup = unpacked.setup;
  ASSERT_TRUE(SetFileAttributesW(setup.units, FILE_ATTRIBUTE_READONLY));
  UniqueFileHandle guard = GuardOf(scratch.units);
  ASSERT_TRUE(guard.IsValid());

  file_opens.clear();
  {
    ImportRedirect open("kernel32.dll", "CreateFileW", reinterpret_cast<const void*>(&RecordingCreateFile));
    real_create_file = open.Original<decltype(&CreateFileW)>();
    PauseCounter counter;
    RemoveExtractedFiles(archive, setup, scratch, guard);
  }
  EXPECT_TRUE(ListDirectory(directory.Path()).empty());
  const auto opened_with = [](DWORD access) {
    return std::any_of(file_opens.begin(), file_opens.end(),
                       [access](const FileOpen& open) { return (open.access & access) == access; });
  };
  EXPECT_TRUE(opened_with(DELETE));
  EXPECT_TRUE(opened_with(FILE_WRITE_ATTRIBUTES)) << "the read-only bit is cleared through an open of its own";
  constexpr DWORD kFlags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
  for (const FileOpen& open : file_opens) {
    EXPECT_EQ(open.flags & kFlags, kFlags) << "open with access 0x" << std::hex << open.access;
  }
}

TEST(RemoveExtractedFilesTest, EmptyFilePathsLeaveOnlyTheDirectoryToRemove) {
  TemporaryDirectory directory(L"removal");
  PathBuffer scratch;
  ASSERT_TRUE(BoundedCopy(scratch, EmptyDirectory(directory.Path()).c_str()));
  PathBuffer empty;
  UniqueFileHandle no_guard;

  PauseCounter counter;
  RemoveExtractedFiles(empty, empty, scratch, no_guard);
  EXPECT_TRUE(pauses.lengths.empty());
  EXPECT_TRUE(ListDirectory(directory.Path()).empty());
}

}  // namespace
