#pragma once
// What the page, publisher and device tests share: the card and office printers of the
// platform doubles (300 dpi with 25-pixel offsets, and 600 by 300 dpi), installed before the
// first test so that the shared printer list is built from them; surfaces that can be made to
// fail as if the printer had gone; a generator that plays the engine's part.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/screen_surface.h"
#include "platform/services.h"
#include "platform/spooler.h"
#include "platform/testing/screen_surface_double.h"
#include "platform/testing/spooler_double.h"
#include "report/output/draw_command.h"
#include "report/output/page.h"
#include "report/output/printer_setup.h"
#include "report/output/publisher.h"

namespace parvel::doubles {

// Surfaces of the doubles; once `vanished` is set, sending the job fails the way a spooler
// reports a printer that is gone. Like a real surface it notices only then: pages are drawn into
// the document until the end.
class VanishingSurface : public platform::DrawingSurface {
 public:
  VanishingSurface(std::unique_ptr<platform::DrawingSurface> inner, const bool& vanished)
      : inner_(std::move(inner)), vanished_(vanished) {}
  bool IsPrinting() const override { return inner_->IsPrinting(); }
  platform::SurfaceMetrics Metrics() const override { return inner_->Metrics(); }
  void SetFont(const platform::SurfaceFont& font) override { inner_->SetFont(font); }
  platform::SurfaceTextMetrics TextMetrics() override { return inner_->TextMetrics(); }
  int TextExtent(std::string_view text) override { return inner_->TextExtent(text); }
  uint32_t TabbedTextExtent(std::string_view text, const std::vector<int>& tabs) override {
    return inner_->TabbedTextExtent(text, tabs);
  }
  void TextOut(int x, int y, const platform::SurfaceRect& clip, std::string_view text) override {
    inner_->TextOut(x, y, clip, text);
  }
  void TabbedTextOut(int x, int y, std::string_view text, const std::vector<int>& tabs, int origin) override {
    inner_->TabbedTextOut(x, y, text, tabs, origin);
  }
  void FillRect(const platform::SurfaceRect& rect, uint32_t color) override { inner_->FillRect(rect, color); }
  void SetTextJustification(int extra, int breaks) override { inner_->SetTextJustification(extra, breaks); }
  void StartDoc(const std::string& title) override { inner_->StartDoc(title); }
  void StartPage() override { inner_->StartPage(); }
  void EndPage() override { inner_->EndPage(); }
  int EndDoc() override {
    if (vanished_) {
      throw platform::SpoolerError("The printer \"Card\" is not installed",
                                   platform::SpoolerError::Kind::kNoSuchPrinter);
    }
    return inner_->EndDoc();
  }
  void AbortDoc() override { inner_->AbortDoc(); }
  void Reset(const platform::DeviceSettings& settings) override { inner_->Reset(settings); }

 private:
  std::unique_ptr<platform::DrawingSurface> inner_;
  const bool& vanished_;
};

class VanishingFactory : public platform::SurfaceFactory {
 public:
  explicit VanishingFactory(platform::doubles::SurfaceFactoryDouble& inner) : inner_(inner) {}
  std::unique_ptr<platform::DrawingSurface> CreateInformationContext(
      const std::string& device, const platform::DeviceSettings* s) override {
    return Wrap(inner_.CreateInformationContext(device, s));
  }
  std::unique_ptr<platform::DrawingSurface> CreatePrintingContext(
      const std::string& device, const platform::DeviceSettings* s) override {
    return Wrap(inner_.CreatePrintingContext(device, s));
  }
  bool vanished = false;

 private:
  std::unique_ptr<platform::DrawingSurface> Wrap(std::unique_ptr<platform::DrawingSurface> surface) {
    if (!surface) return nullptr;
    return std::make_unique<VanishingSurface>(std::move(surface), vanished);
  }
  platform::doubles::SurfaceFactoryDouble& inner_;
};

class PagesEnvironment : public ::testing::Environment {
 public:
  PagesEnvironment() {
    spooler.printers = {platform::doubles::CardPrinter("Card"), platform::doubles::WidePrinter("Wide")};
    spooler.default_device = "Card";
  }
  void SetUp() override {
    platform::Install<platform::Spooler>(&spooler);
    platform::Install<platform::SurfaceFactory>(&factory);
    platform::Install<platform::ScreenSurfaceFactory>(&screen);
  }
  void TearDown() override {
    platform::Install<platform::Spooler>(nullptr);
    platform::Install<platform::SurfaceFactory>(nullptr);
    platform::Install<platform::ScreenSurfaceFactory>(nullptr);
  }
  static PagesEnvironment& Get() {
    static auto* env =
        static_cast<PagesEnvironment*>(::testing::AddGlobalTestEnvironment(new PagesEnvironment));
    return *env;
  }
  // Each test starts with an empty log and a printer that is there.
  void Fresh() {
    // Surfaces made earlier keep writing to the same log, so it is emptied in place.
    doubles.log->calls.clear();
    doubles.log->jobs.clear();
    doubles.external_leading = 2;
    doubles.refuse_jobs = false;
    factory.vanished = false;
  }
  const std::vector<std::string>& Calls() const { return doubles.log->calls; }
  // The calls of one kind ("StartPage", "TextOut", ...), in order.
  std::vector<std::string> CallsOf(const std::string& kind) const {
    std::vector<std::string> out;
    for (const std::string& c : Calls()) {
      if (c == kind || c.rfind(kind + " ", 0) == 0) out.push_back(c);
    }
    return out;
  }

  platform::doubles::SpoolerDouble spooler;
  platform::doubles::SurfaceFactoryDouble doubles{spooler};
  VanishingFactory factory{doubles};
  platform::doubles::FixedScreenSurfaceFactory screen;
};

// A card-sized setup on the card printer, in thousandths of a millimetre.
inline void CardSetup(report::TppPrinterSetup& setup, int copies = 1, bool collation = true) {
  setup.SetPrinterName("Card");
  setup.SetUnits(report::utMMThousandths);
  setup.SetCopies(copies);
  setup.SetCollation(collation);
  setup.SetDocumentName("Cards");
}

// Plays the engine: pages 1..count of a report, each announced at its start as a calculation
// page without commands and handed over again when finished, until the request is met.
class PageGenerator {
 public:
  PageGenerator(report::TppPublisher& publisher, int count) : count_(count) {
    publisher.OnGeneratePages = [this](report::TppPublisher& p, report::TppPageRequest&) { Generate(p); };
  }
  int runs = 0;
  int pages_made = 0;
  report::TppPrinterSetup* setup = nullptr;  // copied into every page when set
  // Adds the commands of page `no`; by default one text "Page n" at (8731, 2000).
  std::function<void(report::TppPage& page, int no)> fill = [](report::TppPage& page, int no) {
    auto* text = new report::TppDrawText();
    text->SetLeft(8731);
    text->SetTop(2000);
    text->SetWidth(20000);
    text->SetHeight(5000);
    text->SetText("Page " + std::to_string(no));
    text->SetTransparent(true);
    text->SetPage(&page);
  };

 private:
  void Generate(report::TppPublisher& publisher) {
    ++runs;
    for (int no = 1; no <= count_; ++no) {
      page_.Clear();
      if (setup != nullptr) page_.SetPrinterSetup(setup);
      page_.SetAbsolutePageNo(no);
      page_.SetDocumentName("Cards");
      page_.SetAbsolutePageCount(count_);
      page_.SetCalculation(true);
      publisher.ReceivePage(page_);
      page_.SetCalculation(false);
      fill(page_, no);
      page_.SetFirstPage(no == 1);
      page_.SetLastPage(no == count_);
      page_.SetFinal(true);
      ++pages_made;
      publisher.ReceivePage(page_);
      if (publisher.Satisfied()) break;
    }
  }
  int count_;
  report::TppPage page_;
};

}  // namespace parvel::doubles
