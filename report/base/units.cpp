#include "report/base/units.h"

#include <cmath>
#include <limits>

#include "platform/screen.h"
#include "platform/services.h"

namespace parvel::report {

namespace {

using Extended = long double;

constexpr Extended kF = static_cast<Extended>(kInchesPerMillimetre);

// Results outside the 32-bit range saturate instead of being undefined.
int32_t ToInt32(Extended x) {
  if (std::isnan(x)) return 0;
  if (x >= static_cast<Extended>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  if (x <= static_cast<Extended>(std::numeric_limits<int32_t>::min())) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(x);
}

// Nearest, ties to even (the default rounding mode). rintl is one instruction where nearbyintl
// is a library call that saves and restores the floating-point state; only the inexact flag,
// which nothing reads, tells them apart.
Extended Round(Extended x) { return std::rintl(x); }

Extended ScreenResolution() {
  return static_cast<Extended>(platform::Get<platform::Screen>().LogicalPixelsPerInchY());
}

Extended PrinterResolution(TppDirection direction, const TppResolutionSource* printer) {
  if (printer == nullptr) return ScreenResolution();
  return static_cast<Extended>(printer->PixelsPerInch(direction));
}

}  // namespace

float MMThousandthsToUnits(int32_t value, TppUnitType units, TppDirection direction,
                           const TppResolutionSource* printer) {
  const Extended m = static_cast<Extended>(value) / 1000;
  switch (units) {
    case utScreenPixels:
      return static_cast<float>(Round(m * kF * ScreenResolution()));
    case utInches:
      return static_cast<float>(Round(m * kF * 10000) / 10000);
    case utMillimeters:
      return static_cast<float>(m);
    case utPrinterPixels:
      return static_cast<float>(Round(m * kF * PrinterResolution(direction, printer)));
    case utMMThousandths:
      return static_cast<float>(value);
  }
  return 0;
}

int32_t UnitsToMMThousandths(float value, TppUnitType units, TppDirection direction,
                             const TppResolutionSource* printer) {
  const Extended x = value;
  switch (units) {
    case utScreenPixels:
      return ToInt32(Round(x / ScreenResolution() / kF * 1000));
    case utInches:
      return ToInt32(Round(x / kF * 1000));
    case utMillimeters:
      return ToInt32(Round(x * 1000));
    case utPrinterPixels:
      return ToInt32(Round(x / PrinterResolution(direction, printer) / kF * 1000));
    case utMMThousandths:
      return ToInt32(std::trunc(x));
  }
  return 0;
}

float ScreenPixelsToUnits(int32_t pixels, TppUnitType units, TppDirection direction,
                          const TppResolutionSource* printer) {
  if (units > utMMThousandths) return 0;
  // Through a rounded stored length, as the components see it.
  return MMThousandthsToUnits(
      UnitsToMMThousandths(static_cast<float>(pixels), utScreenPixels, direction, printer), units, direction,
      printer);
}

int32_t UnitsToScreenPixels(float value, TppUnitType units, TppDirection direction,
                            const TppResolutionSource* printer) {
  if (units > utMMThousandths) return 0;
  const float pixels = MMThousandthsToUnits(UnitsToMMThousandths(value, units, direction, printer),
                                            utScreenPixels, direction, printer);
  return ToInt32(std::trunc(static_cast<Extended>(pixels)));
}

float TenthsMMToUnits(int32_t tenths, TppUnitType units, TppDirection direction,
                      const TppResolutionSource* printer) {
  const int32_t thousandths = ToInt32(static_cast<Extended>(tenths) * 100);
  switch (units) {
    case utScreenPixels:
    case utPrinterPixels:
      return MMThousandthsToUnits(thousandths, units, direction, printer);
    case utInches:
      // Paper sizes in inches go through whole screen pixels first.
      return ScreenPixelsToUnits(
          UnitsToScreenPixels(static_cast<float>(thousandths), utMMThousandths, direction, printer), utInches,
          direction, printer);
    case utMillimeters:
      return static_cast<float>(Round(static_cast<Extended>(tenths) / 10));
    case utMMThousandths:
      return static_cast<float>(thousandths);
  }
  return 0;
}

int32_t UnitsToTenthsMM(float value, TppUnitType units, TppDirection direction,
                        const TppResolutionSource* printer) {
  const Extended x = value;
  switch (units) {
    case utScreenPixels:
    case utPrinterPixels:
      return UnitsToMMThousandths(value, units, direction, printer) / 100;
    case utInches: {
      const float thousandths = ScreenPixelsToUnits(UnitsToScreenPixels(value, utInches, direction, printer),
                                                    utMMThousandths, direction, printer);
      return ToInt32(std::trunc(static_cast<Extended>(thousandths) / 100));
    }
    case utMillimeters:
      return ToInt32(Round(x * 10));
    case utMMThousandths:
      return ToInt32(Round(x / 100));
  }
  return 0;
}

}  // namespace parvel::report
