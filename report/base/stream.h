#pragma once
// The text format of stored report descriptions, shaped like a form description:
//
//   object rParvel: TppReport
//     mmHeight = 52388
//     Ratio = 4498.9
//     Caption = 'It''s'#13#10'two lines'
//     Visible = True
//     Kind = dtDetail
//     Style = [fsBold, fsItalic]
//     Lines = ('one' 'two')
//     Data = {0A0B0C}
//     object ppLabel1: TppLabel
//     end
//   end
//
// Integers and floats are distinct kinds (a float always shows a "." or an exponent), so a
// length stored as a float can be told apart and truncated. Strings are UTF-8; "#n" stands for
// the code point n. Property names may be dotted ("PrinterSetup.BinName"). Every malformed
// stream throws EStreamError whose message begins "line N: ".
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "report/base/component.h"

namespace parvel::report {

// Makes a new object of one class; a non-null owner holds it, else the caller does.
using TComponentFactory = std::function<TComponent*(TComponent* owner)>;

// Class names are matched without case. A second registration of a name replaces the first.
void RegisterClass(const std::string& className, TComponentFactory factory);
template <class T>
void RegisterClass(const std::string& className) {
  RegisterClass(className, [](TComponent* owner) -> TComponent* { return new T(owner); });
}
void UnregisterClass(const std::string& className);
bool IsClassRegistered(const std::string& className);

enum class TValueType {
  vaInteger,
  vaFloat,
  vaString,
  vaIdent,
  vaBoolean,
  vaSet,
  vaBinary,
  vaList,
  vaEndOfList
};

class TReader {
 public:
  explicit TReader(std::string_view text);

  // Reads the object tree at the start of the text. Every object of it gets `owner`, which
  // holds the root and everything in it; the root is answered. On failure nothing of the tree
  // remains: every object read so far is freed before EStreamError leaves.
  TComponent* ReadComponent(TComponent* owner);
  // Same for a tree without owner: the caller holds the root, parents hold their children.
  std::unique_ptr<TComponent> ReadComponent();
  // Reads the stream's properties and children into an existing object, whose class must be
  // the stream's; its nested objects get the root's owner.
  void ReadRootComponent(TComponent& root);

  // For property hooks: the kind of the next value, and reading it. A value of another kind
  // is a stream error; ReadFloat also takes an integer.
  TValueType NextValue();
  int32_t ReadInteger();
  int64_t ReadInt64();
  double ReadFloat();
  std::string ReadString();
  std::string ReadIdent();
  bool ReadBoolean();
  std::vector<std::string> ReadSet();
  std::vector<uint8_t> ReadBinary();
  void ReadListBegin();
  bool EndOfList();
  void ReadListEnd();
  std::vector<std::string> ReadStringList();
  void SkipValue();  // for entries of older streams that are read and ignored

  // The line of the next token (1-based).
  int Line();
  [[noreturn]] void Error(const std::string& what);
  [[noreturn]] void ErrorAt(int line, const std::string& what);

  // Reads `object`'s properties and nested objects up to its "end" (TComponent::ReadState).
  void ReadObjectBody(TComponent& object);

 private:
  struct Created {
    TComponent* object;
    std::weak_ptr<const void> alive;
  };
  struct Header {
    int line;
    std::string name;
    std::string className;
  };

  Header ReadHeader();
  TComponent* ReadObject(TComponent* owner, TComponent* parent);
  void ReadProperty(TComponent& object);
  void Finish();
  void FailCleanup();
  void ExpectEndOfText();

  void SkipBlanks();
  bool AtEnd();
  char Peek();
  bool PeekWord(std::string_view word);
  std::string ScanIdent(bool dotted);
  void Expect(char c);
  std::string Describe();  // the next token, for messages

  std::string_view text_;
  size_t pos_ = 0;
  int line_ = 1;
  TComponent* owner_ = nullptr;
  TComponent* root_ = nullptr;  // the existing object ReadRootComponent reads into
  std::vector<Created> created_;
};

class TWriter {
 public:
  TWriter() = default;

  // A whole object tree: header, published properties, nested children, "end".
  void WriteComponent(const TComponent& component);

  // For property hooks: one name, then one value (a list counts as one value).
  void WritePropName(std::string_view name);
  void WriteInteger(int64_t value);
  void WriteFloat(double value);  // shortest text that reads back bit-exact; never NaN or inf
  void WriteString(std::string_view value);
  void WriteIdent(std::string_view value);
  void WriteBoolean(bool value);
  void WriteSet(const std::vector<std::string>& members);
  void WriteBinary(std::span<const uint8_t> data);
  void WriteListBegin();
  void WriteListEnd();
  void WriteStringList(const std::vector<std::string>& items);

  const std::string& Text() const { return text_; }

 private:
  void BeginValue();
  void EndValue();
  void Indent();

  std::string text_;
  int depth_ = 0;
  int list_depth_ = 0;
  bool in_property_ = false;
  bool list_first_ = false;
};

// The stream text of one object tree.
std::string WriteComponentText(const TComponent& component);
TComponent* ReadComponentText(std::string_view text, TComponent* owner);
std::unique_ptr<TComponent> ReadComponentText(std::string_view text);

// One stored length: an integer is taken unchanged, a float truncated toward zero; a value
// outside 32 bits is a stream error.
int32_t ReadMMValue(TReader& reader);

}  // namespace parvel::report
