#include <gtest/gtest.h>

#include <memory>

#include "report/base/component.h"
#include "report/base/errors.h"
#include "report/base/stream.h"
#include "report/output/printer_setup.h"
#include "tests/support/scoped_printers.h"

namespace parvel::report {
namespace {

// Stands for a report: it stores its setup under "PrinterSetup." names.
class TSetupOwner : public TComponent {
 public:
  explicit TSetupOwner(TComponent* owner = nullptr) : TComponent(owner), setup(this) {}
  std::string ClassName() const override { return "TSetupOwner"; }
  void WriteProperties(TWriter& writer) const override {
    TComponent::WriteProperties(writer);
    setup.WriteProperties(writer, "PrinterSetup.");
  }
  bool ReadProperty(const std::string& name, TReader& reader) override {
    static const std::string prefix = "PrinterSetup.";
    if (name.rfind(prefix, 0) == 0) return setup.ReadProperty(name.substr(prefix.size()), reader);
    return TComponent::ReadProperty(name, reader);
  }
  TppPrinterSetup setup;
};

const char* kCardLayout =
    "object rParvel: TSetupOwner\n"
    "  PrinterSetup.BinName = 'Default'\n"
    "  PrinterSetup.DocumentName = 'Report'\n"
    "  PrinterSetup.Orientation = poLandscape\n"
    "  PrinterSetup.PaperName = 'CR80 2.13 x 3.38 in'\n"
    "  PrinterSetup.PrinterName = 'Default'\n"
    "  PrinterSetup.mmMarginBottom = 0\n"
    "  PrinterSetup.mmMarginLeft = 0\n"
    "  PrinterSetup.mmMarginRight = 0\n"
    "  PrinterSetup.mmMarginTop = 0\n"
    "  PrinterSetup.mmPaperHeight = 54000\n"
    "  PrinterSetup.mmPaperWidth = 85700\n"
    "  PrinterSetup.PaperSize = 120\n"
    "end\n";

std::unique_ptr<TSetupOwner> Read(const std::string& text) {
  std::unique_ptr<TComponent> read = ReadComponentText(text);
  auto* owner = dynamic_cast<TSetupOwner*>(read.get());
  EXPECT_NE(owner, nullptr);
  if (owner == nullptr) return nullptr;
  return std::unique_ptr<TSetupOwner>(static_cast<TSetupOwner*>(read.release()));
}

void ExpectCardSetup(const TppPrinterSetup& s) {
  EXPECT_EQ(s.PrinterName(), "Default");
  EXPECT_EQ(s.StoredPaperName(), "CR80 2.13 x 3.38 in");
  EXPECT_EQ(s.PageDef().mmWidth(), 85700);
  EXPECT_EQ(s.PageDef().mmHeight(), 54000);
  EXPECT_EQ(s.PageDef().mmMarginLeft(), 0);
  EXPECT_EQ(s.PageDef().mmMarginTop(), 0);
  EXPECT_EQ(s.PageDef().mmMarginRight(), 0);
  EXPECT_EQ(s.PageDef().mmMarginBottom(), 0);
  EXPECT_EQ(s.Orientation(), poLandscape);
  EXPECT_EQ(s.BinName(), "Default");
  EXPECT_EQ(s.DocumentName(), "Report");
}

class PrinterSetupStreamTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterClass<TSetupOwner>("TSetupOwner"); }
  void TearDown() override { UnregisterClass("TSetupOwner"); }
  doubles::OfficePrinters printers;
};

TEST_F(PrinterSetupStreamTest, CardLayoutReadsAndWritesBack) {
  std::unique_ptr<TSetupOwner> card = Read(kCardLayout);
  ASSERT_NE(card, nullptr);
  ExpectCardSetup(card->setup);
  EXPECT_EQ(card->setup.PendingPaperNumber(), 120);

  const std::string written = WriteComponentText(*card);
  std::unique_ptr<TSetupOwner> again = Read(written);
  ASSERT_NE(again, nullptr);
  ExpectCardSetup(again->setup);
  EXPECT_TRUE(again->setup.IsEqual(card->setup));
  // The default printer has no paper 120 and no card-sized paper: the number written is its
  // custom paper's.
  EXPECT_EQ(again->setup.PendingPaperNumber(), 256);
  EXPECT_EQ(written.find("Collation"), std::string::npos) << written;
  EXPECT_EQ(written.find("Copies"), std::string::npos) << written;
}

TEST_F(PrinterSetupStreamTest, StreamedPaperNumberWinsOnlyWhereThePrinterKnowsIt) {
  struct Case {
    const char* printer;
    const char* name;
  } cases[] = {{"Card", "CR80 2.13 x 3.38 in"}, {"Office", "Streamed"}};
  for (const Case& c : cases) {
    std::string text = std::string("object rParvel: TSetupOwner\n  PrinterSetup.PaperName = 'Streamed'\n") +
                       "  PrinterSetup.PrinterName = '" + c.printer +
                       "'\n  PrinterSetup.PaperSize = 120\nend\n";
    std::unique_ptr<TSetupOwner> read = Read(text);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->setup.PaperName(), c.name) << c.printer;
    EXPECT_EQ(read->setup.PendingPaperNumber(), 0);
    // One shot: on a printer that knows 120 the name no longer follows it.
    read->setup.SetActive(false);
    read->setup.SetPrinterName("Card");
    read->setup.SetPaperName("Streamed");
    EXPECT_EQ(read->setup.PaperName(), "Streamed");
  }
}

TEST_F(PrinterSetupStreamTest, LengthsStoredAsFloatsAreTruncatedAndBadIdentsFail) {
  std::unique_ptr<TSetupOwner> read = Read(
      "object r: TSetupOwner\n  PrinterSetup.mmPaperWidth = 85700.9\n  PrinterSetup.Duplex = "
      "dpVertical\nend\n");
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->setup.PageDef().mmWidth(), 85700);
  EXPECT_EQ(read->setup.Duplex(), dpVertical);
  EXPECT_THROW(ReadComponentText("object r: TSetupOwner\n  PrinterSetup.Orientation = poSideways\nend\n"),
               EStreamError);
}

}  // namespace
}  // namespace parvel::report
