#include "report/base/stream.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "report/base/errors.h"
#include "tests/report/base/model_test_classes.h"

namespace parvel::report {
namespace {

using doubles::TTestItem;

class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override;

  TTestItem* Read(const std::string& text) {
    return dynamic_cast<TTestItem*>(ReadComponentText(text, &owner));
  }
  TTestItem* Child(TTestItem* parent, int index) { return dynamic_cast<TTestItem*>(parent->Children(index)); }

  TComponent owner;
};

// A property hook that reads one value with the given reader call.
struct TProbe : TComponent {
  using TComponent::TComponent;
  std::string ClassName() const override { return "TppProbe"; }
  bool ReadProperty(const std::string& name, TReader& reader) override {
    if (name == "Len") {
      len = ReadMMValue(reader);
      return true;
    }
    if (name == "Skipped") {
      reader.SkipValue();
      return true;
    }
    return TComponent::ReadProperty(name, reader);
  }
  int32_t len = 0;
};

void StreamTest::SetUp() {
  doubles::RegisterTestClasses();
  RegisterClass<TProbe>("TppProbe");
}

TEST_F(StreamTest, EveryValueKindComesBackUnchanged) {
  TTestItem item(&owner);
  item.SetName("ppItem1");
  item.SetTag(-42);
  item.mmHeight = -2147483647 - 1;
  item.Caption = "It's \"quoted\"\r\n\tand ünïcödé ☺ \x7F";
  item.Kind = "dtDetail";
  item.Visible = false;
  item.Style = {"fsBold", "fsItalic"};
  item.Lines = {"one", "", "three's"};
  item.Data = {0x00, 0x0A, 0xFF, 0x7C};
  const double floats[] = {4498.9, 0.1, 1.0 / 3.0, -0.0, 1e300, 5e-324, 123456789.0, -2.5e-7};
  for (double ratio : floats) {
    item.Ratio = ratio;
    const std::string text = WriteComponentText(item);
    TComponent other;
    auto* back = dynamic_cast<TTestItem*>(ReadComponentText(text, &other));
    ASSERT_NE(back, nullptr) << text;
    EXPECT_EQ(std::bit_cast<uint64_t>(back->Ratio), std::bit_cast<uint64_t>(ratio)) << text;
    EXPECT_EQ(back->Name(), "ppItem1");
    EXPECT_EQ(back->UserName(), "Item1");
    EXPECT_EQ(back->Tag(), -42);
    EXPECT_EQ(back->mmHeight, item.mmHeight);
    EXPECT_EQ(back->Caption, item.Caption);
    EXPECT_EQ(back->Kind, item.Kind);
    EXPECT_EQ(back->Visible, false);
    EXPECT_EQ(back->Style, item.Style);
    EXPECT_EQ(back->Lines, item.Lines);
    EXPECT_EQ(back->Data, item.Data);
    EXPECT_EQ(WriteComponentText(*back), text);
  }
}

TEST_F(StreamTest, TheWrittenFormIsTheFormDescriptionShape) {
  TTestItem parent(&owner);
  parent.SetName("rParvel");
  parent.mmHeight = 52388;
  parent.Ratio = 2.0;
  parent.Caption = "a'b";
  parent.Style = {};
  parent.Lines = {"one", "two"};
  parent.Data = {0x0A, 0x0B, 0x0C};
  auto* child = &owner.Add(std::make_unique<TTestItem>(nullptr));
  child->SetName("ppLabel1");
  child->SetParent(&parent);
  const std::string text = WriteComponentText(parent);
  EXPECT_EQ(text.substr(0, text.find("object ppLabel1")),
            "object rParvel: TppTestItem\n"
            "  UserName = 'rParvel'\n"
            "  mmHeight = 52388\n"
            "  Ratio = 2.0\n"
            "  Caption = 'a''b'\n"
            "  Kind = dtDetail\n"
            "  Visible = True\n"
            "  Font.Style = []\n"
            "  Lines = ('one' 'two')\n"
            "  Data = {0A0B0C}\n"
            "  ");
  EXPECT_NE(text.find("\n  object ppLabel1: TppTestItem\n    UserName = 'Label1'\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 10), "  end\nend\n");
}

TEST_F(StreamTest, ReadingSetsTheStatesAndRunsLoadedOnceAfterTheWholeTree) {
  TTestItem* root = Read(
      "object root: TppTestItem\n"
      "  object a: TppTestItem\n"
      "    Caption = 'x'\n"
      "    object b: TppTestItem\n"
      "      Caption = 'y'\n"
      "    end\n"
      "  end\n"
      "end\n");
  ASSERT_NE(root, nullptr);
  TTestItem* a = Child(root, 0);
  TTestItem* b = Child(a, 0);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(owner.ComponentCount(), 3);
  for (TTestItem* item : {root, a, b}) {
    EXPECT_EQ(item->loaded_calls, 1) << item->Name();
    EXPECT_EQ(item->ComponentState(), 0u) << item->Name();
    EXPECT_EQ(item->Owner(), &owner);
  }
  EXPECT_EQ(root->descendants_at_loaded, 2);  // the root's step ran after the whole tree was read
  EXPECT_TRUE(a->was_reading_and_loading);
  EXPECT_TRUE(b->was_reading_and_loading);
  // No UserName in the stream: the default comes after the load.
  EXPECT_EQ(root->UserName(), "root");
  EXPECT_EQ(b->UserName(), "b");
}

TEST_F(StreamTest, StoredUserNamesStandAndAnUnnamedObjectGetsAUniqueOne) {
  TTestItem* root = Read(
      "object ppRoot: TppTestItem\n"
      "  UserName = 'Main'\n"
      "  object TppTestItem\n"
      "  end\n"
      "end\n");
  EXPECT_EQ(root->UserName(), "Main");
  EXPECT_EQ(Child(root, 0)->Name(), "");
  EXPECT_EQ(Child(root, 0)->UserName(), "TestItem1");
}

TEST_F(StreamTest, OrderedChildrenGoBackToTheirStoredPositions) {
  TTestItem* root = Read(
      "object root: TppTestItem\n"
      "  OrderedChildren = True\n"
      "  object a: TppTestItem\n    Position = 2\n  end\n"
      "  object b: TppTestItem\n    Position = 0\n  end\n"
      "  object c: TppTestItem\n    Position = 1\n  end\n"
      "  object d: TppTestItem\n    Position = 7\n  end\n"
      "end\n");
  std::vector<std::string> names;
  for (int i = 0; i < root->ChildCount(); ++i) names.push_back(root->Children(i)->Name());
  EXPECT_EQ(names, (std::vector<std::string>{"b", "c", "a", "d"}));
  // Written back, the order and the positions round-trip.
  const std::string text = WriteComponentText(*root);
  TComponent other;
  auto* back = dynamic_cast<TTestItem*>(ReadComponentText(text, &other));
  ASSERT_NE(back, nullptr);
  EXPECT_TRUE(back->OrderedChildren());
  EXPECT_EQ(back->Children(2)->Name(), "a");
  EXPECT_EQ(back->Children(2)->Position(), 2);
  EXPECT_EQ(WriteComponentText(*back), text);
}

TEST_F(StreamTest, WithoutOrderedChildrenTheStreamOrderStandsAndChildTypeIsReadNotWritten) {
  TTestItem* root = Read(
      "object root: TppTestItem\n"
      "  ChildType = 3\n"
      "  object a: TppTestItem\n    Position = 1\n  end\n"
      "  object b: TppTestItem\n    Position = 0\n  end\n"
      "end\n");
  EXPECT_EQ(root->Children(0)->Name(), "a");
  EXPECT_EQ(root->ChildType(), 3);
  const std::string text = WriteComponentText(*root);
  EXPECT_EQ(text.find("ChildType"), std::string::npos);
  EXPECT_EQ(text.find("Position"), std::string::npos);
}

TEST_F(StreamTest, CommunicatorsAndRelativesAreRegisteredAndRoundTrip) {
  TppRelative root(&owner);
  root.SetName("root");
  auto* child = &owner.Add(std::make_unique<TppRelative>());
  child->SetName("child");
  child->SetParent(&root);
  const std::string text = WriteComponentText(root);
  EXPECT_EQ(text, "object root: TppRelative\n  object child: TppRelative\n  end\nend\n");
  TComponent other;
  auto* back = dynamic_cast<TppRelative*>(ReadComponentText(text, &other));
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(back->ChildCount(), 1);
  EXPECT_EQ(back->Children(0)->Name(), "child");
  auto plain = ReadComponentText("object c: TppCommunicator\nend\n");
  EXPECT_EQ(plain->ClassName(), "TppCommunicator");
}

TEST_F(StreamTest, ReadRootComponentFillsAnExistingObject) {
  TTestItem report(&owner);
  TReader reader("object rParvel: TppTestItem\n  mmHeight = 7\n  object band: TppTestItem\n  end\nend\n");
  reader.ReadRootComponent(report);
  EXPECT_EQ(report.Name(), "rParvel");
  EXPECT_EQ(report.mmHeight, 7);
  ASSERT_EQ(report.ChildCount(), 1);
  EXPECT_EQ(report.Children(0)->Owner(), &owner);
  EXPECT_EQ(report.loaded_calls, 1);

  TTestItem wrong(&owner);
  TReader other("object x: TppRelative\nend\n");
  EXPECT_THROW(other.ReadRootComponent(wrong), EStreamError);
}

TEST_F(StreamTest, ReadMMValueTakesIntegersAndTruncatesFloats) {
  struct Case {
    const char* value;
    int32_t expected;
  };
  const Case cases[] = {
      {"4498", 4498}, {"4498.9", 4498}, {"-4498.9", -4498},         {"0.99", 0},
      {"$10", 16},    {"1.5e3", 1500},  {"2147483647", 2147483647}, {"-2147483648.7", -2147483647 - 1}};
  for (const Case& c : cases) {
    auto probe = ReadComponentText(std::string("object p: TppProbe\n  Len = ") + c.value + "\nend\n");
    EXPECT_EQ(dynamic_cast<TProbe*>(probe.get())->len, c.expected) << c.value;
  }
}

TEST_F(StreamTest, StringEscapesAndSkippedValues) {
  TTestItem* item = Read(
      "object x: TppTestItem\n"
      "  Caption = 'a'#13#10'b'#$263A#0''''\n"
      "  Lines = (\n    'one'\n    'two')\n"
      "  Data = {0a 0B\n  0c}\n"
      "end\n");
  EXPECT_EQ(item->Caption, std::string("a\r\nb\xE2\x98\xBA", 7) + std::string(1, '\0') + "'");
  EXPECT_EQ(item->Lines, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(item->Data, (std::vector<uint8_t>{0x0A, 0x0B, 0x0C}));
  auto probe = ReadComponentText(
      "object p: TppProbe\n  Skipped = (1 2.5 'x' id True [a] {00} (nested))\n  Len = 3\nend\n");
  EXPECT_EQ(dynamic_cast<TProbe*>(probe.get())->len, 3);
}

TEST_F(StreamTest, MalformedStreamsNameTheLineAndLeaveNothingBehind) {
  struct Case {
    const char* text;
    int line;
    const char* what;
    bool failsWithoutOwner = true;
  };
  const Case cases[] = {
      {"object a: TppTestItem\n  mmHeight = 1\n", 3, "missing 'end'"},
      {"object a: TppTestItem\n  object b: TppTestItem\n  end\n", 4, "missing 'end'"},
      {"object a: TppNoSuchClass\nend\n", 1, "unknown class TppNoSuchClass"},
      {"object a: TppTestItem\n  object b: TppNope\n  end\nend\n", 2, "unknown class TppNope"},
      {"object a: TppTestItem\n  Caption = 'x'\n  Colour = 3\nend\n", 3, "unknown property Colour"},
      {"object a: TppTestItem\n  mmHeight = 'tall'\nend\n", 2, "integer or float expected, found string"},
      {"object a: TppTestItem\n  Visible = 1\nend\n", 2, "Boolean expected, found integer"},
      {"object a: TppTestItem\n  Kind = 'dtDetail'\nend\n", 2, "identifier expected"},
      {"object a: TppTestItem\n  Caption = 'open\nend\n", 2, "unterminated string"},
      {"object a: TppTestItem\n  Data = {0A0}\nend\n", 2, "odd number"},
      {"object a: TppTestItem\n  Data = {0G}\nend\n", 2, "hexadecimal digit expected"},
      {"object a: TppTestItem\n  Font.Style = [fsBold fsItalic]\nend\n", 2, "',' or ']' expected"},
      {"object a: TppTestItem\n  mmHeight = 12abc\nend\n", 2, "malformed number"},
      {"object a: TppTestItem\n  mmHeight = 1e999\nend\n", 2, "out of range"},
      {"object a: TppTestItem\n  mmHeight = 3000000000\nend\n", 2, "out of range"},
      {"object a: TppTestItem\n  mmHeight = 1 2\nend\n", 2, "name expected, found '2'"},
      {"object a: TppTestItem\n  mmHeight 1\nend\n", 2, "'=' expected"},
      {"object a: TppTestItem\n  Lines = ('a' 'b'\nend\n", 3, "string expected"},
      {"object a: TppTestItem\n  Caption = #99999999\nend\n", 2, "invalid character code"},
      {"object a: TppTestItem\nend\nend\n", 3, "unexpected text after the end"},
      {"object a: TppTestItem\n  object a: TppTestItem\n  end\nend\n", 2, "already exists", false},
      {"object a: TppTestItem\n  object p: TppProbe\n  end\nend\n", 2, "cannot hold"},
      {"\n\nthing a: TppTestItem\nend\n", 3, "'object' expected"},
      {"", 1, "'object' expected"},
  };
  for (const Case& c : cases) {
    try {
      ReadComponentText(c.text, &owner);
      ADD_FAILURE() << "no error for:\n" << c.text;
    } catch (const EStreamError& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.rfind("line " + std::to_string(c.line) + ": ", 0), 0u) << message;
      EXPECT_NE(message.find(c.what), std::string::npos) << message;
    }
    EXPECT_EQ(owner.ComponentCount(), 0) << c.text;
    // The same without owner: nothing leaks (the sanitized run checks).
    if (c.failsWithoutOwner) {
      EXPECT_THROW(ReadComponentText(c.text), EStreamError) << c.text;
    }
  }
}

TEST_F(StreamTest, AFailedReadIntoAnExistingObjectFreesOnlyWhatItMade) {
  TTestItem report(&owner);
  report.SetName("rParvel");
  TReader reader("object rParvel: TppTestItem\n  object band: TppTestItem\n    Bad = 1\n  end\nend\n");
  EXPECT_THROW(reader.ReadRootComponent(report), EStreamError);
  EXPECT_EQ(report.ChildCount(), 0);
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(report.ComponentState(), 0u);
}

TEST_F(StreamTest, TheWriterRefusesWhatCouldNotBeReadBack) {
  TWriter writer;
  EXPECT_THROW(writer.WriteInteger(1), EStreamError);  // no property name
  writer.WritePropName("A");
  EXPECT_THROW(writer.WriteFloat(std::numeric_limits<double>::infinity()), EStreamError);
  EXPECT_THROW(writer.WriteFloat(std::numeric_limits<double>::quiet_NaN()), EStreamError);
  EXPECT_THROW(writer.WriteIdent("True"), EStreamError);
  EXPECT_THROW(writer.WriteIdent("two words"), EStreamError);
  EXPECT_THROW(writer.WriteSet({"ok", "1bad"}), EStreamError);
  EXPECT_THROW(writer.WritePropName("B"), EStreamError);  // A still has no value
  writer.WriteInteger(5);
  EXPECT_EQ(writer.Text(), "A = 5\n");
}

}  // namespace
}  // namespace parvel::report
