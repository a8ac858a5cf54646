// The reader of stored descriptions: scanning, values, then whole objects.
#include <charconv>
#include <cmath>
#include <limits>

#include "report/base/errors.h"
#include "report/base/stream.h"
#include "report/base/stream_syntax.h"

namespace parvel::report {

using namespace stream_syntax;

namespace {

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

const char* KindName(TValueType kind) {
  switch (kind) {
    case TValueType::vaInteger:
      return "integer";
    case TValueType::vaFloat:
      return "float";
    case TValueType::vaString:
      return "string";
    case TValueType::vaIdent:
      return "identifier";
    case TValueType::vaBoolean:
      return "Boolean";
    case TValueType::vaSet:
      return "set";
    case TValueType::vaBinary:
      return "binary";
    case TValueType::vaList:
      return "list";
    case TValueType::vaEndOfList:
      return "')'";
  }
  return "value";
}

}  // namespace

// ---- reader: scanning

TReader::TReader(std::string_view text) : text_(text) {}

void TReader::SkipBlanks() {
  while (pos_ < text_.size()) {
    const char c = text_[pos_];
    if (c == '\n') {
      ++line_;
    } else if (c != ' ' && c != '\t' && c != '\r') {
      return;
    }
    ++pos_;
  }
}

bool TReader::AtEnd() {
  SkipBlanks();
  return pos_ >= text_.size();
}

char TReader::Peek() {
  SkipBlanks();
  return pos_ < text_.size() ? text_[pos_] : '\0';
}

int TReader::Line() {
  SkipBlanks();
  return line_;
}

void TReader::Error(const std::string& what) { ErrorAt(Line(), what); }

void TReader::ErrorAt(int line, const std::string& what) {
  throw EStreamError("line " + std::to_string(line) + ": " + what);
}

std::string TReader::Describe() {
  if (AtEnd()) return "end of text";
  size_t end = pos_;
  while (end < text_.size() && end - pos_ < 20 && text_[end] != ' ' && text_[end] != '\n' &&
         text_[end] != '\r' && text_[end] != '\t') {
    ++end;
  }
  return "'" + std::string(text_.substr(pos_, std::max<size_t>(end - pos_, 1))) + "'";
}

bool TReader::PeekWord(std::string_view word) {
  SkipBlanks();
  if (text_.size() - pos_ < word.size()) return false;
  if (!SameText(std::string(text_.substr(pos_, word.size())), std::string(word))) return false;
  const size_t after = pos_ + word.size();
  return after >= text_.size() || !IsIdentChar(text_[after]);
}

std::string TReader::ScanIdent(bool dotted) {
  SkipBlanks();
  if (pos_ >= text_.size() || !IsIdentStart(text_[pos_])) Error("name expected, found " + Describe());
  const size_t start = pos_;
  for (;;) {
    while (pos_ < text_.size() && IsIdentChar(text_[pos_])) ++pos_;
    if (!dotted || pos_ + 1 >= text_.size() || text_[pos_] != '.' || !IsIdentStart(text_[pos_ + 1])) break;
    ++pos_;
  }
  return std::string(text_.substr(start, pos_ - start));
}

void TReader::Expect(char c) {
  if (Peek() != c) Error(std::string("'") + c + "' expected, found " + Describe());
  ++pos_;
}

// ---- reader: values

TValueType TReader::NextValue() {
  if (AtEnd()) Error("value expected, found end of text");
  const char c = text_[pos_];
  const char next = pos_ + 1 < text_.size() ? text_[pos_ + 1] : '\0';
  if (IsDigit(c) || c == '$' || ((c == '-' || c == '+') && (IsDigit(next) || next == '$'))) {
    size_t p = pos_ + ((c == '-' || c == '+') ? 1 : 0);
    if (text_[p] == '$') return TValueType::vaInteger;
    while (p < text_.size() && IsDigit(text_[p])) ++p;
    if (p < text_.size() && (text_[p] == '.' || text_[p] == 'e' || text_[p] == 'E'))
      return TValueType::vaFloat;
    return TValueType::vaInteger;
  }
  switch (c) {
    case '\'':
    case '#':
      return TValueType::vaString;
    case '[':
      return TValueType::vaSet;
    case '{':
      return TValueType::vaBinary;
    case '(':
      return TValueType::vaList;
    case ')':
      return TValueType::vaEndOfList;
    default:
      break;
  }
  if (IsIdentStart(c)) {
    size_t end = pos_;
    while (end < text_.size() && IsIdentChar(text_[end])) ++end;
    return IsBooleanWord(text_.substr(pos_, end - pos_)) ? TValueType::vaBoolean : TValueType::vaIdent;
  }
  Error("value expected, found " + Describe());
}

namespace {

// Fails unless `kind` is the wanted one; the message names both.
std::string Mismatch(const char* wanted, TValueType found) {
  return std::string(wanted) + " expected, found " + KindName(found);
}

}  // namespace

int64_t TReader::ReadInt64() {
  const TValueType kind = NextValue();
  if (kind != TValueType::vaInteger) Error(Mismatch("integer", kind));
  const size_t start = pos_;
  bool negative = false;
  if (text_[pos_] == '-' || text_[pos_] == '+') negative = text_[pos_++] == '-';
  int base = 10;
  if (text_[pos_] == '$') {
    base = 16;
    ++pos_;
  }
  const size_t digits = pos_;
  while (pos_ < text_.size() && (base == 16 ? IsHexDigit(text_[pos_]) : IsDigit(text_[pos_]))) ++pos_;
  if (pos_ == digits || (pos_ < text_.size() && IsIdentChar(text_[pos_]))) {
    pos_ = start;
    Error("malformed number " + Describe());
  }
  uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(text_.data() + digits, text_.data() + pos_, magnitude, base);
  (void)end;
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  if (ec != std::errc() || magnitude > limit) {
    pos_ = start;
    Error("integer out of range " + Describe());
  }
  if (negative)
    return magnitude == limit ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(magnitude);
  return static_cast<int64_t>(magnitude);
}

int32_t TReader::ReadInteger() {
  const int line = Line();
  const int64_t value = ReadInt64();
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
    ErrorAt(line, "integer out of range " + std::to_string(value));
  }
  return static_cast<int32_t>(value);
}

double TReader::ReadFloat() {
  const TValueType kind = NextValue();
  if (kind == TValueType::vaInteger) return static_cast<double>(ReadInt64());
  if (kind != TValueType::vaFloat) Error(Mismatch("float", kind));
  const size_t start = pos_;
  size_t p = pos_;
  if (text_[p] == '-' || text_[p] == '+') ++p;
  auto digits = [&] {
    const size_t from = p;
    while (p < text_.size() && IsDigit(text_[p])) ++p;
    return p > from;
  };
  bool ok = digits();
  if (ok && p < text_.size() && text_[p] == '.') {
    ++p;
    ok = digits();
  }
  if (ok && p < text_.size() && (text_[p] == 'e' || text_[p] == 'E')) {
    ++p;
    if (p < text_.size() && (text_[p] == '-' || text_[p] == '+')) ++p;
    ok = digits();
  }
  if (!ok || (p < text_.size() && (IsIdentChar(text_[p]) || text_[p] == '.')))
    Error("malformed number " + Describe());
  // from_chars takes no leading "+".
  const size_t from = text_[start] == '+' ? start + 1 : start;
  double value = 0;
  auto [end, ec] = std::from_chars(text_.data() + from, text_.data() + p, value);
  if (ec != std::errc() || end != text_.data() + p || !std::isfinite(value)) {
    Error("number out of range " + Describe());
  }
  pos_ = p;
  return value;
}

std::string TReader::ReadString() {
  const TValueType kind = NextValue();
  if (kind != TValueType::vaString) Error(Mismatch("string", kind));
  std::string result;
  // Parts follow each other without blanks: 'It''s'#13#10'more'.
  while (pos_ < text_.size() && (text_[pos_] == '\'' || text_[pos_] == '#')) {
    if (text_[pos_] == '\'') {
      const int line = line_;
      ++pos_;
      for (;;) {
        if (pos_ >= text_.size() || text_[pos_] == '\n' || text_[pos_] == '\r')
          ErrorAt(line, "unterminated string");
        if (text_[pos_] == '\'') {
          if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
            result += '\'';
            pos_ += 2;
            continue;
          }
          ++pos_;
          break;
        }
        result += text_[pos_++];
      }
    } else {
      ++pos_;
      const bool hex = pos_ < text_.size() && text_[pos_] == '$';
      if (hex) ++pos_;
      const size_t digits = pos_;
      uint64_t code = 0;
      while (pos_ < text_.size() && (hex ? IsHexDigit(text_[pos_]) : IsDigit(text_[pos_])) &&
             code <= 0x10FFFF) {
        code =
            code * (hex ? 16 : 10) + static_cast<uint64_t>(hex ? HexValue(text_[pos_]) : text_[pos_] - '0');
        ++pos_;
      }
      if (pos_ == digits) Error("malformed character code");
      if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) Error("invalid character code");
      AppendUtf8(result, static_cast<uint32_t>(code));
    }
  }
  return result;
}

std::string TReader::ReadIdent() {
  const TValueType kind = NextValue();
  if (kind != TValueType::vaIdent) Error(Mismatch("identifier", kind));
  return ScanIdent(true);
}

bool TReader::ReadBoolean() {
  const TValueType kind = NextValue();
  if (kind != TValueType::vaBoolean) Error(Mismatch("Boolean", kind));
  return SameText(ScanIdent(false), "True");
}

std::vector<std::string> TReader::ReadSet() {
  const TValueType kind = NextValue();
  if (kind != TValueType::vaSet) Error(Mismatch("set", kind));
  ++pos_;
  std::vector<std::string> members;
  if (Peek() == ']') {
    ++pos_;
    return members;
  }
  for (;;) {
    members.push_back(ScanIdent(false));
    const char c = Peek();
    if (c == ']') {
      ++pos_;
      return members;
    }
    if (c != ',') Error("',' or ']' expected, found " + Describe());
    ++pos_;
  }
}

std::vector<uint8_t> TReader::ReadBinary() {
  const TValueType kind = NextValue();
  if (kind != TValueType::vaBinary) Error(Mismatch("binary", kind));
  const int line = line_;
  ++pos_;
  std::vector<uint8_t> data;
  int pending = -1;
  for (;;) {
    if (AtEnd()) ErrorAt(line, "missing '}' of binary value");
    const char c = text_[pos_];
    if (c == '}') break;
    if (!IsHexDigit(c)) Error("hexadecimal digit expected, found " + Describe());
    if (pending < 0) {
      pending = HexValue(c);
    } else {
      data.push_back(static_cast<uint8_t>(pending * 16 + HexValue(c)));
      pending = -1;
    }
    ++pos_;
  }
  if (pending >= 0) Error("odd number of hexadecimal digits");
  ++pos_;
  return data;
}

void TReader::ReadListBegin() {
  const TValueType kind = NextValue();
  if (kind != TValueType::vaList) Error(Mismatch("list", kind));
  ++pos_;
}

bool TReader::EndOfList() {
  if (AtEnd()) Error("')' expected, found end of text");
  return text_[pos_] == ')';
}

void TReader::ReadListEnd() { Expect(')'); }

std::vector<std::string> TReader::ReadStringList() {
  std::vector<std::string> items;
  ReadListBegin();
  while (!EndOfList()) items.push_back(ReadString());
  ReadListEnd();
  return items;
}

void TReader::SkipValue() {
  switch (NextValue()) {
    case TValueType::vaInteger:
      ReadInt64();
      break;
    case TValueType::vaFloat:
      ReadFloat();
      break;
    case TValueType::vaString:
      ReadString();
      break;
    case TValueType::vaIdent:
      ReadIdent();
      break;
    case TValueType::vaBoolean:
      ReadBoolean();
      break;
    case TValueType::vaSet:
      ReadSet();
      break;
    case TValueType::vaBinary:
      ReadBinary();
      break;
    case TValueType::vaList:
      ReadListBegin();
      while (!EndOfList()) SkipValue();
      ReadListEnd();
      break;
    case TValueType::vaEndOfList:
      Error("value expected, found ')'");
  }
}

int32_t ReadMMValue(TReader& reader) {
  const int line = reader.Line();
  switch (reader.NextValue()) {
    case TValueType::vaInteger:
      return reader.ReadInteger();
    case TValueType::vaFloat: {
      const double value = std::trunc(reader.ReadFloat());
      if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
        reader.ErrorAt(line, "length out of range");
      }
      return static_cast<int32_t>(value);
    }
    default:
      reader.ErrorAt(line, Mismatch("integer or float", reader.NextValue()));
  }
}

// ---- reader: objects

namespace {

// Failures of the objects' own code while they are read become stream errors of the line.
template <class Fn>
auto Guarded(TReader& reader, int line, const std::string& context, Fn&& fn) {
  try {
    return fn();
  } catch (const EStreamError&) {
    throw;
  } catch (const std::exception& e) {
    reader.ErrorAt(line, context + e.what());
  }
}

}  // namespace

TReader::Header TReader::ReadHeader() {
  Header header;
  header.line = Line();
  if (!PeekWord("object")) Error("'object' expected, found " + Describe());
  ScanIdent(false);
  const std::string first = ScanIdent(false);
  if (Peek() == ':') {
    ++pos_;
    header.name = first;
    header.className = ScanIdent(false);
  } else {
    header.className = first;
  }
  return header;
}

TComponent* TReader::ReadObject(TComponent* owner, TComponent* parent) {
  const Header header = ReadHeader();
  TComponentFactory factory = FindFactory(header.className);
  if (!factory) ErrorAt(header.line, "unknown class " + header.className);
  TComponent* object = Guarded(*this, header.line, header.className + ": ", [&] { return factory(owner); });
  if (object == nullptr) ErrorAt(header.line, "class " + header.className + " made no object");
  created_.push_back({object, object->Liveness()});
  object->IncludeState(csReading | csLoading);
  Guarded(*this, header.line, "", [&] { object->SetName(header.name); });
  if (parent != nullptr) {
    const bool held = Guarded(*this, header.line, "", [&] { return parent->AddStreamedChild(*object); });
    if (!held) {
      ErrorAt(header.line,
              parent->ClassName() + " cannot hold the object " + header.name + ": " + header.className);
    }
  }
  object->ReadState(*this);
  object->ExcludeState(csReading);
  return object;
}

void TReader::ReadObjectBody(TComponent& object) {
  const int begun = line_;
  for (;;) {
    if (AtEnd()) {
      ErrorAt(line_, "missing 'end' of object " + object.Name() + ": " + object.ClassName() +
                         " (begun at line " + std::to_string(begun) + ")");
    }
    if (PeekWord("end")) {
      ScanIdent(false);
      return;
    }
    if (PeekWord("object")) {
      ReadObject(owner_, &object);
      continue;
    }
    ReadProperty(object);
  }
}

void TReader::ReadProperty(TComponent& object) {
  const int line = Line();
  if (pos_ >= text_.size() || !IsIdentStart(text_[pos_]))
    Error("property name expected, found " + Describe());
  const std::string name = ScanIdent(true);
  Expect('=');
  const bool known =
      Guarded(*this, line, "property " + name + ": ", [&] { return object.ReadProperty(name, *this); });
  if (!known) ErrorAt(line, "unknown property " + name + " of " + object.ClassName());
}

void TReader::ExpectEndOfText() {
  if (!AtEnd()) Error("unexpected text after the end of the object: " + Describe());
}

void TReader::Finish() {
  const std::vector<Created> loaded = created_;
  for (const Created& entry : loaded) {
    if (!entry.alive.expired()) entry.object->Loaded();
  }
  for (const Created& entry : loaded) {
    if (!entry.alive.expired()) entry.object->ExcludeState(csReading | csLoading);
  }
}

void TReader::FailCleanup() {
  // Latest first: nested objects go before the parents that hold them; an object that went
  // with an earlier one is not freed again.
  for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
    if (it->alive.expired()) continue;
    if (it->object == root_) {
      it->object->ExcludeState(csReading | csLoading);
      continue;
    }
    // The reader holds what it made until the whole tree stands; the object's destructor
    // takes it out of its owner and its parent.
    delete it->object;
  }
  created_.clear();
}

TComponent* TReader::ReadComponent(TComponent* owner) {
  owner_ = owner;
  root_ = nullptr;
  try {
    TComponent* root = ReadObject(owner, nullptr);
    ExpectEndOfText();
    Finish();
    created_.clear();
    return root;
  } catch (...) {
    FailCleanup();
    throw;
  }
}

std::unique_ptr<TComponent> TReader::ReadComponent() {
  return std::unique_ptr<TComponent>(ReadComponent(nullptr));
}

void TReader::ReadRootComponent(TComponent& root) {
  owner_ = root.Owner();
  root_ = &root;
  try {
    const Header header = ReadHeader();
    if (!SameText(header.className, root.ClassName())) {
      ErrorAt(header.line, "the stream holds a " + header.className + ", not a " + root.ClassName());
    }
    created_.push_back({&root, root.Liveness()});
    root.IncludeState(csReading | csLoading);
    Guarded(*this, header.line, "", [&] { root.SetName(header.name); });
    root.ReadState(*this);
    root.ExcludeState(csReading);
    ExpectEndOfText();
    Finish();
    created_.clear();
  } catch (...) {
    FailCleanup();
    throw;
  }
}

TComponent* ReadComponentText(std::string_view text, TComponent* owner) {
  return TReader(text).ReadComponent(owner);
}

std::unique_ptr<TComponent> ReadComponentText(std::string_view text) { return TReader(text).ReadComponent(); }

}  // namespace parvel::report
