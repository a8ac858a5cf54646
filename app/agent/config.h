#pragma once
// The agent's configuration: the INI file beside the program, read with the profile rules, and
// the conversions of its texts into numbers.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace parvel::agent {

// A failure whose message the application's error report shows as it stands.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The characters of `text` before its first "." (all of it without one), with characters of code
// 32 and below removed at both ends.
std::string RetiraExtensao(std::string_view text);

// `text` without characters of code 32 and below at either end.
std::string Trim(std::string_view text);

// The INI file named after the program file: its folder, RetiraExtensao of its name, ".INI".
std::filesystem::path ConfigFileFor(const std::filesystem::path& program_file);

// The configuration file to read: `wanted` when a regular file of that exact name exists, else
// the first (in byte order) regular file of its folder whose name differs only in ASCII case;
// nothing when there is neither.
std::optional<std::filesystem::path> FindConfigFile(const std::filesystem::path& wanted);

// An initialisation file read once into memory. Sections and keys match without regard to
// ASCII case and the first match wins; blanks around keys and values are dropped, one pair of
// surrounding quotes is removed, lines starting with ";" are comments, and values are cut to
// their first 2047 characters. The text is taken as UTF-8 when it is valid UTF-8, else as
// Windows-1252.
class TIniFile {
 public:
  // Throws EConvertError when the file cannot be read.
  explicit TIniFile(const std::filesystem::path& file);
  // From text already in memory.
  static TIniFile FromText(std::string_view text);

  // The value of `key` in `section`, or `fallback` when either is missing.
  std::string ReadString(std::string_view section, std::string_view key, const std::string& fallback) const;

 private:
  TIniFile() = default;
  void Parse(std::string_view text);

  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  std::vector<Section> sections_;
};

// A decimal number: optional blanks, sign, digits with at most one `separator`, an optional
// exponent; at least one digit in the mantissa. Throws EConvertError
// "'<text>' is not a valid floating point value".
double StrToFloat(std::string_view text, char separator);

// A signed 32-bit integer: optional leading blanks, an optional sign, decimal digits, or
// hexadecimal digits after "$", "x", "X", "0x" or "0X" (up to 32 bits, taken as two's
// complement). Throws EConvertError "'<text>' is not a valid integer value".
int32_t StrToInt(std::string_view text);

// The settings of the section TELA, as far as start-up got.
struct TConfig {
  std::string path;        // PATH, trimmed
  std::string time;        // TIME, trimmed
  std::string impressora;  // IMPRESSORA, trimmed
  double top[8] = {};      // TOP1..TOP8, millimetres
  double left[8] = {};     // LEFT1..LEFT8, millimetres
};

// The message shown when the configuration file is missing, and its caption.
inline constexpr const char* kMissingConfigCaption = "Error";
inline constexpr const char* kMissingConfigText =
    "O arquivo de configuração não foi encontrado!\rO gerênciador de impressão não irá funcionar "
    "corretamente!";

// What the command line asks for.
struct TCommandLine {
  enum class Action { Run, Help, Version, Error };
  Action action = Action::Run;
  std::optional<std::filesystem::path> config;  // --config FILE
  std::string error;                            // for Action::Error
};
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);
extern const char* const kUsage;

}  // namespace parvel::agent
