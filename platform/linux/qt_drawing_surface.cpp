#include "platform/linux/qt_drawing_surface.h"

#include <QBuffer>
#include <QByteArray>
#include <QFont>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <cmath>

namespace parvel::platform::linux_os {
namespace {

int Pixels(int32_t microns, int dpi) { return static_cast<int>(std::lround(microns * static_cast<double>(dpi) / 25400.0)); }

// The paper in the current orientation, thousandths of a millimetre; a landscape sheet is the
// portrait one turned a quarter to the left.
PaperArea SelectedPaper(const CupsSpooler::Detail& d, const DeviceSettings& s) {
  const PrinterCapabilities& caps = d.capabilities;
  PaperArea area{215900, 279400, 0, 0, 0, 0};  // Letter for a printer that names no paper
  bool custom = s.Has(DeviceSettings::fmPaperWidth) && s.Has(DeviceSettings::fmPaperLength) &&
                s.paper_width > 0 && s.paper_length > 0;
  int index = -1;
  if (!custom && s.Has(DeviceSettings::fmPaperSize)) {
    auto it = std::find(caps.papers.begin(), caps.papers.end(), static_cast<uint16_t>(s.paper_size));
    if (it != caps.papers.end()) index = static_cast<int>(it - caps.papers.begin());
  }
  if (!custom && index < 0) index = d.default_paper >= 0 ? d.default_paper : (caps.papers.empty() ? -1 : 0);
  if (custom) {
    area = PaperArea{s.paper_width * 100, s.paper_length * 100, 0, 0, 0, 0};
  } else if (index >= 0 && index < static_cast<int>(caps.paper_areas.size()) &&
             caps.paper_areas[index].width > 0 && caps.paper_areas[index].height > 0) {
    area = caps.paper_areas[index];
  }
  if (s.Has(DeviceSettings::fmOrientation) && s.orientation == 2) {
    area = PaperArea{area.height, area.width, area.top, area.right, area.bottom, area.left};
  }
  return area;
}

bool Landscape(const DeviceSettings& s) { return s.Has(DeviceSettings::fmOrientation) && s.orientation == 2; }

QString FromUtf8(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QColor ColorOf(uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

class QtSurface : public DrawingSurface {
 public:
  QtSurface(CupsSpooler& spooler, std::string device, CupsSpooler::Detail detail, DeviceSettings settings,
            bool printing)
      : spooler_(spooler),
        device_(std::move(device)),
        detail_(std::move(detail)),
        settings_(std::move(settings)),
        printing_(printing),
        measure_(1, 1, QImage::Format_RGB32) {
    metrics_ = MetricsFor(detail_, settings_);
    measure_.setDotsPerMeterX(static_cast<int>(std::lround(metrics_.dpi_x / 0.0254)));
    measure_.setDotsPerMeterY(static_cast<int>(std::lround(metrics_.dpi_y / 0.0254)));
    SetFont(SurfaceFont{});
  }
  ~QtSurface() override {
    if (painter_ && painter_->isActive()) painter_->end();
  }

  bool IsPrinting() const override { return printing_; }
  SurfaceMetrics Metrics() const override { return metrics_; }

  void SetFont(const SurfaceFont& f) override {
    font_spec_ = f;
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
    int h = std::abs(f.height);
    font.setPixelSize(std::max(h, 1));
    if (f.height > 0) {
      // A positive height is the whole cell: scale the em size down to fit it.
      qreal cell = QFontMetricsF(font, &measure_).height();
      if (cell > 0) font.setPixelSize(std::max(1, static_cast<int>(std::lround(h * h / cell))));
    }
    font_ = font;
    if (painter_ && painter_->isActive()) painter_->setFont(font_);
  }

  SurfaceTextMetrics TextMetrics() override {
    QFontMetricsF fm(font_, &measure_);
    SurfaceTextMetrics m;
    m.ascent = static_cast<int>(std::lround(fm.ascent()));
    m.height = m.ascent + static_cast<int>(std::lround(fm.descent()));
    m.external_leading = static_cast<int>(std::lround(std::max<qreal>(0, fm.leading())));
    return m;
  }

  int TextExtent(std::string_view text) override {
    return static_cast<int>(std::lround(Width(FromUtf8(text))));
  }

  uint32_t TabbedTextExtent(std::string_view text, const std::vector<int>& tabs) override {
    qreal end = 0;
    for (const auto& [x, segment] : Layout(FromUtf8(text), tabs, 0)) end = x + Width(segment);
    auto w = static_cast<uint32_t>(std::lround(end)) & 0xFFFFu;
    auto h = static_cast<uint32_t>(TextMetrics().height) & 0xFFFFu;
    return (h << 16) | w;
  }

  void TextOut(int x, int y, const SurfaceRect& clip, std::string_view text) override {
    if (!painter_ || !page_open_) return;
    painter_->save();
    painter_->setClipRect(QRect(clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top));
    Draw(x, y, FromUtf8(text));
    painter_->restore();
  }

  void TabbedTextOut(int x, int y, std::string_view text, const std::vector<int>& tabs, int origin) override {
    if (!painter_ || !page_open_) return;
    for (const auto& [at, segment] : Layout(FromUtf8(text), tabs, x - origin)) {
      Draw(static_cast<int>(std::lround(origin + at)), y, segment);
    }
  }

  void FillRect(const SurfaceRect& r, uint32_t color) override {
    if (!painter_ || !page_open_) return;
    painter_->fillRect(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top), ColorOf(color));
  }

  void SetTextJustification(int extra, int breaks) override {
    extra_ = breaks > 0 ? extra : 0;
    breaks_ = breaks > 0 ? breaks : 0;
  }

  void StartDoc(const std::string& title) override {
    if (!printing_ || doc_open_) return;
    title_ = title;
    pdf_.clear();
    buffer_ = std::make_unique<QBuffer>(&pdf_);
    buffer_->open(QIODevice::WriteOnly);
    writer_ = std::make_unique<QPdfWriter>(buffer_.get());
    writer_->setTitle(QString::fromStdString(title));
    writer_->setCreator(QStringLiteral("parvel"));
    writer_->setResolution(std::max(metrics_.dpi_x, metrics_.dpi_y));
    painter_ = std::make_unique<QPainter>();
    doc_open_ = true;
    pages_ = 0;
  }

  void StartPage() override {
    if (!doc_open_ || page_open_) return;
    PaperArea paper = SelectedPaper(detail_, settings_);
    bool landscape = Landscape(settings_);
    // The paper is already turned for the orientation; the page size is given upright.
    QSizeF portrait_mm = landscape ? QSizeF(paper.height / 1000.0, paper.width / 1000.0)
                                   : QSizeF(paper.width / 1000.0, paper.height / 1000.0);
    QPageLayout layout(QPageSize(portrait_mm, QPageSize::Millimeter, QString(), QPageSize::ExactMatch),
                       landscape ? QPageLayout::Landscape : QPageLayout::Portrait, QMarginsF(0, 0, 0, 0));
    layout.setMode(QPageLayout::FullPageMode);
    writer_->setPageLayout(layout);
    if (pages_ == 0) {
      painter_->begin(writer_.get());
    } else {
      writer_->newPage();
    }
    ++pages_;
    int resolution = writer_->resolution();
    painter_->resetTransform();
    painter_->scale(static_cast<qreal>(resolution) / metrics_.dpi_x, static_cast<qreal>(resolution) / metrics_.dpi_y);
    painter_->translate(metrics_.offset_x, metrics_.offset_y);
    painter_->setFont(font_);
    page_open_ = true;
  }

  void EndPage() override { page_open_ = false; }

  int EndDoc() override {
    if (!doc_open_) return 0;
    page_open_ = false;
    doc_open_ = false;
    int pages = pages_;
    if (painter_->isActive()) painter_->end();
    painter_.reset();
    writer_.reset();
    buffer_.reset();
    // A document without pages sends no job.
    if (pages == 0) return 0;
    std::string pdf(pdf_.constData(), static_cast<size_t>(pdf_.size()));
    pdf_.clear();
    return spooler_.SubmitPdf(device_, title_, pdf, settings_);
  }

  void AbortDoc() override {
    page_open_ = false;
    doc_open_ = false;
    if (painter_ && painter_->isActive()) painter_->end();
    painter_.reset();
    writer_.reset();
    buffer_.reset();
    pdf_.clear();
  }

  void Reset(const DeviceSettings& settings) override {
    settings_ = settings;
    metrics_ = MetricsFor(detail_, settings_);
  }

 private:
  qreal Advance(const QString& text) const { return QFontMetricsF(font_, &measure_).horizontalAdvance(text); }

  // Blanks after the leading ones take the justification's extra pixels, the first ones one
  // more while a remainder is left.
  std::vector<qreal> BlankExtras(const QString& text) const {
    std::vector<qreal> extras;
    if (breaks_ <= 0 || extra_ == 0) return extras;
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ') ++i;
    int counted = 0;
    for (; i < text.size() && counted < breaks_; ++i) {
      if (text[i] != u' ') continue;
      int share = extra_ / breaks_ + (counted < std::abs(extra_ % breaks_) ? (extra_ < 0 ? -1 : 1) : 0);
      extras.push_back(share);
      ++counted;
    }
    return extras;
  }

  qreal Width(const QString& text) const {
    qreal w = Advance(text);
    for (qreal e : BlankExtras(text)) w += e;
    return w;
  }

  void Draw(int x, int y, const QString& text) {
    painter_->setPen(ColorOf(font_spec_.color));
    qreal baseline = y + QFontMetricsF(font_, &measure_).ascent();
    std::vector<qreal> extras = BlankExtras(text);
    if (extras.empty()) {
      painter_->drawText(QPointF(x, baseline), text);
      return;
    }
    // Justified: draw word by word so each counted blank carries its share.
    qreal at = x;
    qsizetype start = 0;
    size_t blank = 0;
    qsizetype lead = 0;
    while (lead < text.size() && text[lead] == u' ') ++lead;
    for (qsizetype i = lead; i <= text.size(); ++i) {
      if (i < text.size() && !(text[i] == u' ' && blank < extras.size())) continue;
      QString piece = text.mid(start, i - start + (i < text.size() ? 1 : 0));
      painter_->drawText(QPointF(at, baseline), piece);
      at += Advance(piece);
      if (i < text.size()) at += extras[blank++];
      start = i + 1;
    }
  }

  // Segments of a tabbed text and where each starts, relative to the tab origin.
  std::vector<std::pair<qreal, QString>> Layout(const QString& text, const std::vector<int>& tabs, qreal start) const {
    std::vector<std::pair<qreal, QString>> out;
    qreal spacing = tabs.size() == 1 && tabs[0] > 0 ? tabs[0] : 8 * QFontMetricsF(font_, &measure_).averageCharWidth();
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

  CupsSpooler& spooler_;
  std::string device_;
  CupsSpooler::Detail detail_;
  DeviceSettings settings_;
  bool printing_;
  SurfaceMetrics metrics_;
  QImage measure_;
  QFont font_;
  SurfaceFont font_spec_;
  int extra_ = 0;
  int breaks_ = 0;
  std::string title_;
  QByteArray pdf_;
  std::unique_ptr<QBuffer> buffer_;
  std::unique_ptr<QPdfWriter> writer_;
  std::unique_ptr<QPainter> painter_;
  bool doc_open_ = false;
  bool page_open_ = false;
  int pages_ = 0;
};

}  // namespace

SurfaceMetrics MetricsFor(const CupsSpooler::Detail& detail, const DeviceSettings& settings) {
  SurfaceMetrics m;
  m.dpi_x = detail.capabilities.dpi_x > 0 ? detail.capabilities.dpi_x : 300;
  m.dpi_y = detail.capabilities.dpi_y > 0 ? detail.capabilities.dpi_y : 300;
  PaperArea p = SelectedPaper(detail, settings);
  m.physical_width = Pixels(p.width, m.dpi_x);
  m.physical_height = Pixels(p.height, m.dpi_y);
  m.offset_x = Pixels(p.left, m.dpi_x);
  m.offset_y = Pixels(p.top, m.dpi_y);
  m.printable_width = m.physical_width - m.offset_x - Pixels(p.right, m.dpi_x);
  m.printable_height = m.physical_height - m.offset_y - Pixels(p.bottom, m.dpi_y);
  return m;
}

std::unique_ptr<DrawingSurface> QtSurfaceFactory::Create(const std::string& device, const DeviceSettings* settings,
                                                         bool printing) {
  CupsSpooler::Detail detail;
  try {
    detail = spooler_.ReadDetail(device);
  } catch (const SpoolerError&) {
    return nullptr;
  }
  DeviceSettings s;
  if (settings != nullptr) {
    s = *settings;
  } else {
    s.fields = DeviceSettings::fmOrientation;
    if (detail.default_paper >= 0) {
      s.fields |= DeviceSettings::fmPaperSize;
      s.paper_size = static_cast<int16_t>(detail.capabilities.papers[detail.default_paper]);
    }
  }
  return std::make_unique<QtSurface>(spooler_, device, std::move(detail), s, printing);
}

std::unique_ptr<DrawingSurface> QtSurfaceFactory::CreateInformationContext(const std::string& device,
                                                                           const DeviceSettings* settings) {
  return Create(device, settings, false);
}

std::unique_ptr<DrawingSurface> QtSurfaceFactory::CreatePrintingContext(const std::string& device,
                                                                        const DeviceSettings* settings) {
  return Create(device, settings, true);
}

}  // namespace parvel::platform::linux_os
