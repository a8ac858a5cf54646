// The configuration: the INI file's name and place, the profile rules, the conversions and the
// command line.
#include "app/agent/config.h"

#include <gtest/gtest.h>

#include <fstream>
#include <limits>

#include "platform/testing/doubles.h"

namespace parvel::agent {
namespace {

using platform::doubles::ScratchFolder;

TEST(RetiraExtensao, KeepsTheNameBeforeTheFirstDotTrimmed) {
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {{"parvel.exe", "parvel"}, {"parvel.new.exe", "parvel"},
               {"parvel", "parvel"},     {" \tparvel .exe", "parvel"},
               {".hidden", ""},          {"", ""},
               {"PARVEL", "PARVEL"}};
  for (const auto& c : cases) EXPECT_EQ(RetiraExtensao(c.text), c.expected) << c.text;
}

TEST(ConfigFileFor, LiesBesideTheProgramAndIgnoresDotsOfFolders) {
  EXPECT_EQ(ConfigFileFor("/opt/Apps.2/parvel.exe"), "/opt/Apps.2/parvel.INI");
  EXPECT_EQ(ConfigFileFor("/opt/Apps.2/parvel.new.exe"), "/opt/Apps.2/parvel.INI");
  EXPECT_EQ(ConfigFileFor("/usr/bin/parvel"), "/usr/bin/parvel.INI");
}

TEST(FindConfigFile, TakesTheExactNameFirstThenOneThatDiffersInCaseOnly) {
  ScratchFolder folder;
  const auto wanted = folder.path() / "parvel.INI";
  EXPECT_FALSE(FindConfigFile(wanted));

  std::filesystem::create_directory(folder.path() / "PARVEL.INI");  // a folder is no file
  EXPECT_FALSE(FindConfigFile(wanted));
  std::ofstream(folder.path() / "parvel.ini") << "[TELA]\n";
  std::ofstream(folder.path() / "Parvel.Ini") << "[TELA]\n";
  std::ofstream(folder.path() / "parvel.ini.bak") << "[TELA]\n";
  EXPECT_EQ(FindConfigFile(wanted), folder.path() / "Parvel.Ini");  // first by bytes

  std::ofstream(wanted) << "[TELA]\n";
  EXPECT_EQ(FindConfigFile(wanted), wanted);
}

TEST(IniFile, FollowsTheProfileRules) {
  const TIniFile ini = TIniFile::FromText(
      "top=before any section\n"
      "[ tela ]\r\n"
      "  Path  =  /var/spool/cards  \r\n"
      "; TIME=1\n"
      "TIME=\"500\"\n"
      "time=900\n"
      "QUOTED='a b'\n"
      "HALF=\"a b\n"
      "EMPTY=\n"
      "no equals sign\n"
      "[TELA]\n"
      "IMPRESSORA=second section of the same name\n"
      "[Other]\n"
      "PATH=other\n");
  const struct {
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {{"TELA", "PATH", "/var/spool/cards"},
               {"Tela", "time", "500"},  // first match wins, quotes removed
               {"TELA", "QUOTED", "a b"},
               {"TELA", "HALF", "\"a b"},
               {"TELA", "EMPTY", ""},
               {"TELA", "IMPRESSORA", "<none>"},  // only the first [TELA] is read
               {"TELA", "top", "<none>"},
               {"OTHER", "path", "other"},
               {"Missing", "PATH", "<none>"}};
  for (const auto& c : cases) {
    EXPECT_EQ(ini.ReadString(c.section, c.key, "<none>"), c.expected) << c.section << "/" << c.key;
  }
}

TEST(IniFile, CutsValuesTo2047CharactersAndReadsWindows1252) {
  const std::string accents = "S\xC3\xA3o";  // "São" in UTF-8
  const TIniFile ini =
      TIniFile::FromText("[TELA]\nLONG=" + std::string(3000, 'x') + "\nUTF=" + accents + "\n");
  EXPECT_EQ(ini.ReadString("TELA", "LONG", ""), std::string(2047, 'x'));
  EXPECT_EQ(ini.ReadString("TELA", "UTF", ""), accents);
  const TIniFile ansi = TIniFile::FromText("[TELA]\nANSI=S\xE3o\n");
  EXPECT_EQ(ansi.ReadString("TELA", "ANSI", ""), accents);
}

TEST(StrToFloat, ReadsDecimalsWithTheGivenSeparatorOnly) {
  const struct {
    const char* text;
    char separator;
    double expected;
  } good[] = {{"8.731", '.', 8.731}, {"8,731", ',', 8.731}, {"  -8,5  ", ',', -8.5}, {"+12", '.', 12},
              {"1E3", '.', 1000},    {"2,5e-1", ',', 0.25}, {".5", '.', 0.5},        {"5.", '.', 5},
              {"1e-400", '.', 0},    {"1e-9999", '.', 0}};
  for (const auto& c : good) EXPECT_DOUBLE_EQ(StrToFloat(c.text, c.separator), c.expected) << c.text;

  const struct {
    const char* text;
    char separator;
  } bad[] = {{"8.731", ','},   {"8,731", '.'},  {"", '.'},     {".", '.'},    {"1.000,5", ','},
             {"1,000.5", '.'}, {"1e", '.'},     {"e5", '.'},   {"1..2", '.'}, {"12abc", '.'},
             {"1e999", '.'},   {"1e9999", '.'}, {"0x10", '.'}, {"- 1", '.'}};
  for (const auto& c : bad) {
    try {
      StrToFloat(c.text, c.separator);
      ADD_FAILURE() << "accepted " << c.text;
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + std::string(c.text) + "' is not a valid floating point value");
    }
  }
}

TEST(StrToInt, ReadsDecimalAndHexadecimalIntegers) {
  const struct {
    const char* text;
    int32_t expected;
  } good[] = {{"500", 500},
              {"  500", 500},
              {"-5", -5},
              {"+7", 7},
              {"$3E8", 1000},
              {"x3e8", 1000},
              {"X3E8", 1000},
              {"0x3E8", 1000},
              {"0X3e8", 1000},
              {"-$10", -16},
              {"2147483647", std::numeric_limits<int32_t>::max()},
              {"-2147483648", std::numeric_limits<int32_t>::min()},
              {"$FFFFFFFF", -1}};
  for (const auto& c : good) EXPECT_EQ(StrToInt(c.text), c.expected) << c.text;

  for (const char* text :
       {"", " ", "500 ", "5.0", "2147483648", "$", "0x", "$1FFFFFFFF", "$G", "1e3", "ten"}) {
    try {
      StrToInt(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + std::string(text) + "' is not a valid integer value");
    }
  }
}

TEST(CommandLine, NamesAnotherConfigurationOrAsksForHelpOrVersion) {
  using Action = TCommandLine::Action;
  EXPECT_EQ(ParseCommandLine({}).action, Action::Run);
  EXPECT_FALSE(ParseCommandLine({}).config);
  EXPECT_EQ(ParseCommandLine({"--config", "/etc/parvel.ini"}).config, "/etc/parvel.ini");
  EXPECT_EQ(ParseCommandLine({"--config=/etc/parvel.ini"}).config, "/etc/parvel.ini");
  EXPECT_EQ(ParseCommandLine({"--help"}).action, Action::Help);
  EXPECT_EQ(ParseCommandLine({"--version"}).action, Action::Version);
  EXPECT_EQ(ParseCommandLine({"--config"}).action, Action::Error);
  EXPECT_EQ(ParseCommandLine({"--frobnicate"}).error, "unknown argument: --frobnicate");
}

}  // namespace
}  // namespace parvel::agent
