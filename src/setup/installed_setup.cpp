#include "setup/installed_setup.h"

#include "conventions/product_names.h"
#include "handles/unique_handle.h"
#include "setup/registry_string.h"

namespace {

// Closes whatever key is held first; returns the status of RegOpenKeyExW.
LSTATUS OpenSoftwareKey(HKEY hive, REGSAM access, UniqueRegistryKey& key) noexcept {
  return RegOpenKeyExW(hive, kProductKey, 0, access | KEY_WOW64_32KEY, key.Put());
}

void CloseRegistryKey(UniqueRegistryKey& key) noexcept { key.Reset(); }

// "X:\..." only. A relative path would start whatever program of that name sits in the current
// directory, and a "\\server\share" path would reach out over the network.
bool IsLocalAbsolutePath(const wchar_t* path) noexcept {
  const wchar_t drive = path[0];
  const bool letter = (drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z');
  return letter && path[1] == L':' && path[2] == L'\\';
}

}  // namespace

ExitOutcome FindInstalledSetup(bool system_level, const wchar_t* previous_version, PathBuffer& path) noexcept {
  UniqueRegistryKey key;
  LSTATUS status = OpenSoftwareKey(system_level ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, KEY_QUERY_VALUE, key);
  if (status != ERROR_SUCCESS) return {EXIT_INSTALLED_SETUP_NOT_REGISTERED, static_cast<uint32_t>(status)};
  status = ReadKeyStringValue(key.Get(), kUninstallStringValueName, path.units, PathBuffer::capacity);
  CloseRegistryKey(key);
  if (status != ERROR_SUCCESS) return {EXIT_INSTALLED_SETUP_NOT_REGISTERED, static_cast<uint32_t>(status)};

  // A patch is made for one version: the registered path names the version it installed.
  if (FindNoCase(path.units, previous_version) == nullptr) return {EXIT_INSTALLED_VERSION_MISMATCH, 0};

  const uint64_t length = BoundedLength(path);
  if (path.units[0] == L'"' && length >= 2 && path.units[length - 1] == L'"') {
    static_cast<void>(BoundedCopy(path.units, PathBuffer::capacity, path.units + 1));
    path.units[length - 2] = 0;
  }
  if (!IsLocalAbsolutePath(path.units)) return {EXIT_INSTALLED_SETUP_NOT_REGISTERED, ERROR_BAD_PATHNAME};
  return {EXIT_OK, 0};
}
