// The host's files on Windows: wide-character names, handles examined before a C stream takes them,
// and temporaries marked for deletion until they are moved into place.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include "encoding/escaped_text.h"
#include "encoding/text_encoding.h"
#include "host/host_file.h"

namespace {

std::string WindowsReason() { return "Windows error " + std::to_string(GetLastError()); }

std::int64_t SecondsSince1970(FILETIME time) {
  constexpr std::int64_t kTicksFrom1601To1970 = 116444736000000000;
  const std::int64_t ticks = static_cast<std::int64_t>(std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime);
  return (ticks - kTicksFrom1601To1970) / 10000000;
}

// Type and identity of an open handle; false with `reason` for anything but a regular file.
bool ExamineHandle(HANDLE handle, BY_HANDLE_FILE_INFORMATION& information, std::string& reason) {
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    reason = "is not a regular file (it is a device or a pipe)";
    return false;
  }
  if (!GetFileInformationByHandle(handle, &information)) {
    reason = "cannot be examined (" + WindowsReason() + ")";
    return false;
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    reason = "is not a regular file (it is a directory)";
    return false;
  }
  return true;
}

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& information) {
  return {information.dwVolumeSerialNumber,
          std::uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow};
}

// A file handle owned until a C stream takes it over; closed on every other way out.
class OwnedFileHandle {
 public:
  explicit OwnedFileHandle(HANDLE handle) : handle_(handle) {}
  OwnedFileHandle(const OwnedFileHandle&) = delete;
  OwnedFileHandle& operator=(const OwnedFileHandle&) = delete;
  ~OwnedFileHandle() {
    if (IsValid()) CloseHandle(handle_);
  }
  HANDLE Get() const { return handle_; }
  bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE; }
  // A stream over the handle, which then belongs to the stream; null when none can be made, the
  // handle (or the descriptor made of it) closed.
  std::FILE* IntoStream(int flags, const char* mode) {
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle_), flags);
    if (descriptor < 0) return nullptr;
    handle_ = INVALID_HANDLE_VALUE;
    std::FILE* file = _fdopen(descriptor, mode);
    if (file == nullptr) _close(descriptor);
    return file;
  }

 private:
  HANDLE handle_;
};

bool SetDeleteOnClose(HANDLE handle, bool delete_file) {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = delete_file ? TRUE : FALSE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

}  // namespace

// Windows names are UTF-16 that need not be valid: an unpaired surrogate travels as its three-byte
// form both ways, where the library's own conversion would throw.
std::filesystem::path PathFromUtf8(const std::string& path) {
  const std::u16string units = Utf16FromWtf8(path);
  return std::filesystem::path(std::wstring(units.begin(), units.end()));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::wstring& units = path.native();
  return Wtf8FromUtf16(std::u16string(units.begin(), units.end()));
}

std::optional<InputFile> OpenInputFile(const std::filesystem::path& path, std::string& reason) {
  // Backup semantics open a directory too, so it is named for what it is.
  OwnedFileHandle handle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.IsValid()) {
    reason = "does not exist or cannot be read";
    return std::nullopt;
  }
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!ExamineHandle(handle.Get(), information, reason)) return std::nullopt;
  std::FILE* file = handle.IntoStream(_O_RDONLY | _O_BINARY, "rb");
  if (file == nullptr) {
    reason = "cannot be read";
    return std::nullopt;
  }
  return InputFile{UniqueFile(file), std::uint64_t{information.nFileSizeHigh} << 32 | information.nFileSizeLow,
                   IdentityOf(information), SecondsSince1970(information.ftLastWriteTime)};
}

bool ExamineOutput(const std::filesystem::path& path, OutputTarget& target, std::string& reason) {
  target = OutputTarget{};
  const OwnedFileHandle handle(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.IsValid()) {
    const DWORD failure = GetLastError();
    if (failure == ERROR_FILE_NOT_FOUND || failure == ERROR_PATH_NOT_FOUND) return true;
    reason = "cannot be examined (Windows error " + std::to_string(failure) + ")";
    return false;
  }
  BY_HANDLE_FILE_INFORMATION information = {};
  const bool regular = ExamineHandle(handle.Get(), information, reason);
  if (regular) target = {true, IdentityOf(information), 0};
  return regular;
}

std::unique_ptr<TemporaryFile> TemporaryFile::Create(const std::filesystem::path& directory, std::string& error) {
  std::unique_ptr<TemporaryFile> temporary(new TemporaryFile());
  temporary->directory_ = FolderOf(directory);
  const auto fail = [&](const std::string& reason) { return temporary->CreateFailed(reason, error); };
  for (int attempt = 0; attempt < kNameTries; ++attempt) {
    const std::filesystem::path name = temporary->directory_ / RandomName();
    // CREATE_NEW fails on any existing name, a link included: the file is always a new one.
    OwnedFileHandle handle(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle.IsValid()) {
      if (GetLastError() != ERROR_FILE_EXISTS) return fail(WindowsReason());
      continue;
    }
    temporary->name_ = name;
    // Marked for deletion at once: however the process ends, closing the handle removes the file,
    // until MoveTo takes the mark off.
    SetDeleteOnClose(handle.Get(), true);
    temporary->file_.reset(handle.IntoStream(_O_RDWR | _O_BINARY, "w+b"));
    if (!temporary->file_) return fail("cannot open it as a stream");
    return temporary;
  }
  return fail("every name tried was taken");
}

void TemporaryFile::Forget() { name_.clear(); }

bool TemporaryFile::MoveTo(const std::filesystem::path& destination, std::uint32_t, std::string& error) {
  if (std::fflush(file_.get()) != 0 || std::ferror(file_.get()) != 0) {
    error = "writing " + Quoted(Utf8FromPath(destination)) + " failed (disk full?)";
    return false;
  }
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file_.get())));
  if (!SetDeleteOnClose(handle, false)) {
    error = "cannot keep the finished file (" + WindowsReason() + ")";
    return false;
  }
  if (std::fclose(file_.release()) != 0) {
    error = "writing " + Quoted(Utf8FromPath(destination)) + " failed (disk full?)";
    return false;
  }
  if (!MoveFileExW(name_.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    error = "cannot move the finished file into place as " + Quoted(Utf8FromPath(destination)) + ": " + WindowsReason();
    return false;
  }
  Forget();
  return true;
}

TemporaryFile::~TemporaryFile() {
  file_.reset();
  if (!name_.empty()) DeleteFileW(name_.c_str());
}

std::uint32_t TemporaryFile::DefaultMode() { return 0; }
