#pragma once
// Card files and the INI come from producers on either side: Linux programs write UTF-8, older
// ones the single-byte Windows code page. Both become the engine's UTF-8.
#include <string>
#include <string_view>

namespace parvel::agent {

// Whether `bytes` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// `bytes` as UTF-8: as they stand when they are valid UTF-8 holding at least one multi-byte
// sequence (plain ASCII reads the same either way), otherwise each byte as Windows-1252.
std::string DecodeText(std::string_view bytes);

// Each byte as its Windows-1252 character; the five bytes that code page leaves undefined
// become the control characters of the same number.
std::string FromWindows1252(std::string_view bytes);

}  // namespace parvel::agent
