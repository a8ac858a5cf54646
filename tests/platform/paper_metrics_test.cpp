#include <gtest/gtest.h>

#include "platform/drawing_surface.h"

namespace parvel::platform {
namespace {

DeviceSettings Oriented(int16_t orientation) {
  DeviceSettings s;
  s.fields = DeviceSettings::fmOrientation;
  s.orientation = orientation;
  return s;
}

TEST(PaperMetricsTest, ALandscapeSheetIsThePortraitOneTurnedAQuarter) {
  const PaperArea card{54000, 85700, 1000, 2000, 3000, 4000};  // portrait, margins all different
  const PaperArea turned = OrientedPaper(card, Oriented(2));
  EXPECT_EQ(turned.width_um, 85700);
  EXPECT_EQ(turned.height_um, 54000);
  EXPECT_EQ(turned.left_um, 2000);  // the portrait top
  EXPECT_EQ(turned.top_um, 3000);
  EXPECT_EQ(turned.right_um, 4000);
  EXPECT_EQ(turned.bottom_um, 1000);
  // Portrait, or no orientation in the record at all, leaves the sheet as it is.
  EXPECT_EQ(OrientedPaper(card, Oriented(1)).width_um, 54000);
  DeviceSettings unset;
  unset.orientation = 2;
  EXPECT_EQ(OrientedPaper(card, unset).width_um, 54000);
}

TEST(PaperMetricsTest, PixelsFollowEachDirectionsResolution) {
  const PaperArea card{85700, 54000, 2540, 0, 2540, 0};  // 0.1 inch at the sides
  struct Case {
    int dpi_x, dpi_y;
    int width, height, printable_width, offset_x;
  };
  const Case cases[] = {
      {300, 300, 1012, 638, 952, 30},
      {600, 300, 2024, 638, 1904, 60},
      {0, 0, 1012, 638, 952, 30},  // a driver naming no resolution prints at 300 dpi
  };
  for (const Case& c : cases) {
    const SurfaceMetrics m = PaperMetrics(card, c.dpi_x, c.dpi_y);
    EXPECT_EQ(m.physical_width, c.width) << c.dpi_x;
    EXPECT_EQ(m.physical_height, c.height) << c.dpi_x;
    EXPECT_EQ(m.printable_width, c.printable_width) << c.dpi_x;
    EXPECT_EQ(m.printable_height, c.height) << c.dpi_x;
    EXPECT_EQ(m.offset_x, c.offset_x) << c.dpi_x;
    EXPECT_EQ(m.offset_y, 0) << c.dpi_x;
  }
}

}  // namespace
}  // namespace parvel::platform
