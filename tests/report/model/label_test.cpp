// Text components and labels: Caption and Text kept apart, fitting the box to the caption on the
// printer's canvas (the card printer of the doubles: 300 dpi, 10 pixels per character, 9 points
// make a 38-pixel character cell and 2 pixels of leading), the printed text, renaming, and
// the text wrapper.
#include "report/model/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/base/errors.h"
#include "tests/report/model/model_doubles.h"

namespace parvel::report {
namespace {

using doubles::BuildCard;
using doubles::CardLabelAt;

// Printer pixels at 300 dpi as thousandths of a millimetre.
int32_t Px(int pixels, TppDirection direction = dirHorizontal) {
  return UnitsToMMThousandths(static_cast<float>(pixels), utPrinterPixels, direction, DefaultPrinter());
}

class LabelTest : public ::testing::Test {
 protected:
  LabelTest() { BuildCard(card); }
  TppLabel& Label(int index) { return CardLabelAt(card, index); }
  parvel::doubles::OneCardPrinter printers;  // before the report, which points into its list
  TppReport card;
};

TEST_F(LabelTest, TextLeavesTheBoxAloneAndCaptionFitsIt) {
  TppLabel& right = Label(3);  // right-justified, left 8731, width 11906
  right.SetText("A much longer printed line");
  EXPECT_EQ(right.mmLeft(), 8731);
  EXPECT_EQ(right.mmWidth(), 11906);
  EXPECT_EQ(right.Caption(), "Label4");

  right.SetCaption("A much longer printed line");  // 26 characters: 260 pixels
  EXPECT_EQ(right.mmWidth(), Px(260));
  EXPECT_EQ(right.mmLeft() + right.mmWidth(), 8731 + 11906);  // the right edge stays
  EXPECT_EQ(right.mmHeight(), Px(40, dirVertical));
  EXPECT_EQ(right.Text(), "A much longer printed line");

  TppLabel& left = Label(0);
  left.SetCaption("Hi");
  EXPECT_EQ(left.mmLeft(), 8731);
  EXPECT_EQ(left.mmWidth(), Px(20));
}

TEST_F(LabelTest, CenteredLabelMovesByHalfTheChangeTruncated) {
  TppLabel& label = Label(0);
  label.SetTextAlignment(taCentered);
  label.SetMMBounds(10000, 0, 20000, 4498);
  label.SetCaption("abcdefghijklmnopq");  // 170 pixels
  const int32_t width = Px(170);
  EXPECT_EQ(label.mmWidth(), width);
  EXPECT_EQ(label.mmLeft(), 10000 + (20000 - width) / 2);
}

TEST_F(LabelTest, WhenTheBoxIsRefitted) {
  struct Case {
    const char* what;
    bool auto_size;
    bool word_wrap;
    int change;  // 0 font, 1 new caption, 2 same caption
    int32_t width;
    int32_t height;
  } cases[] = {
      {"fixed size: a new font fits the height only", false, false, 0, 11906, Px(50 + 2, dirVertical)},
      {"fixed size: a new caption fits nothing", false, false, 1, 11906, 4498},
      {"fixed size and word wrap: never fitted", false, true, 0, 11906, 4498},
      {"auto size: the same caption fits nothing", true, false, 2, 11906, 4498},
      {"auto size: a new caption fits both", true, false, 1, Px(30), Px(40, dirVertical)},
  };
  for (const Case& c : cases) {
    TppLabel label;
    label.SetBand(card.GetBand(btDetail));
    label.SetCaption("Label1");
    label.SetAutoSize(c.auto_size);
    label.SetWordWrap(c.word_wrap);
    label.SetFont(TppFont("Arial Black", 9));
    label.SetMMBounds(8731, 1852, 11906, 4498);
    if (c.change == 0) label.SetFont(TppFont("Arial Black", 12));  // a 50-pixel cell
    if (c.change == 1) label.SetCaption("abc");
    if (c.change == 2) label.SetCaption("Label1");
    EXPECT_EQ(label.mmWidth(), c.width) << c.what;
    EXPECT_EQ(label.mmHeight(), c.height) << c.what;
    EXPECT_EQ(label.mmLeft(), 8731) << c.what;
  }
}

TEST_F(LabelTest, GetTextLetsTheHandlerChangeThePrintedTextOnly) {
  TppLabel& label = Label(0);
  label.OnGetText = [](TComponent&, std::string& text) { text += "!"; };
  std::vector<int> events;
  TppCommunicator listener;
  listener.SetEventMask({kGetTextEvent});
  listener.OnEventReceived = [&](TppCommunicator*, TppCommunicator*, int id, TraParamList*) {
    events.push_back(id);
  };
  label.AddEventListener(&listener);
  EXPECT_EQ(label.GetText(), "Label1!");
  EXPECT_EQ(label.Text(), "Label1");
  EXPECT_EQ(events, std::vector<int>{kGetTextEvent});

  TppDrawText command;
  label.FillDrawCommand(command);
  EXPECT_EQ(command.Text(), "Label1!");
  label.RemoveEventListener(&listener);
}

TEST_F(LabelTest, RenamingFollowsACaptionThatEqualsTheUserName) {
  TppLabel& same = Label(0);
  same.SetUserName("CardName");
  EXPECT_EQ(same.Caption(), "CardName");
  EXPECT_EQ(same.Description(), "CardName: CardName");
  TppLabel& other = Label(1);
  other.SetCaption("Line two");
  other.SetUserName("Second");
  EXPECT_EQ(other.Caption(), "Line two");
  EXPECT_EQ(other.Description(), "Second: Line two");
}

TEST_F(LabelTest, LabelsDoNotJustifyToBothEdges) {
  TppLabel& label = Label(3);
  label.SetTextAlignment(taFullJustified);
  EXPECT_EQ(label.TextAlignment(), taRightJustified);
  label.SetTextAlignment(taCentered);
  EXPECT_EQ(label.Alignment(), taCenter);
}

// Wraps `text` into a rectangle `chars` characters wide (10 pixels each) and `lines` lines
// high on the card printer.
std::vector<std::string> Wrap(const std::string& text, int chars, int lines, bool char_wrap = false,
                              TppTextAlignment alignment = taLeftJustified) {
  TppWrapInput input;
  input.text = text;
  const int32_t line = Px(38, dirVertical);
  input.rect = {0, 1000, Px(chars * 10), 1000 + line * lines + 1};
  input.printer = DefaultPrinter();
  input.char_wrap = char_wrap;
  input.font = TppFont("Arial Black", 9);
  input.text_alignment = alignment;
  return WrapText(input).lines;
}

// The wrapper measures on the shared default printer, the card printer.
class TextWrapper : public ::testing::Test {
 protected:
  parvel::doubles::OneCardPrinter printers;
};

TEST_F(TextWrapper, BreaksLinesByTheRules) {
  using Lines = std::vector<std::string>;
  const std::string marker = kParagraphMarker;
  struct Case {
    const char* what;
    std::string text;
    int chars;
    int lines;
    bool char_wrap;
    TppTextAlignment alignment;
    Lines expected;
  } cases[] = {
      {"a word moves to the next line", "aaa bbb", 6, 9, false, taLeftJustified, {"aaa", "bbb"}},
      {"with CharWrap the word is broken", "aaa bbb", 6, 9, true, taLeftJustified, {"aaa bb", "b"}},
      {"a word longer than the line is broken",
       "abcdefghij",
       4,
       9,
       false,
       taLeftJustified,
       {"abcd", "efgh", "ij"}},
      {"line breaks of every kind", "a\r\nb\rc\nd", 6, 9, false, taLeftJustified, {"a", "b", "c", "d"}},
      {"one or two blanks after a wrap are dropped",
       "aaa  bbb",
       4,
       9,
       false,
       taLeftJustified,
       {"aaa", "bbb"}},
      {"three blanks after a wrap stay", "aaaaa   bb", 5, 9, false, taLeftJustified, {"aaaaa", "   bb"}},
      {"lines below the rectangle are not made", "aa bb cc dd", 2, 2, false, taLeftJustified, {"aa", "bb"}},
      {"a NUL ends the text", std::string("ab\0cd", 5), 6, 9, false, taLeftJustified, {"ab"}},
      {"full justification marks paragraph ends",
       "aa bb\ncc",
       3,
       9,
       false,
       taFullJustified,
       {"aa", "bb" + marker, "cc" + marker}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Wrap(c.text, c.chars, c.lines, c.char_wrap, c.alignment), c.expected) << c.what;
  }
}

TEST_F(TextWrapper, ARectangleOneLineHighGetsNoLine) {
  TppWrapInput input;
  input.text = "aaa";
  input.printer = DefaultPrinter();
  input.font = TppFont("Arial Black", 9);
  const int32_t line = Px(38, dirVertical);
  input.rect = {0, 0, 100000, line};
  EXPECT_TRUE(WrapText(input).lines.empty());
  input.rect.bottom = line + 1;
  EXPECT_EQ(WrapText(input).lines, std::vector<std::string>{"aaa"});
}

TEST_F(LabelTest, WordWrappedLabelHandsOverItsLines) {
  TppLabel& label = Label(0);
  label.SetAutoSize(false);
  label.SetWordWrap(true);
  label.SetMMBounds(0, 0, Px(60), Px(38 * 3 + 1, dirVertical));
  label.SetCaption("aaa bbb ccc");
  TppBandGeneration& g = card.GetBand(btDetail)->Generation();
  g.print_rect = {0, 0, 85700, 52388};
  g.page_bottom = 54000;
  label.ResetGeneration();
  label.Generate();
  TppDrawText command;
  label.FillDrawCommand(command);
  EXPECT_EQ(command.WrappedText(), (std::vector<std::string>{"aaa", "bbb", "ccc"}));
}

}  // namespace
}  // namespace parvel::report
