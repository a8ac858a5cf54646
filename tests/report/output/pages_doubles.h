#pragma once
// What the page, publisher and device tests share: a card setup and a generator that plays the
// engine's part.
#include <functional>
#include <memory>
#include <string>

#include "report/output/draw_command.h"
#include "report/output/page.h"
#include "report/output/printer_setup.h"
#include "report/output/publisher.h"

namespace parvel::doubles {

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
    auto* text = &page.Add(std::make_unique<report::TppDrawText>());
    text->SetLeft(8731);
    text->SetTop(2000);
    text->SetWidth(20000);
    text->SetHeight(5000);
    text->SetText("Page " + std::to_string(no));
    text->SetTransparent(true);
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
