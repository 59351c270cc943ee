// Deletes what a run unpacked through each object's delete disposition, riding out the moments when
// a scanner or indexer still holds a file: up to 100 counted tries, 100 ms apart.
#pragma once

#include "strings/bounded_wide_string.h"

// True when nothing is left at path (removed, or never there); false when it gave up. A directory
// must be empty; a link is removed as itself, never its target.
bool RemoveWithRetries(const wchar_t* path) noexcept;

// The archive, then the setup program (each skipped when empty), then the scratch directory.
void RemoveExtractedFiles(const PathBuffer& archive_path, const PathBuffer& setup_path,
                          const PathBuffer& scratch_directory) noexcept;
