// The names through which the installer meets the product's other programs: the registry key its
// setup program registers under and the installer's settings, the value names read there, and the
// updater's environment variable.
#pragma once

inline constexpr wchar_t kProductKey[] = L"Software\\Zarvelo";
inline constexpr wchar_t kCleanupValueName[] = L"DrelixInstallerCleanup";
inline constexpr wchar_t kUninstallStringValueName[] = L"UninstallString";
inline constexpr wchar_t kMachineInstallVariable[] = L"HalvexUpdateIsMachine";
