#include "platform/linux/qt_drawing_surface.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/linux/qt_text.h"

namespace parvel::platform::linux_os {
namespace {

// The paper in the current orientation, thousandths of a millimetre; a landscape sheet is the
// portrait one turned a quarter to the left.
PaperArea SelectedPaper(const CupsSpooler::Detail& d, const DeviceSettings& s) {
  return OrientedPaper(d.Choose(s).area, s);
}

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
        metrics_(MetricsFor(detail_, settings_)),
        text_(metrics_.dpi_x, metrics_.dpi_y) {}
  ~QtSurface() override {
    if (painter_ && painter_->isActive()) painter_->end();
  }

  bool IsPrinting() const override { return printing_; }
  SurfaceMetrics Metrics() const override { return metrics_; }

  void SetFont(const SurfaceFont& f) override {
    text_.SetFont(f);
    if (painter_ && painter_->isActive()) painter_->setFont(text_.Font());
  }

  SurfaceTextMetrics TextMetrics() override { return text_.TextMetrics(); }

  int TextExtent(std::string_view text) override {
    return static_cast<int>(std::lround(text_.Width(FromUtf8(text))));
  }

  uint32_t TabbedTextExtent(std::string_view text, const std::vector<int>& tabs) override {
    return text_.TabbedExtent(FromUtf8(text), tabs);
  }

  void TextOut(int x, int y, const SurfaceRect& clip, std::string_view text) override {
    if (!painter_ || !page_open_) return;
    const QString s = FromUtf8(text);
    // A clip costs a saved state and a path in the page's content, about as much as the text
    // itself: it is left out where every glyph's ink lies inside the box anyway.
    if (InkInside(x, y, s, clip)) {
      Draw(x, y, s);
      return;
    }
    painter_->save();
    painter_->setClipRect(QRect(clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top));
    Draw(x, y, s);
    painter_->restore();
  }

  void TabbedTextOut(int x, int y, std::string_view text, const std::vector<int>& tabs, int origin) override {
    if (!painter_ || !page_open_) return;
    for (const auto& [at, segment] : text_.Layout(FromUtf8(text), tabs, x - origin)) {
      Draw(static_cast<int>(std::lround(origin + at)), y, segment);
    }
  }

  void FillRect(const SurfaceRect& r, uint32_t color) override {
    if (!painter_ || !page_open_) return;
    painter_->fillRect(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top), ColorOf(color));
  }

  void SetTextJustification(int extra, int breaks) override { text_.SetJustification(extra, breaks); }

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
    const PaperArea paper = SelectedPaper(detail_, settings_);
    const bool landscape = settings_.Landscape();
    // Most jobs keep one paper, and building a page size, let alone setting it again, costs
    // about as much as a page of text: the layout is made only when the paper changes.
    const PageShape shape{paper.width_um, paper.height_um, landscape};
    if (pages_ == 0 || shape != page_shape_) {
      // The paper is already turned for the orientation; the page size is given upright.
      QSizeF portrait_mm = landscape ? QSizeF(paper.height_um / 1000.0, paper.width_um / 1000.0)
                                     : QSizeF(paper.width_um / 1000.0, paper.height_um / 1000.0);
      QPageLayout layout(QPageSize(portrait_mm, QPageSize::Millimeter, QString(), QPageSize::ExactMatch),
                         landscape ? QPageLayout::Landscape : QPageLayout::Portrait, QMarginsF(0, 0, 0, 0));
      layout.setMode(QPageLayout::FullPageMode);
      if (pages_ == 0 || !writer_->pageLayout().isEquivalentTo(layout)) writer_->setPageLayout(layout);
      page_shape_ = shape;
    }
    if (pages_ == 0) {
      painter_->begin(writer_.get());
    } else {
      writer_->newPage();
    }
    ++pages_;
    int resolution = writer_->resolution();
    painter_->resetTransform();
    painter_->scale(static_cast<qreal>(resolution) / metrics_.dpi_x,
                    static_cast<qreal>(resolution) / metrics_.dpi_y);
    painter_->translate(metrics_.offset_x, metrics_.offset_y);
    painter_->setFont(text_.Font());
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
    const QByteArray pdf = std::exchange(pdf_, QByteArray());
    return spooler_.SubmitPdf(device_, title_,
                              std::string_view(pdf.constData(), static_cast<size_t>(pdf.size())), settings_,
                              detail_);
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
  // Whether `text` drawn at (x, y) puts all its ink inside `clip`. Justified, underlined and
  // struck-out text, and text outside the simple layout, are always clipped.
  bool InkInside(int x, int y, const QString& text, const SurfaceRect& clip) const {
    const SurfaceFont& font = text_.FontSpec();
    if (font.underline || font.strike_out || !text_.BlankExtras(text).empty()) return false;
    const std::optional<QRectF> ink = text_.SimpleInk(text);
    if (!ink) return false;
    // A pixel to spare against the rounding of the glyphs' bounds.
    const QRectF at = ink->translated(x, y + text_.Ascent()).adjusted(-1, -1, 1, 1);
    return at.left() >= clip.left && at.right() <= clip.right && at.top() >= clip.top &&
           at.bottom() <= clip.bottom;
  }

  // One piece of text with its cell's left edge at `at`; glyphs stretched to non-square pixels.
  void Paint(qreal at, qreal baseline, const QString& piece) {
    const QGlyphRun* run = text_.SimpleRun(piece);
    const qreal stretch = text_.XScale();
    QPointF origin(at, baseline);
    if (stretch != 1.0) {
      painter_->save();
      painter_->translate(origin);
      painter_->scale(stretch, 1.0);
      origin = QPointF(0, 0);
    }
    if (run != nullptr) {
      painter_->drawGlyphRun(origin, *run);
    } else {
      painter_->drawText(origin, piece);
    }
    if (stretch != 1.0) painter_->restore();
  }

  void Draw(int x, int y, const QString& text) {
    painter_->setPen(ColorOf(text_.FontSpec().color));
    qreal baseline = y + text_.Ascent();
    std::vector<qreal> extras = text_.BlankExtras(text);
    if (extras.empty()) {
      Paint(x, baseline, text);
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
      Paint(at, baseline, piece);
      at += text_.Advance(piece);
      if (i < text.size()) at += extras[blank++];
      start = i + 1;
    }
  }

  CupsSpooler& spooler_;
  std::string device_;
  CupsSpooler::Detail detail_;
  DeviceSettings settings_;
  bool printing_;
  SurfaceMetrics metrics_;
  QtTextMeasure text_;
  std::string title_;
  QByteArray pdf_;
  std::unique_ptr<QBuffer> buffer_;
  std::unique_ptr<QPdfWriter> writer_;
  std::unique_ptr<QPainter> painter_;
  bool doc_open_ = false;
  bool page_open_ = false;
  int pages_ = 0;
  // the paper of the last page started
  struct PageShape {
    int32_t width_um = 0;
    int32_t height_um = 0;
    bool landscape = false;
    bool operator==(const PageShape&) const = default;
  };
  PageShape page_shape_;
};

}  // namespace

SurfaceMetrics MetricsFor(const CupsSpooler::Detail& detail, const DeviceSettings& settings) {
  return PaperMetrics(SelectedPaper(detail, settings), detail.capabilities.dpi_x, detail.capabilities.dpi_y);
}

std::unique_ptr<DrawingSurface> QtSurfaceFactory::Create(const std::string& device,
                                                         const DeviceSettings* settings, bool printing) {
  CupsSpooler::Detail detail;
  try {
    detail = spooler_.ReadDetail(device);
  } catch (const SpoolerError& e) {
    // Only a printer that is gone has no context; a server that does not answer now is this
    // job's failure, and the next one asks again.
    if (e.NoSuchPrinter()) return nullptr;
    throw;
  }
  DeviceSettings s;
  if (settings != nullptr) {
    s = *settings;
  } else {
    s.fields = DeviceSettings::fmOrientation;
    if (detail.default_paper >= 0) {
      s.fields |= DeviceSettings::fmPaperSize;
      s.paper_size = static_cast<int16_t>(detail.capabilities.papers[detail.default_paper].number);
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
