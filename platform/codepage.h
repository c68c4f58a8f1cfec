#pragma once
// Code page conversions at the system's boundaries. Internal text is UTF-8; the task store and
// the logs are CP1251 on disk, and entry names in archives are CP866 (the OEM code page).
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Converts between two iconv code pages. nullopt when a character cannot be represented or
// the input is not valid in its code page: nothing is ever replaced by '?'.
std::optional<std::string> ConvertCodePage(std::string_view text, const char* from, const char* to);

// U+0098 stands for the byte 0x98, the one byte CP1251 leaves undefined, both ways.
std::optional<std::string> Utf8ToCp1251(std::string_view utf8);
std::string Cp1251ToUtf8(std::string_view cp1251);
std::optional<std::string> Utf8ToCp866(std::string_view utf8);
std::string Cp866ToUtf8(std::string_view cp866);      // CP866 maps every byte
bool IsValidUtf8(std::string_view text);
bool IsAscii(std::string_view text);

}  // namespace platform
