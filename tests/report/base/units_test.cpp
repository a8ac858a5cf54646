#include "report/base/units.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/screen.h"
#include "platform/services.h"
#include "platform/testing/doubles.h"

namespace parvel::report {
namespace {

class FakePrinter : public TppResolutionSource {
 public:
  FakePrinter(int x, int y) : x_(x), y_(y) {}
  int PixelsPerInch(TppDirection direction) const override { return direction == dirHorizontal ? x_ : y_; }

 private:
  int x_, y_;
};

struct ToUnitsCase {
  int32_t value;
  TppUnitType units;
  float expected;
};

TEST(UnitsTest, MMThousandthsToUnitsOnA96DpiScreen) {
  const ToUnitsCase cases[] = {
      {85700, utInches, 3.374f},     {54000, utInches, 2.126f},       {25400, utInches, 1.0f},
      {1000, utInches, 0.0394f},     {85700, utScreenPixels, 324},    {8731, utScreenPixels, 33},
      {4498, utScreenPixels, 17},    {11906, utScreenPixels, 45},     {52388, utScreenPixels, 198},
      {8731, utMillimeters, 8.731f}, {-8731, utMillimeters, -8.731f}, {12345, utMMThousandths, 12345},
      {85700, utPrinterPixels, 324},  // no printer: the screen's resolution
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MMThousandthsToUnits(c.value, c.units, dirVertical), c.expected)
        << c.value << " in unit " << int(c.units);
  }
}

struct FromUnitsCase {
  float value;
  TppUnitType units;
  int32_t expected;
};

TEST(UnitsTest, UnitsToMMThousandthsRoundsExceptThousandths) {
  const FromUnitsCase cases[] = {
      {1.0f, utInches, 25400},  // the quotient is 25400.05
      {3.374f, utInches, 85700},      {8.731f, utMillimeters, 8731},
      {12.9f, utMMThousandths, 12},  // truncation, not rounding
      {-12.9f, utMMThousandths, -12}, {1, utScreenPixels, 265},
      {324, utScreenPixels, 85725},   {0.0005f, utMillimeters, 1},  // the single lies just above the half
      {2.5f, utMMThousandths, 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UnitsToMMThousandths(c.value, c.units, dirVertical), c.expected)
        << c.value << " in unit " << int(c.units);
  }
}

TEST(UnitsTest, HalfThousandthsRoundToEven) {
  // 0.0125 mm and 0.0135 mm are not exact in single precision; x*1000 of exact halves is.
  EXPECT_EQ(UnitsToMMThousandths(0.5f, utMMThousandths, dirVertical), 0);
  EXPECT_EQ(UnitsToTenthsMM(250, utMMThousandths, dirVertical), 2);
  EXPECT_EQ(UnitsToTenthsMM(350, utMMThousandths, dirVertical), 4);
  EXPECT_EQ(UnitsToTenthsMM(0.25f, utMillimeters, dirVertical), 2);
  EXPECT_EQ(UnitsToTenthsMM(-0.25f, utMillimeters, dirVertical), -2);
}

TEST(UnitsTest, PrinterPixelsUseTheRequestedDirection) {
  const FakePrinter printer(600, 300);
  // 25.4 mm is one inch: 600 pixels across, 300 down.
  EXPECT_EQ(MMThousandthsToUnits(25400, utPrinterPixels, dirHorizontal, &printer), 600);
  EXPECT_EQ(MMThousandthsToUnits(25400, utPrinterPixels, dirVertical, &printer), 300);
  EXPECT_EQ(UnitsToMMThousandths(600, utPrinterPixels, dirHorizontal, &printer), 25400);
  EXPECT_EQ(UnitsToMMThousandths(600, utPrinterPixels, dirVertical, &printer), 50800);
  EXPECT_EQ(UnitsToMMThousandths(96, utPrinterPixels, dirHorizontal), 25400);
  // Screen pixels never ask the printer.
  EXPECT_EQ(MMThousandthsToUnits(25400, utScreenPixels, dirHorizontal, &printer), 96);
}

TEST(UnitsTest, ScreenResolutionComesFromTheInstalledScreen) {
  platform::doubles::FixedScreen screen(120);
  platform::ScopedInstall<platform::Screen> guard(&screen);
  EXPECT_EQ(MMThousandthsToUnits(25400, utScreenPixels, dirVertical), 120);
  EXPECT_EQ(MMThousandthsToUnits(25400, utPrinterPixels, dirHorizontal), 120);
  EXPECT_EQ(UnitsToScreenPixels(1.0f, utInches, dirVertical), 120);
}

TEST(UnitsTest, UnknownUnitGivesZeroEverywhere) {
  const auto bad = static_cast<TppUnitType>(5);
  const auto worse = static_cast<TppUnitType>(200);
  for (TppUnitType u : {bad, worse}) {
    EXPECT_EQ(MMThousandthsToUnits(85700, u, dirVertical), 0);
    EXPECT_EQ(UnitsToMMThousandths(3.5f, u, dirVertical), 0);
    EXPECT_EQ(ScreenPixelsToUnits(100, u, dirVertical), 0);
    EXPECT_EQ(UnitsToScreenPixels(3.5f, u, dirVertical), 0);
    EXPECT_EQ(TenthsMMToUnits(857, u, dirVertical), 0);
    EXPECT_EQ(UnitsToTenthsMM(3.5f, u, dirVertical), 0);
  }
}

TEST(UnitsTest, ScreenPixelConversionsGoThroughStoredLengths) {
  // 10 pixels are 2646 thousandths, which read back in inches to four decimals.
  EXPECT_EQ(ScreenPixelsToUnits(10, utMMThousandths, dirVertical), 2646);
  EXPECT_EQ(ScreenPixelsToUnits(10, utInches, dirVertical), 0.1042f);
  EXPECT_EQ(ScreenPixelsToUnits(96, utMillimeters, dirVertical), 25.4f);
  // Back to pixels truncates the rounded pixel value: 1.25 in is 31750, 120.0 pixels.
  EXPECT_EQ(UnitsToScreenPixels(1.25f, utInches, dirVertical), 120);
  EXPECT_EQ(UnitsToScreenPixels(52.388f, utMillimeters, dirVertical), 198);
  EXPECT_EQ(UnitsToScreenPixels(-85.7f, utMillimeters, dirVertical), -324);
}

TEST(UnitsTest, TenthsOfMillimetres) {
  const ToUnitsCase to[] = {
      {25, utMillimeters, 2},
      {35, utMillimeters, 4},  // ties to even
      {857, utMillimeters, 86},
      {857, utMMThousandths, 85700},
      {857, utScreenPixels, 324},
      {857, utPrinterPixels, 324},
      // Through whole pixels: 85700 are 324 pixels, 85725 thousandths; 10000 are 38, 10054.
      {857, utInches, 3.375f},
      {100, utInches, 0.3958f},
  };
  for (const auto& c : to) {
    EXPECT_EQ(TenthsMMToUnits(c.value, c.units, dirVertical), c.expected)
        << c.value << " in unit " << int(c.units);
  }
  const FromUnitsCase from[] = {
      {85.7f, utMillimeters, 857},
      {85700, utMMThousandths, 857},
      {85750, utMMThousandths, 858},
      {324, utScreenPixels, 857},
      {-324, utScreenPixels, -857},
      {324, utPrinterPixels, 857},
      // 3.374 in is 324 pixels, 85725 thousandths; 0.3937 in is 38 pixels, 10054, truncated.
      {3.374f, utInches, 857},
      {0.3937f, utInches, 100},
  };
  for (const auto& c : from) {
    EXPECT_EQ(UnitsToTenthsMM(c.value, c.units, dirVertical), c.expected)
        << c.value << " in unit " << int(c.units);
  }
}

TEST(UnitsTest, OutOfRangeValuesSaturate) {
  EXPECT_EQ(UnitsToMMThousandths(1e30f, utMillimeters, dirVertical), INT32_MAX);
  EXPECT_EQ(UnitsToMMThousandths(-1e30f, utMMThousandths, dirVertical), INT32_MIN);
  const FakePrinter broken(0, 0);
  EXPECT_EQ(UnitsToMMThousandths(10, utPrinterPixels, dirVertical, &broken), INT32_MAX);
}

}  // namespace
}  // namespace parvel::report
