#include "app/agent/text_decoding.h"

#include <cstdint>

namespace parvel::agent {

namespace {

// The characters of 0x80..0x9F; the others equal their byte.
constexpr char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    int length = 0;
    uint32_t code = 0;
    uint32_t minimum = 0;
    if ((b & 0xE0) == 0xC0) {
      length = 2;
      code = b & 0x1F;
      minimum = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      length = 3;
      code = b & 0x0F;
      minimum = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      length = 4;
      code = b & 0x07;
      minimum = 0x10000;
    } else {
      return false;
    }
    if (bytes.size() - i < static_cast<size_t>(length)) return false;
    for (int k = 1; k < length; ++k) {
      const auto c = static_cast<unsigned char>(bytes[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      code = (code << 6) | (c & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

std::string FromWindows1252(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    AppendUtf8(out, b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : b);
  }
  return out;
}

std::string DecodeText(std::string_view bytes) {
  bool multi_byte = false;
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      multi_byte = true;
      break;
    }
  }
  if (!multi_byte || IsValidUtf8(bytes)) return std::string(bytes);
  return FromWindows1252(bytes);
}

}  // namespace parvel::agent
