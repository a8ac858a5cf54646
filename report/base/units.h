#pragma once
// Conversions between stored lengths (thousandths of a millimetre) and the units callers see.
#include <cstdint>

namespace parvel::report {

enum TppUnitType : uint8_t { utScreenPixels, utInches, utMillimeters, utPrinterPixels, utMMThousandths };

enum TppDirection : uint8_t { dirHorizontal = 0, dirVertical = 1 };

// Whatever can tell a printer's resolution; the printer wrapper answers the screen's when it
// has no device context.
class TppResolutionSource {
 public:
  virtual ~TppResolutionSource() = default;
  virtual int PixelsPerInch(TppDirection direction) const = 0;
};

// Millimetres to inches: the single-precision constant, not 1/25.4, so stored layouts keep
// converting to the same values.
inline constexpr float kInchesPerMillimetre = 0.03937f;

// A null `printer` means the screen's resolution serves utPrinterPixels in both directions.
// An unknown unit ordinal converts to 0.
float MMThousandthsToUnits(int32_t value, TppUnitType units, TppDirection direction,
                           const TppResolutionSource* printer = nullptr);
int32_t UnitsToMMThousandths(float value, TppUnitType units, TppDirection direction,
                             const TppResolutionSource* printer = nullptr);
float ScreenPixelsToUnits(int32_t pixels, TppUnitType units, TppDirection direction,
                          const TppResolutionSource* printer = nullptr);
int32_t UnitsToScreenPixels(float value, TppUnitType units, TppDirection direction,
                            const TppResolutionSource* printer = nullptr);
// Tenths of a millimetre are how the system reports paper sizes.
float TenthsMMToUnits(int32_t tenths, TppUnitType units, TppDirection direction,
                      const TppResolutionSource* printer = nullptr);
int32_t UnitsToTenthsMM(float value, TppUnitType units, TppDirection direction,
                        const TppResolutionSource* printer = nullptr);

}  // namespace parvel::report
