#pragma once
// Small report objects for the model's tests: a relative that streams one property of every
// value kind, and a log of the objects that went.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "report/base/relative.h"
#include "report/base/stream.h"

namespace parvel::report::doubles {

// Every destroyed TTestItem appends its name here.
inline std::vector<std::string>& FreedLog() {
  static std::vector<std::string> log;
  return log;
}

class TTestItem : public TppRelative {
 public:
  using TppRelative::TppRelative;
  ~TTestItem() override {
    FreedLog().push_back(Name());
    if (on_free) on_free();
  }

  std::string ClassName() const override { return "TppTestItem"; }
  bool PublishesUserName() const override { return true; }
  void Loaded() override {
    ++loaded_calls;
    descendants_at_loaded = CountDescendants(*this);
    TppRelative::Loaded();
  }

  void WriteProperties(TWriter& writer) const override {
    TppRelative::WriteProperties(writer);
    writer.WritePropName("mmHeight");
    writer.WriteInteger(mmHeight);
    writer.WritePropName("Ratio");
    writer.WriteFloat(Ratio);
    writer.WritePropName("Caption");
    writer.WriteString(Caption);
    writer.WritePropName("Kind");
    writer.WriteIdent(Kind);
    writer.WritePropName("Visible");
    writer.WriteBoolean(Visible);
    writer.WritePropName("Font.Style");
    writer.WriteSet(Style);
    writer.WritePropName("Lines");
    writer.WriteStringList(Lines);
    writer.WritePropName("Data");
    writer.WriteBinary(Data);
  }

  bool ReadProperty(const std::string& name, TReader& reader) override {
    was_reading_and_loading = IsReading() && IsLoading();
    if (name == "mmHeight") {
      mmHeight = ReadMMValue(reader);
    } else if (name == "Ratio") {
      Ratio = reader.ReadFloat();
    } else if (name == "Caption") {
      Caption = reader.ReadString();
    } else if (name == "Kind") {
      Kind = reader.ReadIdent();
    } else if (name == "Visible") {
      Visible = reader.ReadBoolean();
    } else if (name == "Font.Style") {
      Style = reader.ReadSet();
    } else if (name == "Lines") {
      Lines = reader.ReadStringList();
    } else if (name == "Data") {
      Data = reader.ReadBinary();
    } else {
      return TppRelative::ReadProperty(name, reader);
    }
    return true;
  }

  int32_t mmHeight = 0;
  double Ratio = 0;
  std::string Caption;
  std::string Kind = "dtDetail";
  bool Visible = true;
  std::vector<std::string> Style;
  std::vector<std::string> Lines;
  std::vector<uint8_t> Data;

  static int CountDescendants(const TppRelative& relative) {
    int count = relative.ChildCount();
    for (int i = 0; i < relative.ChildCount(); ++i) count += CountDescendants(*relative.Children(i));
    return count;
  }

  int loaded_calls = 0;
  int descendants_at_loaded = -1;
  bool was_reading_and_loading = false;
  std::function<void()> on_free;
};

inline void RegisterTestClasses() { RegisterClass<TTestItem>("TppTestItem"); }

}  // namespace parvel::report::doubles
