// Deletes what a run unpacked through each object's delete disposition, riding out the moments when
// a scanner or indexer still holds a file: up to 100 counted tries, 100 ms apart.
#pragma once

#include <windows.h>

#include "handles/unique_handle.h"
#include "strings/bounded_wide_string.h"

// True when nothing is left at path (removed, or never there); false when it gave up. A directory
// must be empty; a link is removed as itself, never its target.
bool RemoveWithRetries(const wchar_t* path) noexcept;

// The archive, then the setup program (each skipped when empty), then the scratch directory. The
// files go by path while directory_guard still keeps the directory from being renamed, so the paths
// name what was unpacked; the guard is closed just before the directory itself is removed.
void RemoveExtractedFiles(const PathBuffer& archive_path, const PathBuffer& setup_path,
                          const PathBuffer& scratch_directory, UniqueFileHandle& directory_guard) noexcept;
