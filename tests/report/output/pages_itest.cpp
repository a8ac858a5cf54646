// A page of text commands through a publisher and a printer device to a queue of a private
// cupsd: the PDF the queue wrote holds the copies in the order collation asks for, and every
// text where its thousandths put it.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "platform/services.h"
#include "report/output/printer.h"
#include "report/output/printer_device.h"
#include "report/output/printer_list.h"
#include "tests/report/output/pages_doubles.h"
#include "tests/support/card_setup.h"
#include "tests/support/cups_server.h"
#include "tests/support/cups_tests.h"

namespace parvel::report {
namespace {

using parvel::doubles::CupsEnvironment;
using parvel::doubles::kPointsPerMm;
using parvel::doubles::kPrintTolerance;
using parvel::doubles::PageGenerator;
using parvel::doubles::PdfPage;
using parvel::doubles::PdfWord;
using parvel::doubles::Points;
using parvel::doubles::UseCardQueue;

void AddText(TppPage& page, const std::string& text, int32_t left, int32_t top, int32_t width,
             TppTextAlignment alignment, bool auto_size) {
  auto* command = &page.Add(std::make_unique<TppDrawText>());
  command->SetText(text);
  command->SetLeft(left);
  command->SetTop(top);
  command->SetWidth(width);
  command->SetHeight(5000);
  command->SetFont(TppFont("DejaVu Sans", 10));
  command->SetTransparent(true);
  command->SetTextAlignment(alignment);
  command->SetAutoSize(auto_size);
}

// How many dark pixels a 300 dpi grey rendering of page `no` has inside a box given in
// thousandths of a millimetre.
int DarkPixels(const std::filesystem::path& pdf, int no, int32_t left, int32_t top, int32_t right,
               int32_t bottom) {
  const std::filesystem::path out = pdf.parent_path() / ("raster" + std::to_string(no));
  const std::string page = std::to_string(no);
  if (CupsEnvironment::Server().Run({"pdftoppm", "-gray", "-r", "300", "-f", page, "-l", page, "-singlefile",
                                     pdf.string(), out.string()}) != 0) {
    return -1;
  }
  std::ifstream in(out.string() + ".pgm", std::ios::binary);
  std::string magic;
  int width = 0;
  int height = 0;
  int maxval = 0;
  in >> magic >> width >> height >> maxval;
  in.get();
  const std::string pixels((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto px = [](int32_t thousandths) { return static_cast<int>(thousandths / 25400.0 * 300); };
  int dark = 0;
  for (int y = std::max(0, px(top)); y < std::min(height, px(bottom)); ++y) {
    for (int x = std::max(0, px(left)); x < std::min(width, px(right)); ++x) {
      if (static_cast<unsigned char>(
              pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]) < 128)
        ++dark;
    }
  }
  return dark;
}

class PagesOnCups : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { UseCardQueue(); }

  PagesOnCups() {
    parvel::doubles::SetUpCard(setup, "cards");
    generator.setup = &setup;
    generator.fill = [](TppPage& page, int no) {
      AddText(page, no == 1 ? "ONE" : "TWO", 5000, 5000, 30000, taLeftJustified, false);
      AddText(page, "RIGHT", 40000, 15000, 40000, taRightJustified, true);
      AddText(page, "MIDDLE", 10000, 25000, 60000, taCentered, false);
      AddText(page, "CLIPPEDCLIPPEDCLIPPED", 5000, 38000, 10000, taLeftJustified, false);
    };
  }

  // Prints the two pages with `copies` and answers the pages of the PDF the queue wrote.
  std::vector<PdfPage> Print(int copies, bool collation) {
    setup.SetCopies(copies);
    setup.SetCollation(collation);
    TppPrinterDevice device;
    device.Printer().SetPrinterSetup(setup);
    device.SetStacked(true);
    device.SetPublisher(&publisher);
    publisher.Reset();
    publisher.StartJob();
    publisher.RequestPages();
    publisher.EndJob();
    const int job = device.Printer().JobId();
    EXPECT_GT(job, 0);
    doubles::JobRecord record = CupsEnvironment::Server().WaitForJob(job);
    EXPECT_EQ(record.state, 9) << record.attributes["job-state-reasons"];
    return doubles::ReadPdf(CupsEnvironment::Server().OutputOf("cards"));
  }

  static std::vector<std::string> FirstWords(const std::vector<PdfPage>& pages) {
    std::vector<std::string> out;
    for (const PdfPage& page : pages) {
      const PdfWord* one = page.Find("ONE");
      out.push_back(one != nullptr ? "ONE" : page.Find("TWO") != nullptr ? "TWO" : "?");
    }
    return out;
  }

  TppPrinterSetup setup;
  TppPublisher publisher;
  PageGenerator generator{publisher, 2};
};

TEST_F(PagesOnCups, TextsLandWhereTheirThousandthsSay) {
  const std::vector<PdfPage> pages = Print(1, true);
  ASSERT_EQ(pages.size(), 2u);
  const PdfPage& page = pages[0];
  EXPECT_NEAR(page.width, 85.7 * kPointsPerMm, kPrintTolerance);

  const PdfWord* left = page.Find("ONE");
  ASSERT_NE(left, nullptr);
  EXPECT_NEAR(left->x_min, Points(5000), kPrintTolerance);
  EXPECT_NEAR(left->y_min, Points(5000), kPrintTolerance);

  const PdfWord* right = page.Find("RIGHT");
  ASSERT_NE(right, nullptr);
  EXPECT_NEAR(right->x_max, Points(80000), kPrintTolerance);  // ends at the right edge
  EXPECT_NEAR(right->y_min, Points(15000), kPrintTolerance);

  const PdfWord* middle = page.Find("MIDDLE");
  ASSERT_NE(middle, nullptr);
  EXPECT_NEAR((middle->x_min + middle->x_max) / 2, Points(40000), kPrintTolerance);
  EXPECT_NEAR(middle->y_min, Points(25000), kPrintTolerance);

  const PdfWord* clipped = page.Find("CLIPPEDCLIPPEDCLIPPED");
  ASSERT_NE(clipped, nullptr);
  EXPECT_NEAR(clipped->x_min, Points(5000), kPrintTolerance);
  const std::filesystem::path pdf = CupsEnvironment::Server().OutputOf("cards");
  EXPECT_GT(DarkPixels(pdf, 1, 5000, 38000, 15000, 43000), 0);
  // Nothing of it shows beyond its box (a pixel of antialiasing aside).
  EXPECT_EQ(DarkPixels(pdf, 1, 15200, 38000, 45000, 43000), 0);
}

TEST_F(PagesOnCups, CopiesFollowTheCollationRules) {
  EXPECT_EQ(FirstWords(Print(2, true)), (std::vector<std::string>{"ONE", "TWO", "ONE", "TWO"}));
  EXPECT_EQ(generator.runs, 2);
  EXPECT_EQ(FirstWords(Print(2, false)), (std::vector<std::string>{"ONE", "ONE", "TWO", "TWO"}));
  EXPECT_EQ(generator.runs, 3);
}

}  // namespace
}  // namespace parvel::report
