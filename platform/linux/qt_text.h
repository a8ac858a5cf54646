#pragma once
// Fonts and text measuring at a surface's resolution, shared by the printing surface and the
// screen's measuring surface. Tab stops and justification are laid out here from per-segment
// measurements, since Qt's own tab expansion and word spacing do not match the engine's rules.
#include <QFont>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QImage>
#include <QRawFont>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/drawing_surface.h"

namespace parvel::platform::linux_os {

QString FromUtf8(std::string_view text);

class QtTextMeasure {
 public:
  QtTextMeasure(int dpi_x, int dpi_y);

  void SetFont(const SurfaceFont& font);
  const QFont& Font() const { return font_; }
  const SurfaceFont& FontSpec() const { return spec_; }

  SurfaceTextMetrics TextMetrics() const;
  qreal Ascent() const;
  // Device pixels across per pixel of a glyph: glyphs are drawn stretched by it.
  qreal XScale() const { return x_scale_; }
  // Plain advance in device pixels, without justification.
  qreal Advance(const QString& text) const;
  // A text that the font covers with one glyph per code point is laid out here once, glyph by
  // glyph with the font's kerning, and measured and drawn from that same layout: a label is
  // measured and then drawn, and shaping twice was the costly part. Anything else (a glyph the
  // font lacks, a line break) answers null and goes through Qt's full text layout.
  // The run's positions are in square pixels; draw it stretched by XScale().
  const QGlyphRun* SimpleRun(const QString& text) const;
  // The ink of a simple run drawn at pen position (0, 0), in device pixels (stretched by
  // XScale()); null for any other text.
  std::optional<QRectF> SimpleInk(const QString& text) const;
  // Advance with the justification in force.
  qreal Width(const QString& text) const;
  // Height in the high and width in the low 16 bits.
  uint32_t TabbedExtent(const QString& text, const std::vector<int>& tabs) const;
  // Segments of a tabbed text and where each starts, counted from `start`.
  std::vector<std::pair<qreal, QString>> Layout(const QString& text, const std::vector<int>& tabs,
                                                qreal start) const;

  void SetJustification(int extra, int breaks);
  // The extra pixels each counted blank carries: blanks after the leading ones, the first ones
  // one more while a remainder is left. Empty without justification.
  std::vector<qreal> BlankExtras(const QString& text) const;

 private:
  void SelectFont(const SurfaceFont& font);

  QImage measure_;
  qreal x_scale_;
  QFont font_;
  SurfaceFont spec_;
  // Measuring is the hot path of every label: metrics are made once per font.
  std::optional<QFontMetricsF> metrics_;
  SurfaceTextMetrics text_metrics_;
  qreal average_char_width_ = 0;
  QRawFont raw_;
  struct Laid {
    QString text;
    bool simple = false;
    qreal advance = 0;
    QGlyphRun run;
    // made when first asked for
    std::optional<QRectF> ink;
  };
  // The layout of `text`, kept until another text is laid out.
  Laid& LayOut(const QString& text) const;
  mutable std::optional<Laid> last_;
  int extra_ = 0;
  int breaks_ = 0;
};

}  // namespace parvel::platform::linux_os
