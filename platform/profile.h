// Private-profile (INI) files: "[section]" headers, "key=value" lines and ";" comments.
// Section and key names compare without regard to ASCII case; names and values are trimmed of
// surrounding blanks, and a value wrapped in a matching pair of quotes (" or ') loses them when
// read. The first of several sections or keys of one name is the one that counts. Writes keep
// every other line of the file as it was and replace the file atomically.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The key's value, or defaultValue when the file, the section or the key does not exist.
std::string GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                                    const std::string& file);

// The value read as an integer: leading decimal digits with an optional sign (or "0x" and hex
// digits); 0 when there are none, defaultValue when the key is missing or its value is empty.
int GetPrivateProfileInt(std::string_view section, std::string_view key, int defaultValue, const std::string& file);

// Names of the keys of the section in file order (duplicates once, comments left out); empty
// when the file or the section does not exist.
std::vector<std::string> GetPrivateProfileKeys(std::string_view section, const std::string& file);

// Names of the sections in file order, each name once.
std::vector<std::string> GetPrivateProfileSectionNames(const std::string& file);

// Sets key = value in the section, creating the file and the section as needed. No value
// deletes the key; no key deletes the whole section. A deletion of something that does not
// exist succeeds without touching the file. Names and values that the format cannot carry
// (line breaks; "]" in a section name; "=" in a key; a key beginning with "[" or ";") are
// refused with false, as is a file that exists but cannot be read.
bool WritePrivateProfileString(std::string_view section, std::optional<std::string_view> key,
                               std::optional<std::string_view> value, const std::string& file);

}  // namespace platform
