// The spool folder: which card is next, which entries are never cards, how a card file is
// opened and read, and when a file that may still be written is taken.
#include "app/agent/spool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/agent/form.h"
#include "platform/testing/doubles.h"
#include "tests/app/agent/agent_doubles.h"

namespace parvel::agent {
namespace {

using platform::doubles::ScratchFolder;
using testing::WriteFile;

TEST(CardName, EndsInCarInAnyCaseAndIsNotHidden) {
  for (const char* name : {"a.car", "X.Car", "C.CAR", "a.b.car", "São.car"})
    EXPECT_TRUE(IsCardName(name)) << name;
  for (const char* name : {"x.car.txt", ".car", ".a.car", "car", "a.ca", "acar", "a.cars", ""}) {
    EXPECT_FALSE(IsCardName(name)) << name;
  }
}

TEST(FirstCard, TakesTheFirstNameWithoutRegardToCase) {
  ScratchFolder folder;
  EXPECT_FALSE(FirstCard(folder.path(), TNameOrder()));
  EXPECT_FALSE(FirstCard(folder.path() / "missing", TNameOrder()));
  TNameOrder order;
  std::vector<std::string> printed;
  for (const char* name : {"B.car", "C.CAR", "a.car", "x.car.txt", ".0.car"})
    WriteFile(folder.path() / name, "");
  while (const auto first = FirstCard(folder.path(), order)) {
    printed.push_back(*first);
    std::filesystem::remove(folder.path() / *first);
  }
  EXPECT_EQ(printed, (std::vector<std::string>{"a.car", "B.car", "C.CAR"}));
  EXPECT_TRUE(std::filesystem::exists(folder.path() / "x.car.txt"));
}

TEST(FirstCard, OrdersNamesThatDifferOnlyInCaseTheSameWayEveryTime) {
  TNameOrder order;
  EXPECT_TRUE(order.Before("A.car", "a.car"));
  EXPECT_FALSE(order.Before("a.car", "A.car"));
  EXPECT_TRUE(order.Before("a.car", "B.car"));
  EXPECT_TRUE(order.Before("b.car", "C.car"));
}

TEST(FirstCard, PassesOverEverythingButRegularFiles) {
  ScratchFolder folder;
  const auto& dir = folder.path();
  WriteFile(dir / "z.car", "");
  WriteFile(dir / "elsewhere", "");
  std::filesystem::create_directory(dir / "a.car");
  std::filesystem::create_symlink(dir / "elsewhere", dir / "b.car");
  std::filesystem::create_symlink(dir / "missing", dir / "c.car");
  ASSERT_EQ(mkfifo((dir / "d.car").c_str(), 0600), 0);
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = (dir / "e.car").string();
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  socket_path.copy(address.sun_path, socket_path.size());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(FirstCard(dir, TNameOrder()), "z.car");
  close(sock);
}

TEST(CardFile, OpensOnlyARegularFileAndNeverWaitsOnAFifo) {
  ScratchFolder folder;
  const auto& dir = folder.path();
  WriteFile(dir / "card.car", "line\n");
  std::filesystem::create_symlink(dir / "card.car", dir / "link.car");
  std::filesystem::create_directory(dir / "folder.car");
  ASSERT_EQ(mkfifo((dir / "fifo.car").c_str(), 0600), 0);

  EXPECT_EQ(TCardFile(dir / "card.car").Result(), TCardFile::Status::Opened);
  for (const char* name : {"link.car", "folder.car", "fifo.car", "missing.car"}) {
    EXPECT_EQ(TCardFile(dir / name).Result(), TCardFile::Status::NotAFile) << name;
  }
}

TEST(CardFile, StampChangesWithTheContent) {
  ScratchFolder folder;
  const auto path = folder.path() / "card.car";
  WriteFile(path, "one\n");
  testing::Age(path, 10);
  const TFileStamp before = TCardFile(path).Stamp();
  EXPECT_EQ(TCardFile(path).Stamp(), before);
  WriteFile(path, "one\ntwo\n");
  EXPECT_FALSE(TCardFile(path).Stamp() == before);
}

TEST(CardFile, SeesTheLocksOfOtherWriters) {
  ScratchFolder folder;
  const auto path = folder.path() / "card.car";
  WriteFile(path, "line\n");
  EXPECT_FALSE(TCardFile(path).LockedByOther());

  {  // flock, through another open of the file
    const int writer = open(path.c_str(), O_WRONLY);
    ASSERT_EQ(flock(writer, LOCK_EX), 0);
    EXPECT_TRUE(TCardFile(path).LockedByOther());
    close(writer);
    EXPECT_FALSE(TCardFile(path).LockedByOther());
  }
  {  // an fcntl record lock of another process
    int ready[2];
    int release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const int fd = open(path.c_str(), O_WRONLY);
      struct flock lock {};
      lock.l_type = F_WRLCK;
      lock.l_whence = SEEK_SET;
      const char ok = fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
      (void)!write(ready[1], &ok, 1);
      char done = 0;
      (void)!read(release[0], &done, 1);
      _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');
    EXPECT_TRUE(TCardFile(path).LockedByOther());
    (void)!write(release[1], "x", 1);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_FALSE(TCardFile(path).LockedByOther());
    for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
  }
}

std::vector<std::string> Lines(const std::string& bytes, size_t limit = kCardByteLimit) {
  ScratchFolder folder;
  const auto path = folder.path() / "card.car";
  WriteFile(path, bytes);
  const TCardFile file(path);
  return file.ReadLines(8, limit);
}

using L = std::vector<std::string>;

TEST(CardLines, BreakAtCrLfOrCrLfAndStopAtAZeroByte) {
  const struct {
    const char* name;
    std::string bytes;
    L expected;
  } cases[] = {
      {"CR LF", "a\r\nb\r\n", {"a", "b"}},
      {"LF", "a\nb\n", {"a", "b"}},
      {"CR", "a\rb\r", {"a", "b"}},
      {"no final break", "a\nb", {"a", "b"}},
      {"LF CR is two breaks", "a\n\rb", {"a", "", "b"}},
      {"two final breaks", "a\n\n", {"a", ""}},
      {"empty lines keep their place", "\n\nc\n", {"", "", "c"}},
      {"empty file", "", {}},
      {"only a break", "\r\n", {""}},
      {"zero byte", testing::Bytes("a\nb\nc\0d\ne\nf\n"), {"a", "b", "c"}},
      {"zero byte after a break", testing::Bytes("a\n\0b\n"), {"a"}},
      {"byte-order mark stays", "\xEF\xBB\xBFx\n", {"\xEF\xBB\xBFx"}},
      {"only eight lines", "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n", {"1", "2", "3", "4", "5", "6", "7", "8"}},
      {"seven lines and two final breaks",
       "1\n2\n3\n4\n5\n6\n7\n\n",
       {"1", "2", "3", "4", "5", "6", "7", ""}},
  };
  for (const auto& c : cases) EXPECT_EQ(Lines(c.bytes), c.expected) << c.name;
}

TEST(CardLines, StopAfterTheEighthLineWhateverFollows) {
  // Bytes past the eighth line are never read: they could not fit the limit.
  const std::string eight = "1\n2\n3\n4\n5\n6\n7\n8\n";
  EXPECT_EQ(Lines(eight + std::string(4096, 'x'), eight.size()).size(), 8u);
  EXPECT_EQ(Lines("1\r2\r3\r4\r5\r6\r7\r8\r" + std::string(4096, '\n'), eight.size()).size(), 8u);
}

TEST(CardLines, FirstEightLinesPastTheLimitAreReported) {
  ScratchFolder folder;
  const auto path = folder.path() / "big.car";
  WriteFile(path, "short\n" + std::string(2 * kCardByteLimit, 'x') + "\n");
  try {
    TCardFile(path).ReadLines(8, kCardByteLimit);
    ADD_FAILURE() << "a line of 2 MiB was read";
  } catch (const ECardFileError& e) {
    EXPECT_EQ(std::string(e.what()),
              "The first 8 lines of file \"" + path.string() + "\" do not fit in 1 MiB; the file is kept");
  }
}

TEST(CardLines, DecodeAsUtf8OrWindows1252) {
  const std::string sao = "S\xC3\xA3o Paulo";
  const struct {
    const char* name;
    L lines;
    L expected;
  } cases[] = {
      {"UTF-8", {sao, "Jos\xC3\xA9"}, {sao, "Jos\xC3\xA9"}},
      {"Windows-1252", {"S\xE3o Paulo", "\x80 5"}, {sao, "\xE2\x82\xAC 5"}},
      // One line that is not UTF-8 makes the whole card Windows-1252.
      {"mixed", {"\xC3\xA3", "\xE3"}, {"\xC3\x83\xC2\xA3", "\xC3\xA3"}},
      {"ASCII", {"plain"}, {"plain"}},
      {"overlong form is not UTF-8", {"\xC0\xAF"}, {"\xC3\x80\xC2\xAF"}},
  };
  for (const auto& c : cases) {
    L lines = c.lines;
    DecodeLines(lines);
    EXPECT_EQ(lines, c.expected) << c.name;
  }
}

TEST(SettleRule, TakesAFileUnchangedSinceTheLastLookOrOlderThanASecond) {
  const timespec now{1000, 500000000};
  TFileStamp fresh{1, 2, 10, {1000, 0}};       // written half a second ago
  TFileStamp old{1, 3, 10, {999, 500000000}};  // exactly a second ago

  TSettleRule rule;
  EXPECT_TRUE(rule.Settled("old.car", old, now));
  EXPECT_FALSE(rule.Settled("a.car", fresh, now));
  EXPECT_TRUE(rule.Settled("a.car", fresh, now));  // unchanged since the previous tick

  TFileStamp grown = fresh;
  grown.size = 20;
  EXPECT_FALSE(rule.Settled("a.car", grown, now));
  TFileStamp rewritten = grown;
  rewritten.mtime.tv_nsec = 1;
  EXPECT_FALSE(rule.Settled("a.car", rewritten, now));
  EXPECT_TRUE(rule.Settled("a.car", rewritten, now));

  // Another file in between: the rule remembers only the last one.
  EXPECT_FALSE(rule.Settled("b.car", fresh, now));
  EXPECT_FALSE(rule.Settled("a.car", rewritten, now));
}

}  // namespace
}  // namespace parvel::agent
