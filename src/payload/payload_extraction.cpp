#include "payload/payload_extraction.h"

#include "cleanup/removal.h"
#include "payload/cabinet_expansion.h"
#include "payload/payload_types.h"
#include "payload/pending_output_file.h"

namespace {

// A name becomes a file name in the scratch directory, so it must not be able to point anywhere
// else: no separators and no drive or stream colon. "." and ".." never get here, since every
// payload name begins with a prefix.
bool IsPlainFileName(const wchar_t* name) noexcept {
  for (const wchar_t* unit = name; *unit != 0; ++unit) {
    if (*unit == L'\\' || *unit == L'/' || *unit == L':') return false;
  }
  return true;
}

// Any resource that cannot be read, and any integer-identified one, ends the pass quietly: integer
// ids come after all named entries, so the named payload of the type has been seen by then.
BOOL CALLBACK ResourceNameCallback(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR value) noexcept {
  auto* visitor = reinterpret_cast<ResourceVisitor*>(value);
  if (visitor == nullptr || IS_INTRESOURCE(name)) return FALSE;
  HRSRC resource = FindResourceW(module, name, type);
  if (resource == nullptr) return FALSE;
  const DWORD size = SizeofResource(module, resource);
  if (size == 0) return FALSE;
  HGLOBAL loaded = LoadResource(module, resource);
  if (loaded == nullptr) return FALSE;
  const void* data = LockResource(loaded);
  if (data == nullptr) return FALSE;
  return visitor->VisitResource(name, MemoryBlock{data, size}) ? TRUE : FALSE;
}

bool EnumerateResourceNames(ResourceVisitor& visitor, HMODULE module, const wchar_t* type) noexcept {
  return EnumResourceNamesW(module, type, ResourceNameCallback, reinterpret_cast<LONG_PTR>(&visitor)) != FALSE;
}

}  // namespace

bool PayloadResourceCollector::VisitResource(const wchar_t* name, const MemoryBlock& block) noexcept {
  if (StartsWithNoCase(name, kArchivePrefix<wchar_t>.Get()))
    return Take(name, block, found_.archive_name, found_.archive_block);
  if (StartsWithNoCase(name, kSetupPrefix<wchar_t>.Get()))
    return Take(name, block, found_.setup_name, found_.setup_block);
  found_.status = ERROR_INVALID_DATA;
  return false;
}

bool PayloadResourceCollector::Take(const wchar_t* name, const MemoryBlock& block, PathBuffer& kept_name,
                                    MemoryBlock& kept_block) noexcept {
  if (kept_block.size != 0) {
    found_.status = ERROR_TOO_MANY_NAMES;
    return false;
  }
  if (!BoundedCopy(kept_name, name)) {
    found_.status = ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  if (!IsPlainFileName(name)) {
    kept_name.units[0] = 0;
    found_.status = ERROR_INVALID_DATA;
    return false;
  }
  kept_block = block;
  return true;
}

ExitOutcome ExtractPayloadResources(HMODULE module, const PathBuffer& scratch_directory,
                                    ExtractedPayload& extracted) noexcept {
  PathBuffer& archive_path = extracted.archive_path;
  ResourceTypeBuffer& archive_type = extracted.archive_type;
  PathBuffer& setup_path = extracted.setup_path;
  ResourceTypeBuffer& setup_type = extracted.setup_type;
  FoundPayload found;
  PayloadResourceCollector collector(found);

  for (const PayloadType<wchar_t>& record : kPayloadTypes<wchar_t>) {
    const wchar_t* type = record.name;
    found.status = 0;
    static_cast<void>(EnumerateResourceNames(collector, module, type));
    // A naming error is blamed on the setup program once an earlier pass has found the archive,
    // and on the archive before that.
    if (found.status != 0) {
      const uint32_t code =
          BoundedLength(archive_type) != 0 ? EXIT_SETUP_EXTRACTION_FAILED : EXIT_ARCHIVE_EXTRACTION_FAILED;
      return {code, found.status};
    }
    if (BoundedLength(archive_type) == 0 && found.archive_block.size != 0) {
      static_cast<void>(BoundedCopy(archive_type, type));
    }
    if (BoundedLength(setup_type) == 0 && found.setup_block.size != 0) static_cast<void>(BoundedCopy(setup_type, type));
  }
  if (found.archive_block.size == 0) return {EXIT_ARCHIVE_EXTRACTION_FAILED, ERROR_FILE_NOT_FOUND};
  if (found.setup_block.size == 0) return {EXIT_SETUP_EXTRACTION_FAILED, ERROR_FILE_NOT_FOUND};

  // The archive goes first, and is never expanded or converted whatever its type.
  if (!BoundedJoin(archive_path, scratch_directory.units, found.archive_name.units)) return {EXIT_PATH_TOO_LONG, 0};
  if (!WriteBlockToFile(found.archive_block, archive_path.units)) {
    return {EXIT_ARCHIVE_EXTRACTION_FAILED, GetLastError()};
  }

  const SetupForm setup_form = SetupFormOfType(setup_type);
  const wchar_t* setup_file_name =
      setup_form == SetupForm::kPlain ? kSetupProgramName<wchar_t>.Get() : found.setup_name.units;
  if (!BoundedJoin(setup_path, scratch_directory.units, setup_file_name)) return {EXIT_PATH_TOO_LONG, 0};
  if (!WriteBlockToFile(found.setup_block, setup_path.units)) return {EXIT_SETUP_WRITE_FAILED, GetLastError()};
  if (setup_form != SetupForm::kCabinet) return {EXIT_OK, 0};

  // The cabinet is deleted whether or not it expanded; setup_path then names the expansion's
  // target either way, which is what the clean-up must remove.
  PathBuffer target;
  if (!BoundedJoin(target, scratch_directory.units, kSetupProgramName<wchar_t>.Get())) return {EXIT_PATH_TOO_LONG, 0};
  const bool expanded = ExpandCabinet(setup_path.units, target.units);
  RemoveWithRetries(setup_path.units);
  static_cast<void>(BoundedCopy(setup_path, target.units));
  return expanded ? ExitOutcome{EXIT_OK, 0} : ExitOutcome{EXIT_SETUP_EXTRACTION_FAILED, 0};
}
