// The host's files on Linux: descriptors, O_TMPFILE and signal-safe cleanup of named temporaries.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

#include "encoding/escaped_text.h"
#include "host/host_file.h"

namespace {

std::string TypeName(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a plain file";
}

std::string NotRegular(mode_t mode) { return "is not a regular file (it is " + TypeName(mode) + ")"; }

// The names of temporary files, where a signal handler can reach them without allocating.
constexpr int kCleanupSlots = 4;
char cleanup_paths[kCleanupSlots][PATH_MAX];
volatile std::sig_atomic_t cleanup_used[kCleanupSlots];
constexpr std::array<int, 3> kCleanupSignals = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RemoveTemporaryFilesAndStop(int signal_number) {
  for (int slot = 0; slot < kCleanupSlots; ++slot) {
    if (cleanup_used[slot] != 0) unlink(cleanup_paths[slot]);
  }
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

void InstallCleanupHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction action = {};
  action.sa_handler = RemoveTemporaryFilesAndStop;
  sigemptyset(&action.sa_mask);
  for (int signal_number : kCleanupSignals) {
    struct sigaction previous = {};
    // A signal the caller chose to ignore (nohup) stays ignored.
    if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    sigaction(signal_number, &action, nullptr);
  }
}

// Holds SIGINT, SIGTERM and SIGHUP back while a name is made or moved, so the handler always sees
// the names that exist.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal_number : kCleanupSignals) sigaddset(&held, signal_number);
    sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

int RegisterForCleanup(const std::filesystem::path& path) {
  InstallCleanupHandlers();
  const std::string& text = path.native();
  if (text.size() >= PATH_MAX) return -1;
  for (int slot = 0; slot < kCleanupSlots; ++slot) {
    if (cleanup_used[slot] != 0) continue;
    std::memcpy(cleanup_paths[slot], text.c_str(), text.size() + 1);
    cleanup_used[slot] = 1;
    return slot;
  }
  return -1;
}

FileIdentity IdentityOf(const struct stat& status) {
  return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

}  // namespace

std::filesystem::path PathFromUtf8(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::optional<InputFile> OpenInputFile(const std::filesystem::path& path, std::string& reason) {
  // Non-blocking, so a FIFO opens at once and is refused below instead of waiting for a writer.
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (descriptor < 0) {
    reason = "does not exist or cannot be read";
    return std::nullopt;
  }
  struct stat status = {};
  const bool examined = fstat(descriptor, &status) == 0;
  if (!examined || !S_ISREG(status.st_mode)) {
    reason = examined ? NotRegular(status.st_mode) : "cannot be read";
    close(descriptor);
    return std::nullopt;
  }
  const int flags = fcntl(descriptor, F_GETFL);
  std::FILE* file =
      flags < 0 || fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0 ? nullptr : fdopen(descriptor, "rb");
  if (file == nullptr) {
    close(descriptor);
    reason = "cannot be read";
    return std::nullopt;
  }
  return InputFile{UniqueFile(file), static_cast<std::uint64_t>(status.st_size), IdentityOf(status),
                   static_cast<std::int64_t>(status.st_mtim.tv_sec)};
}

bool ExamineOutput(const std::filesystem::path& path, OutputTarget& target, std::string& reason) {
  target = OutputTarget{};
  struct stat status = {};
  if (lstat(path.c_str(), &status) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return true;  // the folder's own trouble is told when writing
    reason = "cannot be examined (" + SystemReason() + ")";
    return false;
  }
  // A symbolic link is replaced itself; what it leads to decides identity and mode.
  if (S_ISLNK(status.st_mode) && (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))) return true;
  if (!S_ISREG(status.st_mode)) {
    reason = NotRegular(status.st_mode);
    return false;
  }
  // Only the permission bits carry over: set-user-ID and set-group-ID on a file now the packer's own
  // would hand the new installer to whoever runs it with the packer's rights.
  target = {true, IdentityOf(status), static_cast<std::uint32_t>(status.st_mode & 0777)};
  return true;
}

std::unique_ptr<TemporaryFile> TemporaryFile::Create(const std::filesystem::path& directory, std::string& error) {
  std::unique_ptr<TemporaryFile> temporary(new TemporaryFile());
  temporary->directory_ = FolderOf(directory);
  const auto fail = [&](const std::string& reason) { return temporary->CreateFailed(reason, error); };
  int descriptor = open(temporary->directory_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (descriptor < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return fail(SystemReason());
  if (descriptor < 0) {
    // No unnamed files on this file system: a fresh name, made exclusively, never through a link.
    const SignalsHeld held;
    for (int attempt = 0; attempt < kNameTries && descriptor < 0; ++attempt) {
      const std::filesystem::path name = temporary->directory_ / RandomName();
      descriptor = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (descriptor < 0 && errno != EEXIST) return fail(SystemReason());
      if (descriptor >= 0) {
        temporary->name_ = name;
        temporary->cleanup_slot_ = RegisterForCleanup(name);
      }
    }
    if (descriptor < 0) return fail("every name tried was taken");
  }
  temporary->file_.reset(fdopen(descriptor, "w+b"));
  if (!temporary->file_) {
    close(descriptor);
    return fail(SystemReason());
  }
  return temporary;
}

// Links the unnamed file under a fresh name beside its destination, the only way to rename it.
bool TemporaryFile::Name(std::string& error) {
  const int descriptor = fileno(file_.get());
  const std::string own_link = "/proc/self/fd/" + std::to_string(descriptor);
  const SignalsHeld held;
  for (int attempt = 0; attempt < kNameTries; ++attempt) {
    const std::filesystem::path name = directory_ / RandomName();
    if (linkat(AT_FDCWD, own_link.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) != 0 &&
        linkat(descriptor, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) != 0) {
      if (errno == EEXIST) continue;
      error = "cannot name the finished file in " + Quoted(Utf8FromPath(directory_)) + ": " + SystemReason();
      return false;
    }
    name_ = name;
    cleanup_slot_ = RegisterForCleanup(name);
    return true;
  }
  error = "cannot name the finished file in " + Quoted(Utf8FromPath(directory_)) + ": every name tried was taken";
  return false;
}

void TemporaryFile::Forget() {
  if (cleanup_slot_ >= 0) cleanup_used[cleanup_slot_] = 0;
  cleanup_slot_ = -1;
  name_.clear();
}

bool TemporaryFile::MoveTo(const std::filesystem::path& destination, std::uint32_t mode, std::string& error) {
  if (fchmod(fileno(file_.get()), static_cast<mode_t>(mode)) != 0 || std::fflush(file_.get()) != 0 ||
      std::ferror(file_.get()) != 0) {
    error = "writing " + Quoted(Utf8FromPath(destination)) + " failed (disk full?)";
    return false;
  }
  if (name_.empty() && !Name(error)) return false;
  if (std::fclose(file_.release()) != 0) {
    error = "writing " + Quoted(Utf8FromPath(destination)) + " failed (disk full?)";
    return false;
  }
  const SignalsHeld held;
  if (std::rename(name_.c_str(), destination.c_str()) != 0) {
    error = "cannot move the finished file into place as " + Quoted(Utf8FromPath(destination)) + ": " + SystemReason();
    return false;
  }
  Forget();
  return true;
}

TemporaryFile::~TemporaryFile() {
  file_.reset();
  if (name_.empty()) return;
  const SignalsHeld held;
  unlink(name_.c_str());
  Forget();
}

std::uint32_t TemporaryFile::DefaultMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~static_cast<std::uint32_t>(mask);
}
