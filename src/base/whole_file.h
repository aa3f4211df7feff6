// Whole-file reads and replacements for small files that another process may
// be reading or rewriting at the same moment (weights files).
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"

namespace vornex {

// The file's bytes, copied into memory. Reading through a mapping instead
// would let another process that truncates the file kill this one with
// SIGBUS; a copy can only come out short, which the parser then refuses.
// Reads at most the size the file had when opened (a device or a file that
// keeps growing cannot make it read forever). RuntimeError "IO error: ..."
// with the system's text; std::bad_alloc when the file does not fit in memory.
Result<std::vector<std::byte>> read_whole_file(const std::string& path);

// Writes `bytes` to a new file in the destination's folder and renames it
// over `path`, so a concurrent reader opens either the old file or the new
// one, never a torn one. The new file keeps the mode of the file it
// replaces; a symbolic link at `path` is followed and its target replaced.
// On failure the temporary file is removed and `path` is left as it was.
Status replace_file(const std::string& path, std::span<const std::byte> bytes);

}  // namespace vornex
