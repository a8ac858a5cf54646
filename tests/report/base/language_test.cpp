#include "report/base/language.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/library_search.h"
#include "platform/services.h"
#include "platform/testing/doubles.h"
#include "report/base/errors.h"

namespace parvel::report {
namespace {

namespace fs = std::filesystem;

// Language modules written into scratch folders that stand as the library search path.
class LanguageTest : public ::testing::Test {
 protected:
  LanguageTest() {
    fs::create_directory(scratch_.path() / "first");
    fs::create_directory(scratch_.path() / "second");
    search_.folders = {scratch_.path() / "first", scratch_.path() / "second"};
  }
  ~LanguageTest() override {
    auto& manager = TppResourceManager::Instance();
    manager.SetLanguage(lgDefault);
    for (const auto& name : manager.ModuleNames()) {
      if (name != "kvPrint") manager.RemoveModule(name);
    }
  }

  void WriteModule(const std::string& folder, const std::string& file, const std::string& text) {
    std::ofstream(scratch_.path() / folder / file, std::ios::binary) << text;
  }

  TppResourceManager& manager() { return TppResourceManager::Instance(); }

  platform::doubles::ScratchFolder scratch_;
  platform::doubles::FixedLibrarySearch search_;
  platform::ScopedInstall<platform::LibrarySearch> install_{&search_};
};

TEST_F(LanguageTest, ProgramTableHoldsTheEngineTexts) {
  const std::pair<int, std::string> cases[] = {
      {2, "Acessando os dados..."},
      {4, "Calculando a página <page> para o relatório <documentname>"},
      {8, "Nao há impressoras conectadas ao seu computador."},
      {10, "Desenhando a página <page> de <pagecount> para o o relatório <documentname>"},
      {16, "de"},
      {18, "Página"},
      {27, "Imprimindo a página <page> do Relatório <documentname> em <printername>"},
      {28, "Imprimindo a Página <page> de <pagecount> do Relatório <documentname> em <printername>"},
      {40, "Nao foi possível abrir a Fonte de Dados."},
      {42, "Nao foi possível converter a posiçao da coluna <columnno>."},
      {43, "Nao foi possível determinar uma posiçao para a coluna <columnno>."},
      {1020, "O Windows nao pode imprimir devido a um problema com a configuraçao da impressora atual."},
      {1022, "Nao há faixas definidas para este relatório."},
      {1023, "Nao foi possível gerar o relatório."},
      {1034, "No Data Found"},
      {1035, "No data found for this report."},
      // Outside the table.
      {21, ""},
      {35, ""},
      {415, ""},
      {1037, ""},
      {-43000, ""},
      {100000, ""},
  };
  for (const auto& [n, text] : cases) EXPECT_EQ(LoadLanguageString(n), text) << n;
  EXPECT_EQ(ProgramStringTableEntry(44023), "Nao foi possível gerar o relatório.");
  EXPECT_FALSE(LoadLanguageString(284).empty()) << "a cache failure needs a message";
}

TEST_F(LanguageTest, FormatFillsPlaceholdersInTextOrder) {
  EXPECT_EQ(LoadLanguageFormat(27, {"3", "Report", "P1"}), "Imprimindo a página 3 do Relatório Report em P1");
  EXPECT_EQ(LoadLanguageFormat(10, {"2", "5", "Cartao"}),
            "Desenhando a página 2 de 5 para o o relatório Cartao");
  // Extra arguments are ignored; a text without placeholders comes back as it stands.
  EXPECT_EQ(LoadLanguageFormat(43, {"7", "unused"}),
            "Nao foi possível determinar uma posiçao para a coluna 7.");
  EXPECT_EQ(LoadLanguageFormat(1023, {}), "Nao foi possível gerar o relatório.");
  EXPECT_EQ(LoadLanguageFormat(21, {}), "");
}

TEST_F(LanguageTest, FormatTakesModuleTextsLiterally) {
  // Repeated placeholders, a translator's order, and "%" signs that are no format of ours.
  WriteModule("first", "kvPrint.ptb",
              "43027=<printername>: <page> / <page> <documentname> 100% %s %d\n"
              "43004=<pagecount<page>> <nome> <Page>\n");
  ASSERT_TRUE(manager().SetLanguage(lgPortugueseBrazil));
  EXPECT_EQ(LoadLanguageFormat(27, {"P1", "1", "2", "Report"}), "P1: 1 / 2 Report 100% %s %d");
  EXPECT_EQ(LoadLanguageFormat(4, {"9"}), "<pagecount9> <nome> <Page>");
}

TEST_F(LanguageTest, FormatWithTooFewArgumentsThrows) {
  try {
    LoadLanguageFormat(28, {"1", "2"});
    FAIL() << "no error for a missing argument";
  } catch (const EReportError& error) {
    EXPECT_NE(std::string(error.what()).find("<documentname>"), std::string::npos) << error.what();
  }
}

TEST_F(LanguageTest, LanguageWithoutModulesIsRefused) {
  EXPECT_FALSE(manager().SetLanguage(lgEnglish));
  EXPECT_EQ(manager().Language(), lgDefault);
  EXPECT_EQ(LoadLanguageString(4), "Calculando a página <page> para o relatório <documentname>");
  EXPECT_TRUE(manager().SetLanguage(lgDefault));
  EXPECT_FALSE(manager().SetLanguage(static_cast<TppLanguageType>(14)));
  EXPECT_EQ(manager().Language(), lgDefault);
}

TEST_F(LanguageTest, ModuleTextsWinAndFallBackEntryByEntry) {
  const std::string long_text(1100, 'x');
  WriteModule("first", "kvPrint.ptb",
              "\xEF\xBB\xBF"
              "43004=Calculating <page>\r\n"
              "no equals sign\n"
              "4x3=broken number\n"
              "=no number\n"
              "43023=\n"  // empty: the program's text stands
              "43021= Entry with = inside\n"
              "43021=second line for the same number\n"
              "43100=" +
                  long_text +
                  "\n"
                  "43101=" +
                  std::string(1022, 'y') + "\xC3\xA9\xC3\xA9" + "\n");
  WriteModule("second", "kvPrint.ptb", "43004=from the second folder\n");
  WriteModule("second", "kvPrint.eng", "43004=English\n");

  ASSERT_TRUE(manager().SetLanguage(lgPortugueseBrazil));
  EXPECT_EQ(manager().Language(), lgPortugueseBrazil);
  EXPECT_EQ(manager().LoadedModuleCount(), 1);
  EXPECT_EQ(LoadLanguageString(4), "Calculating <page>");
  EXPECT_EQ(LoadLanguageString(21), " Entry with = inside");
  EXPECT_EQ(LoadLanguageString(1023), "Nao foi possível gerar o relatório.");
  EXPECT_EQ(LoadLanguageString(100), std::string(1023, 'x'));
  // Cut by characters, not bytes: the first "é" is the 1023rd character.
  EXPECT_EQ(LoadLanguageString(101), std::string(1022, 'y') + "\xC3\xA9");

  // Another language loads from wherever its file lies.
  ASSERT_TRUE(manager().SetLanguage(lgEnglish));
  EXPECT_EQ(LoadLanguageString(4), "English");
  EXPECT_EQ(LoadLanguageString(21), "");
}

TEST_F(LanguageTest, RegisteredModulesAreAskedInOrder) {
  WriteModule("first", "kvPrint.fra", "43004=kvPrint\n");
  WriteModule("first", "extra.fra", "43004=extra\n43021=only in extra\n");
  ASSERT_TRUE(manager().SetLanguage(lgFrench));
  EXPECT_EQ(LoadLanguageString(21), "");

  manager().AddModule("extra");  // loads at once
  manager().AddModule("extra");
  EXPECT_EQ(manager().ModuleNames(), (std::vector<std::string>{"kvPrint", "extra"}));
  EXPECT_EQ(manager().LoadedModuleCount(), 2);
  EXPECT_EQ(LoadLanguageString(4), "kvPrint");
  EXPECT_EQ(LoadLanguageString(21), "only in extra");

  manager().RemoveModule("extra");
  EXPECT_EQ(manager().LoadedModuleCount(), 1);
  EXPECT_EQ(LoadLanguageString(21), "");
}

TEST_F(LanguageTest, ModuleOfAnotherBaseNameAloneMakesALanguageUsable) {
  WriteModule("second", "extra.deu", "43004=Seite <page>\n");
  manager().AddModule("extra");
  ASSERT_TRUE(manager().SetLanguage(lgGerman));
  EXPECT_EQ(LoadLanguageFormat(4, {"1"}), "Seite 1");
}

TEST_F(LanguageTest, RefusalKeepsThePreviousLanguageTexts) {
  WriteModule("first", "kvPrint.ita", "43004=Pagina <page>\n");
  ASSERT_TRUE(manager().SetLanguage(lgItalian));
  EXPECT_FALSE(manager().SetLanguage(lgSwedish));
  EXPECT_EQ(manager().Language(), lgItalian);
  EXPECT_EQ(LoadLanguageString(4), "Pagina <page>");

  ASSERT_TRUE(manager().SetLanguage(lgDefault));
  EXPECT_EQ(manager().LoadedModuleCount(), 0);
  EXPECT_EQ(LoadLanguageString(4), "Calculando a página <page> para o relatório <documentname>");
}

TEST(LanguageExtensionTest, EveryLanguageHasItsExtension) {
  const std::pair<TppLanguageType, const char*> cases[] = {
      {lgDefault, "dft"},   {lgDanish, "dan"},           {lgDutch, "nld"},
      {lgEnglish, "eng"},   {lgFrench, "fra"},           {lgGerman, "deu"},
      {lgItalian, "ita"},   {lgPortugueseBrazil, "ptb"}, {lgPortuguese, "ptg"},
      {lgSpanish, "esp"},   {lgSpanishMexico, "esm"},    {lgSwedish, "sve"},
      {lgNorwegian, "nor"}, {lgCustom, "cst"},           {static_cast<TppLanguageType>(14), ""},
  };
  for (const auto& [language, extension] : cases) {
    EXPECT_EQ(LanguageExtension(language), extension) << int(language);
  }
}

TEST(ResourceManagerTest, KvPrintIsRegisteredAtStart) {
  EXPECT_EQ(TppResourceManager::Instance().ModuleNames(), std::vector<std::string>{"kvPrint"});
  EXPECT_EQ(TppResourceManager::Instance().Language(), lgDefault);
}

}  // namespace
}  // namespace parvel::report
