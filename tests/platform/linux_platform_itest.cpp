#include "platform/linux/linux_platform.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/drawing_surface.h"
#include "platform/screen_surface.h"
#include "platform/services.h"
#include "platform/spooler.h"
#include "platform/testing/doubles.h"

namespace {

using namespace parvel::platform;
using namespace parvel::platform::linux_os;

// Sets an environment variable for one test and puts the old value back after.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { old_.empty() ? unsetenv(name_) : setenv(name_, old_.c_str(), 1); }

 private:
  const char* name_;
  std::string old_;
};

TEST(LinuxRegionalSettings, ReadsTheDecimalSeparatorOfTheUsersLocale) {
  struct Case {
    const char* locale;
    char separator;
  };
  for (const Case& c : {Case{"pt_BR.UTF-8", ','}, Case{"en_US.UTF-8", '.'}, Case{"C", '.'}}) {
    ScopedEnv lc_all("LC_ALL", c.locale);
    CLocaleRegionalSettings settings;
    EXPECT_EQ(settings.DecimalSeparator(), c.separator) << c.locale;
  }
  std::setlocale(LC_ALL, "C");
}

TEST(LinuxTempFiles, MakesDistinctFilesWithThePrefixInTheFolder) {
  doubles::ScratchFolder scratch;
  PosixTempFiles temp;
  const auto a = temp.CreateTempFile(scratch.path(), "cch");
  const auto b = temp.CreateTempFile(scratch.path(), "cch");
  EXPECT_NE(a, b);
  for (const std::filesystem::path& p : {a, b}) {
    EXPECT_EQ(p.parent_path(), scratch.path());
    EXPECT_EQ(p.filename().string().rfind("cch", 0), 0u) << p;
    EXPECT_TRUE(std::filesystem::is_regular_file(p));
  }
  EXPECT_THROW(temp.CreateTempFile(scratch.path() / "missing", "cch"), std::system_error);
}

TEST(LinuxLibrarySearch, ProgramFolderThenLibraryPathThenSystemFolders) {
  ScopedEnv path("LD_LIBRARY_PATH", "/opt/one::/opt/two");
  const auto folders = LinuxLibrarySearch().Folders();
  ASSERT_GE(folders.size(), 4u);
  EXPECT_EQ(folders[0], ProgramFolder());
  EXPECT_TRUE(std::filesystem::exists(folders[0] / "linux_platform_itest"));
  EXPECT_EQ(folders[1], "/opt/one");
  EXPECT_EQ(folders[2], "/opt/two");
  EXPECT_NE(std::find(folders.begin(), folders.end(), "/usr/lib"), folders.end());
}

TEST(LinuxPlatform, InstallsItsServicesAndTheScreenReportsAResolution) {
  EXPECT_NE(Find<Screen>(), nullptr);
  EXPECT_GT(Get<Screen>().LogicalPixelsPerInchY(), 0);
  EXPECT_NE(Find<Spooler>(), nullptr);
  EXPECT_NE(Find<SurfaceFactory>(), nullptr);
  EXPECT_NE(Find<ScreenSurfaceFactory>(), nullptr);
  EXPECT_EQ(Find<MessagePump>(), nullptr);
  {
    doubles::CountingPump pump;
    ScopedInstall<MessagePump> installed(&pump);
    PumpMessages();
    PumpMessages();
    EXPECT_EQ(pump.calls, 2);
  }
  EXPECT_EQ(Find<MessagePump>(), nullptr);
  PumpMessages();  // without a pump nothing runs and nothing fails
}

TEST(LinuxPlatform, TearsDownWhileItsServicesStandThenPutsBackWhatItReplaced) {
  Spooler* outer = Find<Spooler>();
  SurfaceFactory* outer_surfaces = Find<SurfaceFactory>();
  ASSERT_NE(outer, nullptr);
  std::vector<std::string> seen;
  int key_a = 0;
  int key_b = 0;
  {
    LinuxPlatform inner(/*with_pump=*/true);
    Spooler* mine = Find<Spooler>();
    EXPECT_NE(mine, outer);
    EXPECT_NE(Find<MessagePump>(), nullptr);
    AtTeardown(&key_a, [&] { seen.push_back("replaced"); });
    AtTeardown(&key_a,
               [&, mine] { seen.push_back(Find<Spooler>() == mine ? "a, own spooler" : "a, too late"); });
    AtTeardown(&key_b, [&] { seen.push_back("b"); });
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"b", "a, own spooler"}));
  EXPECT_EQ(Find<Spooler>(), outer);
  EXPECT_EQ(Find<SurfaceFactory>(), outer_surfaces);
  EXPECT_EQ(Find<MessagePump>(), nullptr);
  RunTeardown();  // run and forgotten: nothing runs twice
  EXPECT_EQ(seen.size(), 2u);
}

}  // namespace
