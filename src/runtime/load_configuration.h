// The 64-bit load configuration directory as Windows documents it today (IMAGE_LOAD_CONFIG_DIRECTORY64
// of the current Windows SDK). MinGW's headers carry only its first, short form, which ends before
// the Control Flow Guard fields. Field names keep the platform's spelling; every field starts at
// zero, which the loader reads as "not used".
#pragma once

#include <cstddef>
#include <cstdint>

// A field that holds an address, or a value the linker hands over as the address of a symbol of
// its own (a table's length, the guard flags): in a constant initialiser the only link-time value
// C++ can write is an address. On x64 an address has the documented ULONGLONG's size and alignment.
using LoadConfigurationAddress = const void*;

struct LoadConfigurationCodeIntegrity {
  std::uint16_t Flags{};
  std::uint16_t Catalog{};
  std::uint32_t CatalogOffset{};
  std::uint32_t Reserved{};
};

struct LoadConfigurationDirectory64 {
  std::uint32_t Size{};
  std::uint32_t TimeDateStamp{};
  std::uint16_t MajorVersion{};
  std::uint16_t MinorVersion{};
  std::uint32_t GlobalFlagsClear{};
  std::uint32_t GlobalFlagsSet{};
  std::uint32_t CriticalSectionDefaultTimeout{};
  std::uint64_t DeCommitFreeBlockThreshold{};
  std::uint64_t DeCommitTotalFreeThreshold{};
  LoadConfigurationAddress LockPrefixTable{};
  std::uint64_t MaximumAllocationSize{};
  std::uint64_t VirtualMemoryThreshold{};
  std::uint64_t ProcessAffinityMask{};
  std::uint32_t ProcessHeapFlags{};
  std::uint16_t CSDVersion{};
  std::uint16_t DependentLoadFlags{};
  LoadConfigurationAddress EditList{};
  LoadConfigurationAddress SecurityCookie{};
  LoadConfigurationAddress SEHandlerTable{};
  std::uint64_t SEHandlerCount{};
  LoadConfigurationAddress GuardCFCheckFunctionPointer{};
  LoadConfigurationAddress GuardCFDispatchFunctionPointer{};
  LoadConfigurationAddress GuardCFFunctionTable{};
  LoadConfigurationAddress GuardCFFunctionCount{};
  std::uint32_t GuardFlags{};
  LoadConfigurationCodeIntegrity CodeIntegrity{};
  LoadConfigurationAddress GuardAddressTakenIatEntryTable{};
  LoadConfigurationAddress GuardAddressTakenIatEntryCount{};
  LoadConfigurationAddress GuardLongJumpTargetTable{};
  LoadConfigurationAddress GuardLongJumpTargetCount{};
  LoadConfigurationAddress DynamicValueRelocTable{};
  LoadConfigurationAddress CHPEMetadataPointer{};
  LoadConfigurationAddress GuardRFFailureRoutine{};
  LoadConfigurationAddress GuardRFFailureRoutineFunctionPointer{};
  std::uint32_t DynamicValueRelocTableOffset{};
  std::uint16_t DynamicValueRelocTableSection{};
  std::uint16_t Reserved2{};
  LoadConfigurationAddress GuardRFVerifyStackPointerFunctionPointer{};
  std::uint32_t HotPatchTableOffset{};
  std::uint32_t Reserved3{};
  LoadConfigurationAddress EnclaveConfigurationPointer{};
  LoadConfigurationAddress VolatileMetadataPointer{};
  LoadConfigurationAddress GuardEHContinuationTable{};
  LoadConfigurationAddress GuardEHContinuationCount{};
  LoadConfigurationAddress GuardXFGCheckFunctionPointer{};
  LoadConfigurationAddress GuardXFGDispatchFunctionPointer{};
  LoadConfigurationAddress GuardXFGTableDispatchFunctionPointer{};
  std::uint64_t CastGuardOsDeterminedFailureMode{};
  LoadConfigurationAddress GuardMemcpyFunctionPointer{};
};

// The documented offsets of the fields the loader and the scanners read, and the whole size.
static_assert(sizeof(LoadConfigurationAddress) == sizeof(std::uint64_t));
static_assert(alignof(LoadConfigurationAddress) == alignof(std::uint64_t));
static_assert(offsetof(LoadConfigurationDirectory64, DependentLoadFlags) == 0x4E);
static_assert(offsetof(LoadConfigurationDirectory64, SecurityCookie) == 0x58);
static_assert(offsetof(LoadConfigurationDirectory64, GuardCFCheckFunctionPointer) == 0x70);
static_assert(offsetof(LoadConfigurationDirectory64, GuardFlags) == 0x90);
static_assert(offsetof(LoadConfigurationDirectory64, GuardAddressTakenIatEntryTable) == 0xA0);
static_assert(offsetof(LoadConfigurationDirectory64, DynamicValueRelocTableOffset) == 0xE0);
static_assert(offsetof(LoadConfigurationDirectory64, GuardEHContinuationTable) == 0x108);
static_assert(offsetof(LoadConfigurationDirectory64, GuardMemcpyFunctionPointer) == 0x138);
static_assert(sizeof(LoadConfigurationDirectory64) == 0x140);

// GuardFlags bits.
inline constexpr std::uint32_t kGuardCfInstrumented = 0x100;
inline constexpr std::uint32_t kGuardCfFunctionTablePresent = 0x400;
inline constexpr std::uint32_t kGuardCfLongJumpTablePresent = 0x10000;

// The value the platform's loader recognises in an image's security cookie and replaces with a
// random one of its own before the image runs (x64: the top 16 bits stay clear).
inline constexpr std::uint64_t kDefaultSecurityCookie = 0x00002B992DDFA232;
