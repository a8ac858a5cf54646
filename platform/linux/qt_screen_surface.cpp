#include "platform/linux/qt_screen_surface.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>

#include "platform/screen.h"
#include "platform/services.h"

namespace parvel::platform::linux_os {
namespace {

QString FromUtf8(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

class QtScreenSurface : public DrawingSurface {
 public:
  explicit QtScreenSurface(int dpi) : image_(1, 1, QImage::Format_RGB32) {
    image_.setDotsPerMeterX(static_cast<int>(std::lround(dpi / 0.0254)));
    image_.setDotsPerMeterY(static_cast<int>(std::lround(dpi / 0.0254)));
    metrics_.dpi_x = dpi;
    metrics_.dpi_y = dpi;
    if (QGuiApplication::instance() != nullptr) {
      if (QScreen* screen = QGuiApplication::primaryScreen()) {
        metrics_.physical_width = screen->size().width();
        metrics_.physical_height = screen->size().height();
      }
    }
    metrics_.printable_width = metrics_.physical_width;
    metrics_.printable_height = metrics_.physical_height;
    SetFont(SurfaceFont{});
  }

  bool IsPrinting() const override { return false; }
  SurfaceMetrics Metrics() const override { return metrics_; }

  void SetFont(const SurfaceFont& f) override {
    QFont font(QString::fromStdString(f.face));
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setWeight(static_cast<QFont::Weight>(std::clamp(f.weight, 100, 900)));
    font.setItalic(f.italic);
    font.setUnderline(f.underline);
    font.setStrikeOut(f.strike_out);
    const int h = std::max(std::abs(f.height), 1);
    font.setPixelSize(h);
    if (f.height > 0) {
      // A positive height is the whole cell: scale the em size down to fit it.
      const qreal cell = QFontMetricsF(font, &image_).height();
      if (cell > 0) font.setPixelSize(std::max(1, static_cast<int>(std::lround(h * h / cell))));
    }
    font_ = font;
  }

  SurfaceTextMetrics TextMetrics() override {
    QFontMetricsF fm(font_, &image_);
    SurfaceTextMetrics m;
    m.ascent = static_cast<int>(std::lround(fm.ascent()));
    m.height = m.ascent + static_cast<int>(std::lround(fm.descent()));
    m.external_leading = static_cast<int>(std::lround(std::max<qreal>(0, fm.leading())));
    return m;
  }

  int TextExtent(std::string_view text) override { return static_cast<int>(std::lround(Width(FromUtf8(text)))); }

  uint32_t TabbedTextExtent(std::string_view text, const std::vector<int>& tabs) override {
    const QFontMetricsF fm(font_, &image_);
    const qreal spacing = tabs.size() == 1 && tabs[0] > 0 ? tabs[0] : 8 * fm.averageCharWidth();
    qreal at = 0;
    const QStringList parts = FromUtf8(text).split(u'\t');
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
      at += Width(parts[p]);
    }
    const auto w = static_cast<uint32_t>(std::lround(at)) & 0xFFFFu;
    const auto h = static_cast<uint32_t>(TextMetrics().height) & 0xFFFFu;
    return (h << 16) | w;
  }

  // The screen context measures only.
  void TextOut(int, int, const SurfaceRect&, std::string_view) override {}
  void TabbedTextOut(int, int, std::string_view, const std::vector<int>&, int) override {}
  void FillRect(const SurfaceRect&, uint32_t) override {}

  void SetTextJustification(int extra, int breaks) override {
    extra_ = breaks > 0 ? extra : 0;
    breaks_ = breaks > 0 ? breaks : 0;
  }

  void StartDoc(const std::string&) override {}
  void StartPage() override {}
  void EndPage() override {}
  int EndDoc() override { return 0; }
  void AbortDoc() override {}
  void Reset(const DeviceSettings&) override {}

 private:
  // Justification spreads its extra pixels over the counted blanks after the leading ones.
  qreal Width(const QString& text) const {
    qreal w = QFontMetricsF(font_, &image_).horizontalAdvance(text);
    if (breaks_ <= 0 || extra_ == 0) return w;
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ') ++i;
    int counted = 0;
    for (; i < text.size() && counted < breaks_; ++i) {
      if (text[i] != u' ') continue;
      w += extra_ / breaks_ + (counted < std::abs(extra_ % breaks_) ? (extra_ < 0 ? -1 : 1) : 0);
      ++counted;
    }
    return w;
  }

  QImage image_;
  QFont font_;
  SurfaceMetrics metrics_;
  int extra_ = 0;
  int breaks_ = 0;
};

}  // namespace

std::unique_ptr<DrawingSurface> QtScreenSurfaceFactory::CreateScreenContext() {
  const Screen* screen = Find<Screen>();
  const int dpi = screen != nullptr && screen->LogicalPixelsPerInchY() > 0 ? screen->LogicalPixelsPerInchY() : 96;
  return std::make_unique<QtScreenSurface>(dpi);
}

}  // namespace parvel::platform::linux_os
