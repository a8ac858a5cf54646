#include <gtest/gtest.h>

#include <memory>

#include "report/base/stream.h"
#include "report/output/draw_command.h"
#include "report/output/page.h"
#include "report/output/printer.h"
#include "report/output/publisher.h"
#include "report/output/text_drawing.h"
#include "tests/support/scoped_printers.h"

namespace parvel::report {
namespace {

// ---- the data model

TEST(DrawTextTest, AlignmentAndTextAlignmentMoveTogether) {
  const struct {
    TppTextAlignment text;
    TAlignment anchor;
  } cases[] = {{taLeftJustified, taLeftJustify},
               {taRightJustified, taRightJustify},
               {taCentered, taCenter},
               {taFullJustified, taLeftJustify}};
  for (const auto& c : cases) {
    TppDrawText text;
    text.SetAlignment(taCenter);
    text.SetTextAlignment(c.text);
    EXPECT_EQ(text.Alignment(), c.anchor) << int(c.text);
    if (c.text != taFullJustified) {
      TppDrawText other;
      other.SetTextAlignment(taFullJustified);
      other.SetAlignment(c.anchor);
      EXPECT_EQ(other.TextAlignment(), c.text);
    }
  }
}

TEST(DrawTextTest, AssignCopiesAllButThePage) {
  TppPage page;
  TppPublisher band;  // any communicator serves as the source band
  auto* source = &page.Add(std::make_unique<TppDrawText>());
  source->SetSourceBand(&band);
  source->SetLeft(1);
  source->SetTop(2);
  source->SetWidth(3);
  source->SetHeight(4);
  source->SetDeviceRight(99);
  source->SetTag(7);
  source->SetRedrawPage(true);
  source->SetText("abc");
  source->SetTextAlignment(taCentered);
  source->SetAutoSize(true);
  source->SetFont(TppFont("Arial Black", 9, {fsBold}));
  source->SetTabStopPositions({"100"});
  source->SetWrappedText({"a", "b"});
  source->SetSaveLength(12);

  TppDrawText copy;
  copy.Assign(*source);
  EXPECT_EQ(copy.Page(), nullptr);
  EXPECT_FALSE(copy.RedrawPage());
  EXPECT_EQ(copy.SourceBand(), &band);
  EXPECT_EQ(copy.DeviceRight(), 99);
  EXPECT_EQ(copy.Tag(), 7);
  EXPECT_EQ(copy.Alignment(), taCenter);
  EXPECT_EQ(copy.Font(), source->Font());
  EXPECT_TRUE(copy.IsEqual(*source));
  EXPECT_TRUE(source->IsEqual(copy));

  // A copy names the band too, and lets go of it when the band is freed.
  auto gone = std::make_unique<TppPublisher>();
  TppDrawText third;
  third.Assign(copy);
  EXPECT_EQ(third.SourceBand(), &band);
  third.SetSourceBand(gone.get());
  TppDrawText fourth;
  fourth.Assign(third);
  gone.reset();
  EXPECT_EQ(third.SourceBand(), nullptr);
  EXPECT_EQ(fourth.SourceBand(), nullptr);
}

TEST(DrawTextTest, IsEqualComparesWhatIsDrawn) {
  TppDrawText base;
  base.SetText("abc");
  const std::vector<std::function<void(TppDrawText&)>> changes = {
      [](TppDrawText& t) { t.SetLeft(1); },
      [](TppDrawText& t) { t.SetText("abd"); },
      [](TppDrawText& t) { t.Font().SetSize(11); },
      [](TppDrawText& t) { t.Font().SetStyle({fsItalic}); },
      [](TppDrawText& t) { t.SetTransparent(true); },
      [](TppDrawText& t) { t.SetWrappedText({"x"}); },
      [](TppDrawText& t) { t.SetTabStopPositions({"1"}); },
      [](TppDrawText& t) { t.SetTextAlignment(taFullJustified); },
  };
  for (size_t i = 0; i < changes.size(); ++i) {
    TppDrawText other;
    other.Assign(base);
    changes[i](other);
    EXPECT_FALSE(base.IsEqual(other)) << "change " << i;
  }
  TppDrawText recoloured;
  recoloured.Assign(base);
  recoloured.Font().SetColor(clRed);
  EXPECT_TRUE(base.IsEqual(recoloured));
  TppDrawShape shape;
  EXPECT_FALSE(base.IsEqual(shape));
}

TEST(DrawTextTest, SourceLinksAreDroppedWhenTheSourceGoes) {
  TppDrawText text;
  {
    TppPublisher component;
    text.SetSourceComponent(&component);
    text.SetSourceBand(&component);
    text.SetSourceBand(nullptr);  // still linked through the component
    EXPECT_EQ(text.SourceComponent(), &component);
  }
  EXPECT_EQ(text.SourceComponent(), nullptr);
}

TEST(DrawTextTest, PagesOfCommandsStreamByClassName) {
  TppPage page;
  page.SetAbsolutePageNo(2);
  page.SetLastPage(true);
  auto* text = &page.Add(std::make_unique<TppDrawText>());
  text->SetText("It's");
  text->SetLeft(8731);
  text->SetTextAlignment(taRightJustified);
  text->SetFont(TppFont("Arial Black", 9, {fsBold, fsUnderline}, clRed));
  text->SetWrappedText({"a", "b$\xC2\xB6"});
  page.Add(std::make_unique<TppDrawBarCode>());

  const std::string stream = WriteComponentText(page);
  std::unique_ptr<TComponent> read = ReadComponentText(stream);
  auto* copy = dynamic_cast<TppPage*>(read.get());
  ASSERT_NE(copy, nullptr) << stream;
  EXPECT_EQ(copy->AbsolutePageNo(), 2);
  EXPECT_TRUE(copy->LastPage());
  ASSERT_EQ(copy->DrawCommandCount(), 2);
  EXPECT_EQ(copy->DrawCommands(1)->ClassName(), "TppDrawBarCode");
  auto* read_text = dynamic_cast<TppDrawText*>(copy->DrawCommands(0));
  ASSERT_NE(read_text, nullptr);
  EXPECT_TRUE(read_text->IsEqual(*text));
  EXPECT_EQ(read_text->Font().Color(), clRed);
  EXPECT_EQ(read_text->Alignment(), taRightJustify);
  EXPECT_EQ(read_text->Page(), copy);
}

TEST(DrawTextTest, OldStreamsCarryTheAnchor) {
  const struct {
    const char* ident;
    TppTextAlignment expected;
  } cases[] = {
      {"taRightJustify", taRightJustified}, {"taCenter", taCentered}, {"taSideways", taLeftJustified}};
  for (const auto& c : cases) {
    std::unique_ptr<TComponent> read =
        ReadComponentText(std::string("object T: TppDrawText\n  Alignment = ") + c.ident + "\nend\n");
    auto* text = dynamic_cast<TppDrawText*>(read.get());
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->TextAlignment(), c.expected) << c.ident;
  }
}

// ---- rendering on the card printer (300 dpi, 10 pixels per character)

class TextDrawingTest : public ::testing::Test {
 protected:
  // The card printer's canvas, made after the test has set the surfaces' metrics.
  TppPrinterCanvas& Canvas() {
    if (!printer_) {
      printer_ = std::make_unique<TppPrinter>();
      printer_->SetPrinterName("Card");
    }
    return printer_->Canvas();
  }

  // A label as the card has them: Arial Black 9 pt (38 pixels high), transparent.
  static std::unique_ptr<TppDrawText> Label(const std::string& text, platform::SurfaceRect rect) {
    auto command = std::make_unique<TppDrawText>();
    command->SetText(text);
    command->SetFont(TppFont("Arial Black", 9));
    command->SetTransparent(true);
    command->SetDeviceLeft(rect.left);
    command->SetDeviceTop(rect.top);
    command->SetDeviceRight(rect.right);
    command->SetDeviceBottom(rect.bottom);
    return command;
  }

  void Draw(TppDrawText& command) {
    TppPrinterCanvas& canvas = Canvas();
    DrawTextCommand(command, canvas, printer_.get());
  }

  std::vector<std::string> Out() const {
    std::vector<std::string> out;
    for (const std::string& c : printers.Calls()) {
      if (c.rfind("TextOut", 0) == 0 || c.rfind("TabbedTextOut", 0) == 0 || c.rfind("FillRect", 0) == 0 ||
          c.rfind("SetTextJustification", 0) == 0) {
        out.push_back(c);
      }
    }
    return out;
  }

  doubles::CardAndWidePrinters printers;
  std::unique_ptr<TppPrinter> printer_;
};

TEST_F(TextDrawingTest, AutoSizeAnchorsAtTheAlignedEdge) {
  const struct {
    TAlignment anchor;
    const char* drawn;
    int left;
    int right;
  } cases[] = {
      {taRightJustify, "TextOut 154,22 clip (154,22,244,75) \"ABCDEFGHI\"", 154, 244},
      {taLeftJustify, "TextOut 103,22 clip (103,22,193,75) \"ABCDEFGHI\"", 103, 193},
      {taCenter, "TextOut 129,22 clip (129,22,219,75) \"ABCDEFGHI\"", 129,
       219},  // (141 - 90) / 2 = 25.5 -> 26
  };
  for (const auto& c : cases) {
    printers.surfaces.log->Clear();
    auto label_owned = Label("ABCDEFGHI", {103, 22, 244, 75});
    TppDrawText& label = *label_owned;
    label.SetAutoSize(true);
    label.SetAlignment(c.anchor);
    Draw(label);
    EXPECT_EQ(Out(), std::vector<std::string>{c.drawn});
    EXPECT_EQ(label.DeviceLeft(), c.left);
    EXPECT_EQ(label.DeviceTop(), 22);
    EXPECT_EQ(label.DeviceRight(), c.right);
    EXPECT_EQ(label.DeviceBottom(), 22 + 40);  // 38 pixels and 2 of external leading
  }
  EXPECT_EQ(Canvas().ScaledFont().height, -38);  // 9 points at 300 dpi, halves away from zero
}

TEST_F(TextDrawingTest, AutoSizeExtendsALowBoxToOneLine) {
  printers.surfaces.external_leading = 0;  // a line of exactly 38 pixels
  auto sized_owned = Label("Label", {100, 10, 400, 40});
  TppDrawText& sized = *sized_owned;
  sized.SetAutoSize(true);
  sized.SetTextAlignment(taRightJustified);
  Draw(sized);
  auto fixed_owned = Label("Label", {100, 10, 400, 40});
  TppDrawText& fixed = *fixed_owned;
  fixed.SetTextAlignment(taRightJustified);
  Draw(fixed);
  EXPECT_EQ(Out(), (std::vector<std::string>{"TextOut 350,10 clip (350,10,400,48) \"Label\"",
                                             "TextOut 350,10 clip (100,10,400,40) \"Label\""}));
  EXPECT_EQ(sized.DeviceBottom(), 48);
  EXPECT_EQ(fixed.DeviceBottom(), 40);  // without AutoSize the rectangle stays
}

TEST_F(TextDrawingTest, CentringRoundsTheFreeSpaceDown) {
  for (int free : {11, 10, 12}) {
    printers.surfaces.log->Clear();
    auto label_owned = Label("abc", {100, 0, 130 + free, 50});
    TppDrawText& label = *label_owned;
    label.SetTextAlignment(taCentered);
    Draw(label);
    const int offset = free == 11 ? 5 : free == 10 ? 4 : 6;
    EXPECT_EQ(Out(), std::vector<std::string>{"TextOut " + std::to_string(100 + offset) + ",0 clip (100,0," +
                                              std::to_string(130 + free) + ",50) \"abc\""})
        << "free " << free;
  }
}

TEST_F(TextDrawingTest, EmptyTextOnlyFillsItsBackground) {
  auto filled_owned = Label("", {100, 10, 200, 40});
  TppDrawText& filled = *filled_owned;
  filled.SetTransparent(false);
  filled.SetColor(0x00FFFF);
  Draw(filled);
  auto transparent_owned = Label("", {100, 10, 200, 40});
  TppDrawText& transparent = *transparent_owned;
  Draw(transparent);
  EXPECT_EQ(Out(), std::vector<std::string>{"FillRect (100,10,200,40) c65535"});
}

TEST_F(TextDrawingTest, WrappedLinesStepDownAndClipAtTheBottom) {
  auto memo_owned = Label("", {0, 10, 300, 110});
  TppDrawText& memo = *memo_owned;
  memo.SetWordWrap(true);
  memo.SetWrappedText({"one", "two", "three", "four", "five"});
  Draw(memo);
  EXPECT_EQ(Out(), (std::vector<std::string>{"TextOut 0,10 clip (0,10,300,110) \"one\"",
                                             "TextOut 0,50 clip (0,50,300,110) \"two\"",
                                             "TextOut 0,90 clip (0,90,300,110) \"three\""}));
}

TEST_F(TextDrawingTest, FullJustificationSpreadsLinesAndWords) {
  auto text_owned = Label("", {0, 0, 200, 1000});
  TppDrawText& text = *text_owned;
  text.SetWordWrap(true);
  text.SetTextAlignment(taFullJustified);
  text.SetWrappedText({"one two three", "abcd", "end.$\xC2\xB6"});
  Draw(text);
  EXPECT_EQ(Out(), (std::vector<std::string>{
                       "SetTextJustification 0 0",
                       "SetTextJustification 70 2",  // 200 - 130 over two blanks
                       "TextOut 0,0 clip (0,0,200,1000) \"one two three\" justify 70/2",
                       "SetTextJustification 0 0",
                       "SetTextJustification 130 3",  // a single word is spread letter by letter
                       "TextOut 0,40 clip (0,40,200,1000) \"a b c d\" justify 130/3",
                       "SetTextJustification 0 0",  // a paragraph's last line stays as it is
                       "TextOut 0,80 clip (0,80,200,1000) \"end.\"",
                       "SetTextJustification 0 0",
                   }));
}

TEST_F(TextDrawingTest, ForcedLastLinesAreJustifiedUnlessSingleWords) {
  auto text_owned = Label("", {0, 0, 200, 1000});
  TppDrawText& text = *text_owned;
  text.SetWordWrap(true);
  text.SetTextAlignment(taFullJustified);
  text.SetForceJustifyLastLine(true);
  text.SetWrappedText({"last line$\xC2\xB6", "word$\xC2\xB6", " ção"});
  Draw(text);
  const std::vector<std::string> out = Out();
  ASSERT_EQ(out.size(), 9u);
  // The marker is never drawn and takes no part in the width: 200 - 90 over one blank.
  EXPECT_EQ(out[1], "SetTextJustification 110 1");
  EXPECT_EQ(out[2], "TextOut 0,0 clip (0,0,200,1000) \"last line\" justify 110/1");
  EXPECT_EQ(out[4], "TextOut 0,40 clip (0,40,200,1000) \"word\"");
  // Letters are characters, not bytes (the double measures bytes); the leading blank stays.
  EXPECT_EQ(out[7], "TextOut 0,80 clip (0,80,200,1000) \" ç ã o\" justify 130/2");
}

TEST_F(TextDrawingTest, MemosUseTabStopsAndTheirOwnLeading) {
  auto memo_owned = Label("", {20, 0, 400, 50});
  TppDrawText& memo = *memo_owned;
  memo.SetIsMemo(true);
  memo.SetWordWrap(true);
  memo.SetLeading(2540);  // 30 pixels
  memo.SetTabStopPositions({"25400", "abc", "", "50800"});
  memo.SetWrappedText({"a\tb", "c"});
  Draw(memo);
  EXPECT_EQ(Out(), (std::vector<std::string>{"TabbedTextOut 20,0 tabs 300 600 origin 20 \"a\tb\"",
                                             "TabbedTextOut 20,68 tabs 300 600 origin 20 \"c\""}));

  std::vector<std::string> many(150, "1000");
  memo.SetTabStopPositions(many);
  EXPECT_EQ(TextTabStops(memo, printer_.get()).size(), 100u);
  memo.SetIsMemo(false);
  EXPECT_TRUE(TextTabStops(memo, printer_.get()).empty());
}

TEST(RoundHalfEvenTest, HalvesGoToEven) {
  EXPECT_EQ(RoundHalfEven(4.5L), 4);
  EXPECT_EQ(RoundHalfEven(5.5L), 6);
  EXPECT_EQ(RoundHalfEven(5.0L), 5);
  EXPECT_EQ(RoundHalfEven(-0.5L), 0);
  EXPECT_EQ(RoundHalfEven(-1.5L), -2);
  EXPECT_EQ(RoundHalfEven(2.6L), 3);
}

}  // namespace
}  // namespace parvel::report
