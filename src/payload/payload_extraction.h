// Finds the product archive and the setup resource among the image's resources of the types "B7",
// "BL" and "BN", writes both into the scratch directory, and expands a "BL" cabinet into
// "setup.exe". The payload is written straight from the mapped image, never copied.
#pragma once

#include <windows.h>

#include <cstdint>

#include "conventions/exit_outcome.h"
#include "payload/memory_block.h"
#include "strings/bounded_wide_string.h"

// Sees each string-named resource of one type; false ends the enumeration of that type.
class ResourceVisitor {
 public:
  virtual bool VisitResource(const wchar_t* name, const MemoryBlock& block) noexcept = 0;

 protected:
  ~ResourceVisitor() = default;
};

// What the passes over the three types have found so far. It keeps its values from one type to the
// next, so a duplicate in a later type is caught too; status is the first naming error of a pass.
struct FoundPayload {
  PathBuffer archive_name;
  MemoryBlock archive_block;
  PathBuffer setup_name;
  MemoryBlock setup_block;
  uint32_t status = 0;
};

// Sorts resources into the one archive ("drelix...") and the one setup resource ("setup...").
class PayloadResourceCollector final : public ResourceVisitor {
 public:
  explicit PayloadResourceCollector(FoundPayload& found) noexcept : found_(found) {}

  bool VisitResource(const wchar_t* name, const MemoryBlock& block) noexcept override;

 private:
  bool Take(const wchar_t* name, const MemoryBlock& block, PathBuffer& kept_name, MemoryBlock& kept_block) noexcept;

  FoundPayload& found_;
};

// Where extraction put the two files and the types their resources had. A path is set once its file
// was attempted, so the clean-up removes exactly what a run may have left; a "BL" setup path names
// the expanded "setup.exe", a "B7" one the patch file.
struct ExtractedPayload {
  PathBuffer archive_path;
  ResourceTypeBuffer archive_type;
  PathBuffer setup_path;
  ResourceTypeBuffer setup_type;
};

ExitOutcome ExtractPayloadResources(HMODULE module, const PathBuffer& scratch_directory,
                                    ExtractedPayload& extracted) noexcept;
