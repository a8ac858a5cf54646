#include "platform/linux/qt_text.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace parvel::platform::linux_os {

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QtTextMeasure::QtTextMeasure(int dpi_x, int dpi_y)
    : measure_(1, 1, QImage::Format_RGB32), x_scale_(dpi_y > 0 && dpi_x > 0 ? qreal(dpi_x) / dpi_y : 1.0) {
  // Qt's fonts have square pixels: glyphs are laid out at the vertical resolution, and
  // horizontal measures are stretched to the device's own pixels (600 x 300 dpi: twice).
  const int dpm = static_cast<int>(std::lround((dpi_y > 0 ? dpi_y : 96) / 0.0254));
  measure_.setDotsPerMeterX(dpm);
  measure_.setDotsPerMeterY(dpm);
  SelectFont(SurfaceFont{});
}

void QtTextMeasure::SetFont(const SurfaceFont& f) {
  if (metrics_ && f == spec_) return;
  SelectFont(f);
}

void QtTextMeasure::SelectFont(const SurfaceFont& f) {
  spec_ = f;
  QFont font(QString::fromStdString(f.face));
  font.setHintingPreference(QFont::PreferNoHinting);
  font.setWeight(static_cast<QFont::Weight>(std::clamp(f.weight, 100, 900)));
  font.setItalic(f.italic);
  font.setUnderline(f.underline);
  font.setStrikeOut(f.strike_out);
  // fontconfig substitutes the family but not its weight: a stand-in for "Arial Black" must
  // be asked for in black to look like it.
  if (QString::fromStdString(f.face).compare("Arial Black", Qt::CaseInsensitive) == 0 &&
      QFontInfo(font).family().compare("Arial Black", Qt::CaseInsensitive) != 0) {
    font.setWeight(QFont::Black);
  }
  const int h = std::abs(f.height);
  font.setPixelSize(std::max(h, 1));
  if (f.height > 0) {
    // A positive height is the whole cell: scale the em size down to fit it.
    const qreal cell = QFontMetricsF(font, &measure_).height();
    if (cell > 0) font.setPixelSize(std::max(1, static_cast<int>(std::lround(h * h / cell))));
  }
  font_ = font;
  metrics_.emplace(font_, &measure_);
  raw_ = QRawFont::fromFont(font_);
  average_char_width_ = metrics_->averageCharWidth();
  last_.reset();
  text_metrics_.ascent = static_cast<int>(std::lround(metrics_->ascent()));
  text_metrics_.height = text_metrics_.ascent + static_cast<int>(std::lround(metrics_->descent()));
  text_metrics_.external_leading = static_cast<int>(std::lround(std::max<qreal>(0, metrics_->leading())));
}

SurfaceTextMetrics QtTextMeasure::TextMetrics() const { return text_metrics_; }

qreal QtTextMeasure::Ascent() const { return metrics_->ascent(); }

qreal QtTextMeasure::Advance(const QString& text) const { return LayOut(text).advance * x_scale_; }

const QGlyphRun* QtTextMeasure::SimpleRun(const QString& text) const {
  const Laid& laid = LayOut(text);
  return laid.simple ? &laid.run : nullptr;
}

std::optional<QRectF> QtTextMeasure::SimpleInk(const QString& text) const {
  Laid& laid = LayOut(text);
  if (!laid.simple) return std::nullopt;
  if (!laid.ink) {
    QRectF ink;
    const QList<quint32> glyphs = laid.run.glyphIndexes();
    const QList<QPointF> positions = laid.run.positions();
    for (qsizetype i = 0; i < glyphs.size(); ++i) {
      ink = ink.united(raw_.boundingRect(glyphs[i]).translated(positions[i]));
    }
    laid.ink = QRectF(ink.left() * x_scale_, ink.top(), ink.width() * x_scale_, ink.height());
  }
  return laid.ink;
}

QtTextMeasure::Laid& QtTextMeasure::LayOut(const QString& text) const {
  if (last_ && last_->text == text) return *last_;
  Laid laid;
  laid.text = text;
  bool simple = raw_.isValid() && !text.isEmpty();
  for (QChar c : text) {
    // Surrogates, controls and marks that combine need the full shaper.
    if (c.isSurrogate() || c.unicode() < 0x20 || c.isMark() || c.unicode() >= 0x0590) {
      simple = false;
      break;
    }
  }
  QList<quint32> glyphs;
  if (simple) {
    glyphs = raw_.glyphIndexesForString(text);
    simple = glyphs.size() == text.size() && !glyphs.contains(0u);
  }
  if (simple) {
    const QList<QPointF> advances = raw_.advancesForGlyphIndexes(glyphs, QRawFont::KernedAdvances);
    QList<QPointF> positions;
    positions.reserve(glyphs.size());
    qreal at = 0;
    for (const QPointF& advance : advances) {
      positions.append(QPointF(at, 0));
      at += advance.x();
    }
    laid.simple = true;
    laid.advance = at;
    laid.run.setRawFont(raw_);
    laid.run.setGlyphIndexes(glyphs);
    laid.run.setPositions(positions);
    laid.run.setUnderline(spec_.underline);
    laid.run.setStrikeOut(spec_.strike_out);
  } else {
    laid.advance = metrics_->horizontalAdvance(text);
  }
  last_ = std::move(laid);
  return *last_;
}

qreal QtTextMeasure::Width(const QString& text) const {
  qreal w = Advance(text);
  for (qreal e : BlankExtras(text)) w += e;
  return w;
}

uint32_t QtTextMeasure::TabbedExtent(const QString& text, const std::vector<int>& tabs) const {
  qreal end = 0;
  for (const auto& [x, segment] : Layout(text, tabs, 0)) end = x + Width(segment);
  const auto w = static_cast<uint32_t>(std::lround(end)) & 0xFFFFu;
  const auto h = static_cast<uint32_t>(text_metrics_.height) & 0xFFFFu;
  return (h << 16) | w;
}

std::vector<std::pair<qreal, QString>> QtTextMeasure::Layout(const QString& text,
                                                             const std::vector<int>& tabs,
                                                             qreal start) const {
  std::vector<std::pair<qreal, QString>> out;
  if (!text.contains(u'\t')) {
    out.emplace_back(start, text);
    return out;
  }
  const qreal spacing = tabs.size() == 1 && tabs[0] > 0 ? tabs[0] : 8 * average_char_width_ * x_scale_;
  qreal at = start;
  const QStringList parts = text.split(u'\t');
  for (qsizetype p = 0; p < parts.size(); ++p) {
    if (p > 0) {
      qreal next = -1;
      if (tabs.size() > 1) {
        for (int t : tabs) {
          if (t > at) {
            next = t;
            break;
          }
        }
      }
      if (next < 0) next = spacing > 0 ? (std::floor(at / spacing) + 1) * spacing : at;
      at = next;
    }
    out.emplace_back(at, parts[p]);
    at += Width(parts[p]);
  }
  return out;
}

void QtTextMeasure::SetJustification(int extra, int breaks) {
  extra_ = breaks > 0 ? extra : 0;
  breaks_ = breaks > 0 ? breaks : 0;
}

std::vector<qreal> QtTextMeasure::BlankExtras(const QString& text) const {
  std::vector<qreal> extras;
  if (breaks_ <= 0 || extra_ == 0) return extras;
  qsizetype i = 0;
  while (i < text.size() && text[i] == u' ') ++i;
  int counted = 0;
  for (; i < text.size() && counted < breaks_; ++i) {
    if (text[i] != u' ') continue;
    const int share = extra_ / breaks_ + (counted < std::abs(extra_ % breaks_) ? (extra_ < 0 ? -1 : 1) : 0);
    extras.push_back(share);
    ++counted;
  }
  return extras;
}

}  // namespace parvel::platform::linux_os
