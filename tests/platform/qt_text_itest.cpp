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
    EXPECT_FALSE(measure.SimpleInk(text).has_value()) << text.toStdString();
    if (!text.isEmpty()) {
      EXPECT_GT(measure.Advance(text), 0) << text.toStdString();
    }
  }
}

// Whether a label needs its clip is decided from this ink, so it must never be smaller than
// what Qt paints: checked against Qt's own tight bounds, for text reaching below the baseline,
// above the capitals (accents) and out of its advance (an italic f).
TEST(QtTextMeasure, TheInkOfSimpleTextCoversWhatQtPaints) {
  struct Case {
    const char* text;
    bool italic;
    int dpi_x;
  };
  const Case cases[] = {{"Ágil, pêgo", false, 300}, {"ff", true, 300}, {"Label1", false, 600}};
  for (const Case& c : cases) {
    QtTextMeasure measure(c.dpi_x, 300);
    SurfaceFont font;
    font.face = "DejaVu Sans";
    font.height = -38;
    font.italic = c.italic;
    measure.SetFont(font);
    const QString text = QString::fromUtf8(c.text);
    const std::optional<QRectF> ink = measure.SimpleInk(text);
    ASSERT_TRUE(ink.has_value()) << c.text;
    QImage device(1, 1, QImage::Format_RGB32);
    device.setDotsPerMeterX(11811);
    device.setDotsPerMeterY(11811);
    const QRectF tight = QFontMetricsF(measure.Font(), &device).tightBoundingRect(text);
    const qreal stretch = c.dpi_x / 300.0;
    // Qt's tight bounds are whole pixels of its square grid, from its shaper's positions: a
    // pixel apart at most, the pixel the surface keeps to spare.
    EXPECT_LE(ink->left(), (tight.left() + 1) * stretch) << c.text;
    EXPECT_GE(ink->right(), (tight.right() - 1) * stretch) << c.text;
    EXPECT_LE(ink->top(), tight.top() + 1) << c.text;
    EXPECT_GE(ink->bottom(), tight.bottom() - 1) << c.text;
    // and not the whole cell: the clip is left out only because the ink is this tight
    EXPECT_NEAR(ink->width(), tight.width() * stretch, 2 * stretch) << c.text;
    EXPECT_NEAR(ink->height(), tight.height(), 2) << c.text;
  }
  // An italic f reaches out of its advance on the right.
  QtTextMeasure italic(300, 300);
  SurfaceFont font;
  font.face = "DejaVu Sans";
  font.height = -38;
  font.italic = true;
  italic.SetFont(font);
  EXPECT_GT(italic.SimpleInk(QStringLiteral("f"))->right(), italic.Advance(QStringLiteral("f")));
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
