#include "scratch/scratch_directory.h"

#include <sddl.h>

#include "conventions/scratch_directory_name.h"
#include "handles/unique_handle.h"

extern "C" __declspec(dllimport) BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);

namespace {

constexpr int kCreateTries = 10;
// The random digits, the suffix, the trailing backslash and the terminator.
constexpr uint64_t kNameTailUnits = kScratchNameRandomDigits + decltype(kScratchNameSuffix<wchar_t>)::Length() + 2;

// Protected, so nothing is inherited from the parent; the default owner is appended at the end.
constexpr wchar_t kAccessControlPrefix[] =
    L"D:PAI(A;;FA;;;BA)(A;OIIOCI;GA;;;BA)(A;;FA;;;SY)(A;OIIOCI;GA;;;SY)(A;OIIOCI;GA;;;CO)(A;;FA;;;";

// List-directory access takes part in Windows' sharing checks (an open for attributes alone would
// block nothing); not sharing delete refuses every rename and delete of the directory, while
// listings, which share read, still work.
UniqueFileHandle GuardDirectory(const wchar_t* directory) noexcept {
  return UniqueFileHandle(CreateFileW(directory, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// The SID of the token's default owner for new objects, as text in local memory.
bool GetOwnerSidString(UniqueLocalWideString& sid_string) noexcept {
  UniqueKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())) return false;

  DWORD size = 0;
  if (GetTokenInformation(token.Get(), TokenOwner, nullptr, 0, &size) || size == 0 ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return false;
  }
  UniqueLocalMemory buffer(LocalAlloc(LMEM_ZEROINIT, size));
  if (!buffer.IsValid()) return false;
  if (!GetTokenInformation(token.Get(), TokenOwner, buffer.Get(), size, &size)) return false;
  return ConvertSidToStringSidW(static_cast<TOKEN_OWNER*>(buffer.Get())->Owner, sid_string.Put()) != FALSE;
}

// False is a failure; true with an empty descriptor means the volume keeps no ACLs.
bool BuildScratchSecurity(const wchar_t* directory, UniqueLocalMemory& descriptor) noexcept {
  descriptor.Reset();
  PathBuffer volume_root;
  if (!GetVolumePathNameW(directory, volume_root.units, PathBuffer::capacity)) return true;
  DWORD flags = 0;
  if (!GetVolumeInformationW(volume_root.units, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) return true;
  if ((flags & FILE_PERSISTENT_ACLS) == 0) return true;

  UniqueLocalWideString sid_string;
  if (!GetOwnerSidString(sid_string)) return false;

  BoundedWideString<300> access_control;
  if (!BoundedJoin(access_control, kAccessControlPrefix, sid_string.Get(), L")")) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  return ConvertStringSecurityDescriptorToSecurityDescriptorW(access_control.units, SDDL_REVISION_1, descriptor.Put(),
                                                              nullptr) != FALSE;
}

}  // namespace

ExitOutcome MakeScratchDirectory(const wchar_t* executable_directory, PathBuffer& scratch_directory,
                                 UniqueFileHandle& directory_guard) noexcept {
  if (!BoundedJoin(scratch_directory, executable_directory, kScratchNamePrefix<wchar_t>.Get()))
    return {EXIT_PATH_TOO_LONG, 0};
  const uint64_t name_start = BoundedLength(scratch_directory);
  if (PathBuffer::capacity - name_start < kNameTailUnits) return {EXIT_PATH_TOO_LONG, 0};

  UniqueLocalMemory descriptor;
  if (!BuildScratchSecurity(executable_directory, descriptor)) {
    return {EXIT_SCRATCH_DIRECTORY_ACCESS_FAILED, GetLastError()};
  }
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.Get(), FALSE};

  // A taken name, or any other refusal, costs one try; each try draws a new name.
  for (int attempt = 0; attempt < kCreateTries; ++attempt) {
    unsigned char random[4] = {0, 0, 0, 0};  // a failing random source still gives a defined name
    SystemFunction036(random, sizeof(random));
    wchar_t* name = scratch_directory.units + name_start;
    static_cast<void>(HexEncode(random, sizeof(random), name, PathBuffer::capacity - name_start));
    name[kScratchNameRandomDigits] = 0;
    static_cast<void>(BoundedAppend(scratch_directory, kScratchNameSuffix<wchar_t>.Get()));
    if (!CreateDirectoryW(scratch_directory.units, descriptor.IsValid() ? &attributes : nullptr)) continue;
    // A directory that cannot be guarded is given up like a taken name.
    directory_guard = GuardDirectory(scratch_directory.units);
    if (!directory_guard.IsValid()) {
      RemoveDirectoryW(scratch_directory.units);
      continue;
    }
    static_cast<void>(BoundedAppend(scratch_directory, L"\\"));
    return {EXIT_OK, 0};
  }
  return {EXIT_SCRATCH_DIRECTORY_FAILED, 0};
}
