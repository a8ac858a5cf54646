// The writer of stored descriptions, in the form the reader takes back.
#include <charconv>
#include <cmath>

#include "report/base/errors.h"
#include "report/base/stream.h"
#include "report/base/stream_syntax.h"

namespace parvel::report {

using namespace stream_syntax;

namespace {

void RequireIdent(std::string_view text, bool dotted, const char* what) {
  const bool ok = dotted ? IsDottedIdent(text) : IsValidIdent(std::string(text));
  if (!ok) throw EStreamError(std::string("cannot write ") + what + " '" + std::string(text) + "'");
}

}  // namespace

void TWriter::Indent() { text_.append(static_cast<size_t>(depth_) * 2, ' '); }

void TWriter::WriteComponent(const TComponent& component) {
  if (in_property_) throw EStreamError("cannot write an object inside a property value");
  const std::string className = component.ClassName();
  RequireIdent(className, false, "the class name");
  Indent();
  text_ += "object ";
  if (!component.Name().empty()) {
    RequireIdent(component.Name(), false, "the object name");
    text_ += component.Name() + ": ";
  }
  text_ += className + "\n";
  ++depth_;
  component.WriteProperties(*this);
  if (in_property_) throw EStreamError("a property of " + className + " was written without its value");
  component.GetChildren([this](TComponent& child) { WriteComponent(child); });
  --depth_;
  Indent();
  text_ += "end\n";
}

void TWriter::WritePropName(std::string_view name) {
  if (in_property_)
    throw EStreamError("property '" + std::string(name) + "' follows a property without value");
  RequireIdent(name, true, "the property name");
  if (SameText(std::string(name), "object") || SameText(std::string(name), "end")) {
    throw EStreamError("cannot write the property name '" + std::string(name) + "'");
  }
  Indent();
  text_.append(name);
  text_ += " = ";
  in_property_ = true;
  list_depth_ = 0;
}

void TWriter::BeginValue() {
  if (!in_property_) throw EStreamError("a value was written without a property name");
  if (list_depth_ > 0 && !list_first_) text_ += ' ';
  list_first_ = false;
}

void TWriter::EndValue() {
  if (list_depth_ > 0) return;
  text_ += '\n';
  in_property_ = false;
}

void TWriter::WriteInteger(int64_t value) {
  BeginValue();
  text_ += std::to_string(value);
  EndValue();
}

void TWriter::WriteFloat(double value) {
  if (!std::isfinite(value)) throw EStreamError("cannot write a float that is not finite");
  BeginValue();
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  (void)ec;
  std::string text(buffer, end);
  // The reader tells floats from integers by the "." or the exponent.
  if (text.find_first_of(".eE") == std::string::npos) text += ".0";
  text_ += text;
  EndValue();
}

void TWriter::WriteString(std::string_view value) {
  BeginValue();
  if (value.empty()) text_ += "''";
  bool quoted = false;
  for (char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      if (quoted) text_ += '\'';
      quoted = false;
      text_ += '#' + std::to_string(byte);
      continue;
    }
    if (!quoted) text_ += '\'';
    quoted = true;
    if (c == '\'') text_ += '\'';
    text_ += c;
  }
  if (quoted) text_ += '\'';
  EndValue();
}

void TWriter::WriteIdent(std::string_view value) {
  RequireIdent(value, true, "the identifier");
  if (IsBooleanWord(value)) throw EStreamError("cannot write the identifier '" + std::string(value) + "'");
  BeginValue();
  text_.append(value);
  EndValue();
}

void TWriter::WriteBoolean(bool value) {
  BeginValue();
  text_ += value ? "True" : "False";
  EndValue();
}

void TWriter::WriteSet(const std::vector<std::string>& members) {
  for (const std::string& member : members) RequireIdent(member, false, "the set member");
  BeginValue();
  text_ += '[';
  for (size_t i = 0; i < members.size(); ++i) {
    if (i > 0) text_ += ", ";
    text_ += members[i];
  }
  text_ += ']';
  EndValue();
}

void TWriter::WriteBinary(std::span<const uint8_t> data) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  BeginValue();
  text_ += '{';
  for (uint8_t byte : data) {
    text_ += kHex[byte >> 4];
    text_ += kHex[byte & 0x0F];
  }
  text_ += '}';
  EndValue();
}

void TWriter::WriteListBegin() {
  BeginValue();
  text_ += '(';
  ++list_depth_;
  list_first_ = true;
}

void TWriter::WriteListEnd() {
  if (!in_property_ || list_depth_ == 0) throw EStreamError("a list was ended that was not begun");
  text_ += ')';
  --list_depth_;
  list_first_ = false;
  EndValue();
}

void TWriter::WriteStringList(const std::vector<std::string>& items) {
  WriteListBegin();
  for (const std::string& item : items) WriteString(item);
  WriteListEnd();
}

std::string WriteComponentText(const TComponent& component) {
  TWriter writer;
  writer.WriteComponent(component);
  return writer.Text();
}

}  // namespace parvel::report
