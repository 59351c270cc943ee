// The output file that is either completed or vanishes: how a block is cut into writes, what a
// failing or short write leaves behind, and what the share mode lets other handles do meanwhile.
//
// Everything runs against the real file system under Wine. A pass-through WriteFile records the
// calls to show how a block is cut; a write that succeeds having taken nothing, and a short write
// that is followed by a successful one, cannot be had from Wine and are served by that redirect.
// A really full volume is a 1 MiB tmpfs that with_full_volume.sh maps as a drive.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload/pending_output_file.h"
#include "support/child_process.h"
#include "support/import_redirect.h"
#include "support/test_files.h"

namespace {

constexpr DWORD kChunk = 8 * 1024 * 1024;

struct WriteCall {
  DWORD asked;
  DWORD written;
  BOOL succeeded;
};

// What the redirected WriteFile does: pass through (limit 0), pass through at most `limit` bytes
// per call, or claim success having written nothing.
struct WriteBehaviour {
  DWORD limit = 0;
  bool claim_nothing_written = false;
};

std::vector<WriteCall> write_calls;
WriteBehaviour write_behaviour;
decltype(&WriteFile) real_write_file = nullptr;

BOOL WINAPI RecordingWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
  if (write_behaviour.claim_nothing_written) {
    *written = 0;
    write_calls.push_back({size, 0, TRUE});
    return TRUE;
  }
  const DWORD passed = write_behaviour.limit != 0 && size > write_behaviour.limit ? write_behaviour.limit : size;
  const BOOL result = real_write_file(file, data, passed, written, overlapped);
  const DWORD error = GetLastError();
  write_calls.push_back({size, *written, result});
  SetLastError(error);
  return result;
}

// Starts recording WriteFile calls for the life of the object.
class WriteRecorder {
 public:
  explicit WriteRecorder(WriteBehaviour behaviour = {})
      : redirect_("kernel32.dll", "WriteFile", reinterpret_cast<const void*>(&RecordingWriteFile)) {
    real_write_file = redirect_.Original<decltype(&WriteFile)>();
    write_calls.clear();
    write_behaviour = behaviour;
  }

 private:
  ImportRedirect redirect_;
};

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t index = 0; index < size; ++index) bytes[index] = static_cast<char>((index * 131) ^ (index >> 11));
  return bytes;
}

MemoryBlock BlockOf(const std::string& bytes) { return MemoryBlock{bytes.data(), bytes.size()}; }

HANDLE OpenShared(const std::wstring& path, DWORD access, DWORD share) {
  return CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

struct ChunkCase {
  const char* name;
  size_t size;
  std::vector<DWORD> writes;
};

class WriteBlockChunkTest : public testing::TestWithParam<ChunkCase> {};

TEST_P(WriteBlockChunkTest, WritesWholeBlockInChunksOfAtMost8MiB) {
  const ChunkCase& c = GetParam();
  TemporaryDirectory directory(L"output");
  const std::wstring path = directory / L"block.bin";
  const std::string bytes = Pattern(c.size);
  std::vector<DWORD> asked;
  {
    WriteRecorder recorder;
    ASSERT_TRUE(WriteBlockToFile(BlockOf(bytes), path.c_str()));
    for (const WriteCall& call : write_calls) asked.push_back(call.asked);
  }
  EXPECT_EQ(asked, c.writes);
  ASSERT_TRUE(PathExists(path));
  EXPECT_TRUE(ReadFileBytes(path) == bytes) << "the file must hold exactly the block";
}

INSTANTIATE_TEST_SUITE_P(Sizes, WriteBlockChunkTest,
                         testing::Values(ChunkCase{"Empty", 0, {}}, ChunkCase{"OneByte", 1, {1}},
                                         ChunkCase{"Exactly8MiB", kChunk, {kChunk}},
                                         ChunkCase{"OneByteMore", kChunk + 1, {kChunk, 1}}),
                         [](const auto& info) { return std::string(info.param.name); });

// A write may succeed having taken only part of what it was given; the rest follows in more calls.
TEST(WriteBlockToFileTest, ShortWritesAreContinuedUntilTheBlockIsComplete) {
  TemporaryDirectory directory(L"output");
  const std::wstring path = directory / L"short.bin";
  const std::string bytes = Pattern(10000);
  std::vector<DWORD> asked;
  {
    WriteRecorder recorder(WriteBehaviour{3000, false});
    ASSERT_TRUE(WriteBlockToFile(BlockOf(bytes), path.c_str()));
    for (const WriteCall& call : write_calls) asked.push_back(call.asked);
  }
  EXPECT_EQ(asked, (std::vector<DWORD>{10000, 7000, 4000, 1000}));
  EXPECT_TRUE(ReadFileBytes(path) == bytes);
}

TEST(WriteBlockToFileTest, WriteThatTakesNothingFailsWithWriteFaultAndLeavesNoFile) {
  TemporaryDirectory directory(L"output");
  const std::wstring path = directory / L"nothing.bin";
  const std::string bytes = Pattern(100);
  DWORD error = 0;
  {
    WriteRecorder recorder(WriteBehaviour{0, true});
    EXPECT_FALSE(WriteBlockToFile(BlockOf(bytes), path.c_str()));
    error = GetLastError();
    EXPECT_EQ(write_calls.size(), 1u);
  }
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_WRITE_FAULT));
  EXPECT_FALSE(PathExists(path));
  EXPECT_TRUE(ListDirectory(directory.Path()).empty());
}

// Needs a drive whose volume is really full; with_full_volume.sh provides one, or
// says why it could not.
TEST(WriteBlockToFileFullVolumeTest, FailedWriteLeavesNoFileAndKeepsItsError) {
  std::string unavailable_reason;
  const std::wstring root = FullVolumeRoot(unavailable_reason);
  if (root.empty()) GTEST_SKIP() << "no full volume: " << unavailable_reason;
  ASSERT_TRUE(ListDirectory(root).empty()) << "the volume must start empty";
  const std::wstring path = root + L"archive.bin";
  const std::string bytes = Pattern(3 * 1024 * 1024);

  std::vector<WriteCall> calls;
  DWORD error = 0;
  {
    WriteRecorder recorder;
    EXPECT_FALSE(WriteBlockToFile(BlockOf(bytes), path.c_str()));
    error = GetLastError();
    calls = write_calls;
  }
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_FALSE(PathExists(path));
  EXPECT_TRUE(ListDirectory(root).empty());

  // The volume first takes part of the block and reports success, then refuses the rest.
  ASSERT_GE(calls.size(), 2u);
  EXPECT_TRUE(calls.front().succeeded);
  EXPECT_GT(calls.front().written, 0u);
  EXPECT_LT(calls.front().written, calls.front().asked);
  EXPECT_FALSE(calls.back().succeeded);
}

// Output goes only into new files: a name that already exists was put there by someone else, and is
// neither followed nor changed, whoever holds it and however.
TEST(WriteBlockToFileTest, ExistingFileIsRefusedAndKept) {
  TemporaryDirectory directory(L"output");
  const std::wstring path = directory / L"archive.bin";
  ASSERT_TRUE(WriteFileBytes(path, "planted"));
  const std::string bytes = "new";
  for (const DWORD share : {DWORD{0}, DWORD{FILE_SHARE_READ}, kShareAll}) {
    const HANDLE holder = share == kShareAll ? INVALID_HANDLE_VALUE : OpenShared(path, GENERIC_READ, share);
    EXPECT_FALSE(WriteBlockToFile(BlockOf(bytes), path.c_str())) << "share " << share;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS)) << "share " << share;
    if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
    EXPECT_EQ(ReadFileBytes(path), "planted") << "share " << share;
  }
}

TEST(WriteBlockToFileTest, PathBeyond259UnitsFailsBeforeTouchingTheFileSystem) {
  TemporaryDirectory directory(L"output");
  const std::wstring path = directory.Path() + std::wstring(260 - directory.Path().size(), L'p');
  ASSERT_EQ(path.size(), 260u);
  const std::string bytes = "x";
  SetLastError(12345);
  EXPECT_FALSE(WriteBlockToFile(BlockOf(bytes), path.c_str()));
  EXPECT_EQ(GetLastError(), 12345u) << "no call was made, so no error is set";
  EXPECT_TRUE(ListDirectory(directory.Path()).empty());
}

TEST(WriteBlockToFileTest, MissingDirectoryFailsWithCreateFileError) {
  TemporaryDirectory directory(L"output");
  const std::string bytes = "x";
  EXPECT_FALSE(WriteBlockToFile(BlockOf(bytes), (directory / L"missing\\file.bin").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

class PendingOutputFileTest : public testing::Test {
 protected:
  TemporaryDirectory directory_{L"pending"};
  std::wstring path_ = directory_ / L"setup.exe";
};

TEST_F(PendingOutputFileTest, ClosedObjectReportsNothingAndClosesHarmlessly) {
  PendingOutputFile file;
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.Handle(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(file.Complete());
  EXPECT_EQ(file.Duplicate(), INVALID_HANDLE_VALUE);
  file.Close();
  file.Close();
  EXPECT_EQ(std::wstring(file.Path()), L"");

  ASSERT_TRUE(file.Open(path_.c_str()));
  EXPECT_EQ(std::wstring(file.Path()), path_);
  file.Close();
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(std::wstring(file.Path()), L"");
  EXPECT_FALSE(PathExists(path_)) << "a file closed without being completed is gone";

  ASSERT_TRUE(file.Open(path_.c_str()));
  EXPECT_TRUE(file.Complete());
  EXPECT_FALSE(file.IsOpen());
  EXPECT_TRUE(PathExists(path_)) << "a completed file stays";
}

// While the object holds the file, nobody else can read or change it; only delete access is shared.
TEST_F(PendingOutputFileTest, HeldFileRefusesReadersAndWritersButSharesDelete) {
  PendingOutputFile file;
  ASSERT_TRUE(file.Open(path_.c_str()));
  for (const DWORD access : {DWORD{GENERIC_READ}, DWORD{GENERIC_WRITE}}) {
    const HANDLE other = OpenShared(path_, access, kShareAll);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE) << "access " << std::hex << access;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  }
  const HANDLE deleter = OpenShared(path_, DELETE, kShareAll);
  EXPECT_NE(deleter, INVALID_HANDLE_VALUE);
  if (deleter != INVALID_HANDLE_VALUE) CloseHandle(deleter);
}

TEST_F(PendingOutputFileTest, OpenWhileOpenDiscardsThePreviousFile) {
  PendingOutputFile file;
  ASSERT_TRUE(file.Open(path_.c_str()));
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file.Handle(), "first", 5, &written, nullptr));
  const std::wstring second = directory_ / L"second.bin";
  ASSERT_TRUE(file.Open(second.c_str()));
  EXPECT_EQ(std::wstring(file.Path()), second);
  EXPECT_FALSE(PathExists(path_)) << "the first file was never completed";
  ASSERT_TRUE(file.Complete());
  EXPECT_EQ(ListDirectory(directory_.Path()), std::vector<std::wstring>{L"second.bin"});
}

// Writes through a duplicate land in the same file. A file that is not completed is gone once the
// last handle closes, whichever closes last; completing keeps it even while a duplicate is open.
TEST_F(PendingOutputFileTest, FileIsKeptOnlyWhenCompletedWhicheverHandleClosesLast) {
  for (const bool complete : {false, true}) {
    for (const bool duplicate_closed_first : {true, false}) {
      const std::string label = std::string(complete ? "completed" : "not completed") +
                                (duplicate_closed_first ? ", duplicate closed first" : ", duplicate closed last");
      PendingOutputFile file;
      ASSERT_TRUE(file.Open(path_.c_str()));
      const HANDLE copy = file.Duplicate();
      ASSERT_NE(copy, INVALID_HANDLE_VALUE);
      ASSERT_NE(copy, file.Handle());
      DWORD written = 0;
      ASSERT_TRUE(WriteFile(copy, "written", 7, &written, nullptr));
      if (duplicate_closed_first) CloseHandle(copy);
      if (complete) {
        ASSERT_TRUE(file.Complete()) << label;
      } else {
        file.Close();
      }
      if (!duplicate_closed_first) {
        EXPECT_EQ(ListDirectory(directory_.Path()), std::vector<std::wstring>{L"setup.exe"}) << label;
        CloseHandle(copy);
      }
      EXPECT_EQ(PathExists(path_), complete) << label;
      if (complete) {
        EXPECT_EQ(ReadFileBytes(path_), "written") << label;
      }
      ASSERT_TRUE(RemoveTree(path_));
    }
  }
}

// A writer killed in the middle of a file, as by a timed-out updater or the task manager, leaves
// nothing: the file is marked for deletion from the moment it exists.
TEST_F(PendingOutputFileTest, WriterKilledMidwayLeavesNoFile) {
  for (const bool complete : {false, true}) {
    const std::wstring path = directory_ / (complete ? L"completed.bin" : L"killed.bin");
    const std::wstring ready_name = L"pending_output_ready_" + std::to_wstring(GetCurrentProcessId());
    const HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str());
    ASSERT_NE(ready, nullptr);
    const std::wstring writer = ProgramDirectory() + L"output_file_writer.exe";
    const HANDLE process = StartChild(
        writer, L"\"" + writer + L"\" \"" + path + L"\" " + ready_name + (complete ? L" complete" : L" hold"));
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(WaitForSingleObject(ready, 30000), WAIT_OBJECT_0);
    EXPECT_TRUE(PathExists(path)) << "the file exists while it is written";
    TerminateProcess(process, 9);
    WaitForChild(process);
    CloseHandle(ready);
    EXPECT_EQ(PathExists(path), complete) << (complete ? "completed before the kill" : "killed midway");
  }
}

}  // namespace
