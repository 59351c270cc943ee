// Finds the product archive and the setup resource among the image's resources of the types "B7",
// "BL" and "BN", writes both into the scratch directory, and expands a "BL" cabinet into
// "setup.exe". The payload is written straight from the mapped image, never copied.
#pragma once

#include <windows.h>

#include <cstdint>

#include "driver/exit_outcome.h"
#include "payload/memory_block.h"
#include "strings/bounded_wide_string.h"

// Sees each string-named resource of one type; false ends the enumeration of that type.
class ResourceVisitor {
 public:
  virtual bool VisitResource(const wchar_t* name, const MemoryBlock& block) noexcept = 0;

 protected:
  ~ResourceVisitor() = default;
};

// Sorts resources into the one archive ("drelix...") and the one setup resource ("setup...") and
// records the first naming error in status. It refers to the extraction's variables, which keep
// their values across the three types, so a duplicate in a later type is caught too.
class PayloadResourceCollector final : public ResourceVisitor {
 public:
  PayloadResourceCollector(PathBuffer& archive_name, MemoryBlock& archive_block, PathBuffer& setup_name,
                           MemoryBlock& setup_block, uint32_t& status) noexcept
      : archive_name_(archive_name),
        archive_block_(archive_block),
        setup_name_(setup_name),
        setup_block_(setup_block),
        status_(status) {}

  bool VisitResource(const wchar_t* name, const MemoryBlock& block) noexcept override;

 private:
  bool Take(const wchar_t* name, const MemoryBlock& block, PathBuffer& kept_name, MemoryBlock& kept_block) noexcept;

  PathBuffer& archive_name_;
  MemoryBlock& archive_block_;
  PathBuffer& setup_name_;
  MemoryBlock& setup_block_;
  uint32_t& status_;
};

BOOL CALLBACK ResourceNameCallback(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR value) noexcept;
bool EnumerateResourceNames(ResourceVisitor& visitor, HMODULE module, const wchar_t* type) noexcept;

ExitOutcome ExtractPayloadResources(HMODULE module, const PathBuffer& scratch_directory, PathBuffer& setup_path,
                                    ResourceTypeBuffer& setup_type, PathBuffer& archive_path,
                                    ResourceTypeBuffer& archive_type) noexcept;
