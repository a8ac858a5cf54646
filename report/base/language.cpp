#include "report/base/language.h"

#include <array>
#include <charconv>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

#include "platform/library_search.h"
#include "platform/services.h"
#include "report/base/errors.h"

namespace parvel::report {

namespace {

constexpr int kFirstEntry = 43000;
// A text is read into a buffer of this many characters, its terminator included.
constexpr size_t kBufferCharacters = 1024;

constexpr std::array<std::string_view, 14> kExtensions = {"dft", "dan", "nld", "eng", "fra", "deu", "ita",
                                                          "ptb", "ptg", "esp", "esm", "sve", "nor", "cst"};

constexpr std::array<std::string_view, 15> kPlaceholders = {
    "<page>",     "<pagecount>",   "<documentname>", "<printername>", "<columnno>",
    "<filename>", "<minbarwidth>", "<maxbarwidth>",  "<character>",   "<identifier>",
    "<name>",     "<count>",       "<message>",      "<length>",      "<no>"};

// Cuts `text` after `characters` UTF-8 characters, never inside one.
std::string CutCharacters(std::string_view text, size_t characters) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte & 0xC0) != 0x80) {
      if (count == characters) return std::string(text.substr(0, i));
      ++count;
    }
  }
  return std::string(text);
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The module registered by the engine's own unit.
struct KvPrintRegistration {
  KvPrintRegistration() { TppResourceManager::Instance().AddModule("kvPrint"); }
  ~KvPrintRegistration() { TppResourceManager::Instance().RemoveModule("kvPrint"); }
};
const KvPrintRegistration kvPrintRegistration;

}  // namespace

// A loaded language module: its string table, read from the file once.
struct TppResourceManager::Module {
  std::map<int, std::string> entries;
};

std::string LanguageExtension(TppLanguageType language) {
  if (language >= kExtensions.size()) return {};
  return std::string(kExtensions[language]);
}

TppResourceManager& TppResourceManager::Instance() {
  static TppResourceManager instance;
  return instance;
}

TppResourceManager::TppResourceManager() = default;
TppResourceManager::~TppResourceManager() = default;

bool TppResourceManager::SetLanguage(TppLanguageType language) {
  if (language >= kExtensions.size()) return false;
  const TppLanguageType previous = language_;
  language_ = language;
  if (language_ != previous) loaded_ = false;
  if (!loaded_) LoadAll();
  if (language_ != lgDefault && loaded_count_ == 0) {
    // Refused: the previous language gets its modules back, not just its name.
    language_ = previous;
    LoadAll();
    return false;
  }
  return true;
}

void TppResourceManager::AddModule(const std::string& base_name) {
  for (const auto& registration : modules_) {
    if (registration.base_name == base_name) return;
  }
  Registration registration{base_name, nullptr};
  // Before the first lookup the modules are loaded together, once the platform is there.
  if (loaded_) {
    registration.module = LoadModule(base_name);
    if (registration.module) ++loaded_count_;
  }
  modules_.push_back(std::move(registration));
}

void TppResourceManager::RemoveModule(const std::string& base_name) {
  for (auto it = modules_.begin(); it != modules_.end(); ++it) {
    if (it->base_name == base_name) {
      if (it->module) --loaded_count_;
      modules_.erase(it);
      return;
    }
  }
}

std::vector<std::string> TppResourceManager::ModuleNames() const {
  std::vector<std::string> names;
  names.reserve(modules_.size());
  for (const auto& registration : modules_) names.push_back(registration.base_name);
  return names;
}

std::string TppResourceManager::FindInModules(int entry) {
  if (!loaded_ && platform::Find<platform::LibrarySearch>() != nullptr) LoadAll();
  if (loaded_count_ == 0) return {};
  for (const auto& registration : modules_) {
    if (!registration.module) continue;
    const auto found = registration.module->entries.find(entry);
    if (found != registration.module->entries.end() && !found->second.empty()) {
      return found->second;
    }
  }
  return {};
}

void TppResourceManager::UnloadAll() {
  for (auto& registration : modules_) registration.module.reset();
  loaded_count_ = 0;
  loaded_ = false;
}

void TppResourceManager::LoadAll() {
  UnloadAll();
  for (auto& registration : modules_) {
    registration.module = LoadModule(registration.base_name);
    if (registration.module) ++loaded_count_;
  }
  loaded_ = true;
}

std::unique_ptr<TppResourceManager::Module> TppResourceManager::LoadModule(
    const std::string& base_name) const {
  const platform::LibrarySearch* search = platform::Find<platform::LibrarySearch>();
  if (search == nullptr) return nullptr;
  const std::string file_name = base_name + "." + LanguageExtension(language_);
  for (const auto& folder : search->Folders()) {
    std::error_code error;
    const auto path = folder / file_name;
    if (!std::filesystem::is_regular_file(path, error)) continue;
    std::ifstream in(path, std::ios::binary);
    if (!in) continue;
    auto module = std::make_unique<Module>();
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
      std::string_view view(line);
      if (first && view.substr(0, 3) == "\xEF\xBB\xBF") view.remove_prefix(3);
      first = false;
      if (!view.empty() && view.back() == '\r') view.remove_suffix(1);
      const size_t equals = view.find('=');
      if (equals == std::string_view::npos) continue;
      const std::string_view number_text = Trim(view.substr(0, equals));
      int number = 0;
      const auto [end, status] =
          std::from_chars(number_text.data(), number_text.data() + number_text.size(), number);
      if (status != std::errc() || end != number_text.data() + number_text.size() || number_text.empty()) {
        continue;
      }
      // The first line for a number wins.
      module->entries.emplace(number, CutCharacters(view.substr(equals + 1), kBufferCharacters - 1));
    }
    return module;
  }
  return nullptr;
}

std::string LoadLanguageString(int n) {
  const int entry = kFirstEntry + n;
  std::string text = TppResourceManager::Instance().FindInModules(entry);
  if (!text.empty()) return text;
  return std::string(ProgramStringTableEntry(entry));
}

std::string LoadLanguageFormat(int n, const std::vector<std::string>& arguments) {
  const std::string text = LoadLanguageString(n);
  std::string result;
  result.reserve(text.size());
  size_t next_argument = 0;
  size_t i = 0;
  // Only the placeholders are replaced; any other character, "%" included, stands as written.
  while (i < text.size()) {
    std::string_view placeholder;
    if (text[i] == '<') {
      const std::string_view rest = std::string_view(text).substr(i);
      for (const auto candidate : kPlaceholders) {
        if (rest.substr(0, candidate.size()) == candidate) {
          placeholder = candidate;
          break;
        }
      }
    }
    if (placeholder.empty()) {
      result += text[i++];
      continue;
    }
    if (next_argument >= arguments.size()) {
      std::ostringstream message;
      message << "Language string " << n << " needs more than " << arguments.size()
              << " argument(s): no value for " << placeholder << ".";
      throw EReportError(message.str());
    }
    result += arguments[next_argument++];
    i += placeholder.size();
  }
  return result;
}

}  // namespace parvel::report
