#pragma once
// The report engine's font: what a label stores and what the printer canvas scales to the
// printer's resolution. The size is in points, so it means the same on every device.
#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

namespace parvel::report {

// 0x00BBGGRR, as stored layouts hold colours.
using TColor = uint32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clRed = 0x0000FF;

enum TFontStyle : uint8_t { fsBold, fsItalic, fsUnderline, fsStrikeOut };
// The stored names of the members, by ordinal.
inline constexpr std::array<const char*, 4> kFontStyleNames = {"fsBold", "fsItalic", "fsUnderline",
                                                               "fsStrikeOut"};

// A set of TFontStyle members, one bit each (bit n for ordinal n).
class TFontStyles {
 public:
  constexpr TFontStyles() = default;
  constexpr TFontStyles(std::initializer_list<TFontStyle> styles) {
    for (TFontStyle s : styles) bits_ |= Bit(s);
  }
  constexpr bool Contains(TFontStyle s) const { return (bits_ & Bit(s)) != 0; }
  constexpr void Include(TFontStyle s) { bits_ |= Bit(s); }
  constexpr void Exclude(TFontStyle s) { bits_ &= static_cast<uint8_t>(~Bit(s)); }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr uint8_t Bits() const { return bits_; }
  constexpr bool operator==(const TFontStyles&) const = default;

 private:
  static constexpr uint8_t Bit(TFontStyle s) { return static_cast<uint8_t>(1u << s); }
  uint8_t bits_ = 0;
};

enum TFontPitch : uint8_t { fpDefault, fpVariable, fpFixed };
inline constexpr std::array<const char*, 3> kFontPitchNames = {"fpDefault", "fpVariable", "fpFixed"};

inline constexpr uint8_t DEFAULT_CHARSET = 1;
inline constexpr uint8_t ANSI_CHARSET = 0;

class TppFont {
 public:
  TppFont() = default;
  TppFont(std::string name, int size, TFontStyles style = {}, TColor color = clBlack)
      : name_(std::move(name)), size_(size), style_(style), color_(color) {}

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  // Points.
  int Size() const { return size_; }
  void SetSize(int points) { size_ = points; }
  TFontStyles Style() const { return style_; }
  void SetStyle(TFontStyles style) { style_ = style; }
  TColor Color() const { return color_; }
  void SetColor(TColor color) { color_ = color; }
  uint8_t Charset() const { return charset_; }
  void SetCharset(uint8_t charset) { charset_ = charset; }
  TFontPitch Pitch() const { return pitch_; }
  void SetPitch(TFontPitch pitch) { pitch_ = pitch; }

  bool operator==(const TppFont&) const = default;

 private:
  std::string name_ = "Arial";
  int size_ = 10;
  TFontStyles style_;
  TColor color_ = clBlack;
  uint8_t charset_ = DEFAULT_CHARSET;
  TFontPitch pitch_ = fpDefault;
};

}  // namespace parvel::report
