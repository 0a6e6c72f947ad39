#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korvane {

// Suffix of the copy written before it replaces the file.
inline constexpr const wchar_t* kReplaceTempSuffix = L".tmp";

// Writes bytes to "<path>.tmp", flushes them to the disk and moves that file over path, so
// that a write cut short (crash, power, full disk) leaves either the old file or the new
// one, never a truncated one. False when the new file could not be written or moved; the
// previous file is then untouched and the temporary one removed. Writes of one path from two
// threads must be serialised by the caller.
bool replaceFileContents(const std::wstring& path, std::string_view bytes);

enum class FileReadResult { Read, Missing, TooLarge, Failed };
// The whole file into bytes, when it is at most maxBytes long.
FileReadResult readWholeFile(const std::wstring& path, std::size_t maxBytes, std::string& bytes);

enum class FileKeptAside { Missing, Kept, NotKept };
// Moves the file at path to "<path><suffix>", replacing an older copy there. A missing file
// is left alone.
FileKeptAside keepFileAside(const std::wstring& path, const std::wstring& suffix);

} // namespace korvane
