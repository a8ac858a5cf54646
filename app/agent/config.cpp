#include "app/agent/config.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <system_error>

#include "app/agent/text_decoding.h"
#include "platform/text.h"

namespace parvel::agent {

namespace {

constexpr size_t kMaxValueCharacters = 2047;

bool IsControlOrBlank(char c) { return static_cast<unsigned char>(c) <= 32; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The first `count` characters of UTF-8 `text`.
std::string_view FirstCharacters(std::string_view text, size_t count) {
  size_t i = 0;
  for (size_t seen = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // inside a character
    if (seen++ == count) break;
  }
  return text.substr(0, i);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string Trim(std::string_view text) {
  while (!text.empty() && IsControlOrBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsControlOrBlank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

std::string RetiraExtensao(std::string_view text) { return Trim(text.substr(0, text.find('.'))); }

std::filesystem::path ConfigFileFor(const std::filesystem::path& program_file) {
  return program_file.parent_path() / (RetiraExtensao(program_file.filename().string()) + ".INI");
}

std::optional<std::filesystem::path> FindConfigFile(const std::filesystem::path& wanted) {
  std::error_code ec;
  if (std::filesystem::is_regular_file(wanted, ec)) return wanted;
  const std::filesystem::path folder = wanted.has_parent_path() ? wanted.parent_path() : ".";
  const std::string name = wanted.filename().string();
  std::optional<std::filesystem::path> found;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string candidate = it->path().filename().string();
    if (!text::SameText(candidate, name)) continue;
    std::error_code type_ec;
    if (!std::filesystem::is_regular_file(it->path(), type_ec)) continue;
    if (!found || candidate < found->filename().string()) found = it->path();
  }
  return found;
}

TIniFile::TIniFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw EConvertError("Cannot open file \"" + file.string() + "\"");
  std::ostringstream content;
  content << in.rdbuf();
  Parse(DecodeText(content.str()));
}

TIniFile TIniFile::FromText(std::string_view text) {
  TIniFile ini;
  ini.Parse(DecodeText(text));
  return ini;
}

void TIniFile::Parse(std::string_view text) {
  Section* current = nullptr;
  while (!text.empty()) {
    const size_t end = text.find_first_of("\r\n");
    std::string_view line = TrimBlanks(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      sections_.push_back({std::string(TrimBlanks(line.substr(
                               1, close == std::string_view::npos ? std::string_view::npos : close - 1))),
                           {}});
      current = &sections_.back();
      continue;
    }
    const size_t equals = line.find('=');
    if (current == nullptr || equals == std::string_view::npos) continue;
    std::string_view value = TrimBlanks(line.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    current->entries.push_back({std::string(TrimBlanks(line.substr(0, equals))),
                                std::string(FirstCharacters(value, kMaxValueCharacters))});
  }
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 const std::string& fallback) const {
  for (const Section& s : sections_) {
    if (!text::SameText(s.name, section)) continue;
    for (const Entry& e : s.entries) {
      if (text::SameText(e.key, key)) return e.value;
    }
    return fallback;
  }
  return fallback;
}

double StrToFloat(std::string_view text, char separator) {
  const auto fail = [&]() -> double {
    throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  };
  std::string_view s = text;
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  // Rewritten with "." so the reading does not depend on the C library's locale.
  std::string plain;
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') plain.push_back('-');
    ++i;
  }
  int digits = 0;
  bool separator_seen = false;
  bool negative_exponent = false;
  for (; i < s.size(); ++i) {
    if (IsDigit(s[i])) {
      plain.push_back(s[i]);
      ++digits;
    } else if (s[i] == separator && !separator_seen) {
      separator_seen = true;
      plain.push_back('.');
    } else {
      break;
    }
  }
  if (digits == 0) return fail();
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    plain.push_back('e');
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
      negative_exponent = s[i] == '-';
      plain.push_back(s[i++]);
    }
    const size_t first = i;
    while (i < s.size() && IsDigit(s[i])) plain.push_back(s[i++]);
    if (i == first) return fail();
  }
  if (i != s.size()) return fail();
  // Read in extended precision, stored in double.
  long double value = 0;
  const char* end = plain.data() + plain.size();
  const auto [stop, ec] = std::from_chars(plain.data(), end, value);
  if (stop != end) return fail();
  // Past even the extended range the value is left unread: the exponent's sign tells which end.
  const bool huge = ec == std::errc::result_out_of_range
                        ? !negative_exponent
                        : std::fabs(value) > std::numeric_limits<double>::max();
  // Too small a value reads as zero; too large a one is no number at all.
  if (huge || (ec != std::errc() && ec != std::errc::result_out_of_range)) return fail();
  return static_cast<double>(value);
}

int32_t StrToInt(std::string_view text) {
  const auto fail = [&]() -> int32_t {
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  };
  std::string_view s = text;
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && (s.front() == '$' || s.front() == 'x' || s.front() == 'X')) {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return fail();
  uint64_t magnitude = 0;
  for (char c : s) {
    const int digit = base == 16 ? HexDigit(c) : (IsDigit(c) ? c - '0' : -1);
    if (digit < 0) return fail();
    magnitude = magnitude * base + digit;
    if (magnitude > 0xFFFFFFFFull) return fail();
  }
  int64_t value = 0;
  if (base == 16) {
    value = static_cast<int32_t>(static_cast<uint32_t>(magnitude));
  } else {
    if (magnitude > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return fail();
    value = static_cast<int64_t>(magnitude);
  }
  return static_cast<int32_t>(negative ? -value : value);
}

const char* const kUsage =
    "Usage: parvel [--config FILE]\n"
    "       parvel --help | --version\n"
    "\n"
    "Prints one CR80 card per card file (*.car) dropped into the spool folder named in the INI\n"
    "file, then deletes the file. The INI file lies beside the program file (parvel.INI for the\n"
    "program parvel). Without a display the agent runs headless and writes its messages on\n"
    "standard error. SIGTERM and SIGINT end it after the card in progress; SIGHUP reads the INI\n"
    "file again.\n"
    "\n"
    "  --config FILE  read FILE instead of the INI beside the program\n"
    "  --help         show this text\n"
    "  --version      show the version\n"
    "\n"
    "Exit status: 0 when ended, 1 when the INI file is missing, 2 on a wrong command line.\n";

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  TCommandLine result;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    if (a == "--help" || a == "-h") {
      result.action = TCommandLine::Action::Help;
      return result;
    }
    if (a == "--version") {
      result.action = TCommandLine::Action::Version;
      return result;
    }
    if (a == "--config" && i + 1 < arguments.size()) {
      result.config = arguments[++i];
    } else if (a.rfind("--config=", 0) == 0 && a.size() > 9) {
      result.config = a.substr(9);
    } else {
      result.action = TCommandLine::Action::Error;
      result.error = a == "--config" ? "--config needs a file name" : "unknown argument: " + a;
      return result;
    }
  }
  return result;
}

}  // namespace parvel::agent
