#include "platform/linux/qt_text.h"

#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QImage>

#include <cmath>

namespace {

using parvel::platform::SurfaceFont;
using parvel::platform::linux_os::QtTextMeasure;

QtTextMeasure CardMeasure() {
  QtTextMeasure measure(300, 300);
  SurfaceFont font;
  font.face = "DejaVu Sans";
  font.height = -38;
  measure.SetFont(font);
  return measure;
}

TEST(QtTextMeasure, SimpleTextIsMeasuredFromTheGlyphsItIsDrawnWith) {
  QtTextMeasure measure = CardMeasure();
  const QString text = QStringLiteral("FULANO DE TAL, São Paulo");
  const QGlyphRun* run = measure.SimpleRun(text);
  ASSERT_NE(run, nullptr);
  EXPECT_EQ(run->glyphIndexes().size(), text.size());
  // The last glyph starts where the advance of the text without it ends.
  const qreal without_last = measure.Advance(text.left(text.size() - 1));
  EXPECT_NEAR(measure.SimpleRun(text)->positions().back().x(), without_last, 0.5);
  // Close to what Qt's own shaper measures: the glyph layout is no rough estimate.
  QImage device(1, 1, QImage::Format_RGB32);
  device.setDotsPerMeterX(11811);
  device.setDotsPerMeterY(11811);
  const qreal shaped = QFontMetricsF(measure.Font(), &device).horizontalAdvance(text);
  EXPECT_NEAR(measure.Advance(text), shaped, 0.01 * shaped);
}

TEST(QtTextMeasure, TextTheGlyphLayoutCannotCarryGoesThroughTheShaper) {
  QtTextMeasure measure = CardMeasure();
  const QString cases[] = {
      QString::fromUtf8("漢字"),        // glyphs the font lacks: a fallback font draws them
      QString::fromUtf8("مرحبا"),       // a script that joins
      QString::fromUtf8("e\u0301"),     // a combining mark
      QStringLiteral("two\nlines"),     // a line break
      QString::fromUtf8("\U0001F600"),  // beyond the basic plane
      QString(),
  };
  for (const QString& text : cases) {
    EXPECT_EQ(measure.SimpleRun(text), nullptr) << text.toStdString();
    if (!text.isEmpty()) {
      EXPECT_GT(measure.Advance(text), 0) << text.toStdString();
    }
  }
}

TEST(QtTextMeasure, ANewFontDropsTheTextLaidOutWithTheOldOne) {
  QtTextMeasure measure = CardMeasure();
  const QString text = QStringLiteral("Label1");
  const qreal small = measure.Advance(text);
  SurfaceFont larger;
  larger.face = "DejaVu Sans";
  larger.height = -76;
  measure.SetFont(larger);
  EXPECT_NEAR(measure.Advance(text), 2 * small, 0.05 * small);
}

}  // namespace
