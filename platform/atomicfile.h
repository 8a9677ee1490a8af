// Whole-file reads and crash-safe whole-file replacement for the small text stores of the
// platform layer (registry hives, private-profile files).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace platform {

// The file's bytes, at most maxBytes of them (a longer file is cut there); nullopt when the
// file cannot be opened or read.
std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes = 64u << 20);

// Writes text to a temporary file beside path, flushes it to disk and renames it over path, so
// a crash at any instant leaves either the old or the new file. New files get the given mode;
// a replaced file keeps its mode. Concurrent writers each use their own temporary file; the last
// rename wins, so writers that change parts of one file must serialise themselves.
bool WriteFileAtomically(const std::string& path, const std::string& text, unsigned mode = 0600);

// Keeps a damaged file's bytes beside it as "<path>.damaged-<yyyymmdd-hhmmss>" (a number is
// added when that name is taken) before anything replaces the file; the file itself stays.
// Returns the new name, nullopt when the file could not be kept.
std::optional<std::string> KeepDamagedCopy(const std::string& path);

// Whether KeepDamagedCopy has kept a copy of the file today (local time).
bool HasDamagedCopyFromToday(const std::string& path);

// Creates the folder and its parents with the given mode; true when it exists afterwards.
bool MakeFolders(const std::string& folder, unsigned mode = 0700);

}  // namespace platform
