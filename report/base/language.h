#pragma once
// The engine's language strings: numbered texts looked up in the language modules of the
// current language, falling back to the program's own table.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace parvel::report {

enum TppLanguageType : uint8_t {
  lgDefault,
  lgDanish,
  lgDutch,
  lgEnglish,
  lgFrench,
  lgGerman,
  lgItalian,
  lgPortugueseBrazil,
  lgPortuguese,
  lgSpanish,
  lgSpanishMexico,
  lgSwedish,
  lgNorwegian,
  lgCustom
};

// The file extension of the language modules of `language` ("ptb"); empty for an unknown ordinal.
std::string LanguageExtension(TppLanguageType language);

// The text of language string `n` (table entry 43000 + n); empty when no table holds it.
std::string LoadLanguageString(int n);

// Language string `n` with its placeholders ("<page>", "<documentname>"...) filled from
// `arguments`, consumed in the order the placeholders stand in the text. A text with more
// placeholders than arguments throws EReportError.
std::string LoadLanguageFormat(int n, const std::vector<std::string>& arguments);

// The program's own string table entry `entry` (43000 + n); empty when missing.
std::string_view ProgramStringTableEntry(int entry);

// The shared register of language modules and the current language.
class TppResourceManager {
 public:
  static TppResourceManager& Instance();

  TppResourceManager(const TppResourceManager&) = delete;
  TppResourceManager& operator=(const TppResourceManager&) = delete;
  ~TppResourceManager();

  // Selects `language` and loads its modules; false (and the previous language kept) when a
  // language other than lgDefault has no module at all.
  bool SetLanguage(TppLanguageType language);
  TppLanguageType Language() const { return language_; }

  void AddModule(const std::string& base_name);
  void RemoveModule(const std::string& base_name);

  // Registered base names in registration order.
  std::vector<std::string> ModuleNames() const;
  int LoadedModuleCount() const { return loaded_count_; }

  // The first non-empty text for table entry `entry` among the loaded modules; empty otherwise.
  std::string FindInModules(int entry);

 private:
  TppResourceManager();

  struct Module;
  struct Registration {
    std::string base_name;
    std::unique_ptr<Module> module;  // null when no module file was found
  };

  void LoadAll();
  void UnloadAll();
  std::unique_ptr<Module> LoadModule(const std::string& base_name) const;

  TppLanguageType language_ = lgDefault;
  std::vector<Registration> modules_;
  int loaded_count_ = 0;
  bool loaded_ = false;
};

}  // namespace parvel::report
