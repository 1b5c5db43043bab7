#pragma once

#include <QString>

// A private-profile (INI) file: "[section]" header lines, each followed by
// "key=value" lines. Reading behaves like the Windows profile functions:
// section and key names match without regard to case, the first matching
// section and key win, anything missing reads as the empty text, and a value
// is cut to kMaxValueLength characters. Text is stored in Windows-1252.
namespace IniFile {

inline constexpr int kMaxValueLength = 255;

// The value of `key` in `section` of the file at `path`; empty when the file,
// the section or the key is missing. Never creates the file.
QString read(const QString& path, const QString& section, const QString& key);

// Sets `key` in `section` to `value`, creating the file, the section or the
// key as needed; every other line stays as it was, byte for byte. The file is
// replaced in one rename, so a crash leaves either the old or the new file.
// Returns false (and leaves the file untouched) when a name or the value
// could not be stored safely (a line break, an '=' in the key, a ']' in the
// section, leading or trailing blanks in a name) or when the file could not
// be written; `errorText` then says why.
bool write(const QString& path, const QString& section, const QString& key, const QString& value,
           QString* errorText = nullptr);

} // namespace IniFile
