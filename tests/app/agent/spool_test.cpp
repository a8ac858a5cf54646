// The spool folder: which card is next, which entries are never cards, how a card file is
// opened and read, when a file that may still be written is taken, whether a writer has it open,
// and why the folder is not held.
#include "app/agent/spool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "app/agent/form.h"
#include "platform/testing/doubles.h"
#include "tests/app/agent/agent_doubles.h"

namespace parvel::agent {
namespace {

using platform::doubles::ScratchFolder;
using testing::WriteFile;

// A child process that does `act` and then holds what it made (a lock, an open file) until
// the helper goes.
class OtherProcess {
 public:
  explicit OtherProcess(const std::function<bool()>& act) {
    if (pipe(ready_) != 0 || pipe(release_) != 0) return;
    child_ = fork();
    if (child_ == 0) {
      const char ok = act() ? 'y' : 'n';
      (void)!write(ready_[1], &ok, 1);
      char done = 0;
      (void)!read(release_[0], &done, 1);
      _exit(0);
    }
    char ok = 0;
    acted_ = child_ > 0 && read(ready_[0], &ok, 1) == 1 && ok == 'y';
  }
  ~OtherProcess() {
    if (child_ > 0) {
      (void)!write(release_[1], "x", 1);
      int status = 0;
      waitpid(child_, &status, 0);
    }
    for (int fd : {ready_[0], ready_[1], release_[0], release_[1]}) {
      if (fd >= 0) close(fd);
    }
  }
  OtherProcess(const OtherProcess&) = delete;
  OtherProcess& operator=(const OtherProcess&) = delete;
  bool Acted() const { return acted_; }

 private:
  int ready_[2] = {-1, -1};
  int release_[2] = {-1, -1};
  pid_t child_ = -1;
  bool acted_ = false;
};

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
    std::optional<OtherProcess> other;
    other.emplace([&] {
      const int fd = open(path.c_str(), O_WRONLY);
      struct flock lock {};
      lock.l_type = F_WRLCK;
      lock.l_whence = SEEK_SET;
      return fcntl(fd, F_SETLK, &lock) == 0;
    });
    ASSERT_TRUE(other->Acted());
    EXPECT_TRUE(TCardFile(path).LockedByOther());
    other.reset();
    EXPECT_FALSE(TCardFile(path).LockedByOther());
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

using Steady = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(SettleRule, TakesAFileClosedOrLastWrittenASecondAgoOrUnchangedForASecondOfTheSteadyClock) {
  const timespec wall{1000, 500000000};
  const Steady::time_point t0{};                        // the steady clock as the test tells it
  const TFileStamp young{1, 2, 10, {1000, 0}};          // written half a second ago
  const TFileStamp old{1, 3, 10, {999, 500000000}};     // exactly a second ago
  const TFileStamp almost{1, 4, 10, {999, 500000001}};  // a nanosecond short of a second
  const TFileStamp future{1, 5, 10, {4600, 0}};         // an hour ahead of the wall clock
  TFileStamp grown = future;
  grown.size = 20;
  TFileStamp far = future;
  far.mtime.tv_sec = std::numeric_limits<time_t>::max();  // no sum may overflow
  TFileStamp ancient = old;
  ancient.mtime.tv_sec = std::numeric_limits<time_t>::min();

  // Each row looks at a file with the same rule, in order.
  const struct {
    const char* what;
    const char* name;
    TFileStamp stamp;
    timespec wall;
    int steady_ms;
    bool closed;
    bool settled;
  } rows[] = {
      {"a young file waits", "young.car", young, wall, 0, false, false},
      {"looked at again at once, it still waits: nothing is about ticks", "young.car", young, wall, 0, false,
       false},
      {"and while its stamp has stayed for less than a second", "young.car", young, wall, 999, false, false},
      {"a young file its writer closed is taken", "closed.car", young, wall, 0, true, true},
      {"an old file is taken", "old.car", old, wall, 0, false, true},
      {"a nanosecond younger, it waits", "almost.car", almost, wall, 0, false, false},
      {"a second later on the wall clock, it is old",
       "almost.car",
       almost,
       {1001, 500000001},
       0,
       false,
       true},
      {"an mtime in the future waits", "future.car", future, wall, 0, false, false},
      {"still after half a second", "future.car", future, wall, 500, false, false},
      {"unchanged for a second of the steady clock, it is taken", "future.car", future, wall, 1000, false,
       true},
      {"a changed stamp starts the second again", "future.car", grown, wall, 1200, false, false},
      {"0.9 s after the change", "future.car", grown, wall, 2100, false, false},
      {"a second after the change", "future.car", grown, wall, 2200, false, true},
      {"the young file has been the same for more than a second now", "young.car", young, wall, 2200, false,
       true},
      {"the end of time is in the future", "far.car", far, wall, 0, false, false},
      {"the start of time is old", "ancient.car", ancient, wall, 0, false, true},
  };
  TSettleRule rule;
  for (const auto& row : rows) {
    EXPECT_EQ(rule.Settled(row.name, row.stamp, row.wall, t0 + milliseconds(row.steady_ms), row.closed),
              row.settled)
        << row.what;
  }
}

TEST(SettleRule, RemembersOnlyTheFilesLookedAtLast) {
  const timespec wall{1000, 0};
  const TFileStamp future{1, 2, 10, {2000, 0}};
  const Steady::time_point t0{};
  const auto name = [](size_t n) { return std::to_string(n) + ".car"; };

  TSettleRule rule;
  // As many files as it remembers: each is taken once it has stayed the same for a second.
  for (size_t n = 0; n < TSettleRule::kRemembered; ++n)
    EXPECT_FALSE(rule.Settled(name(n), future, wall, t0, false));
  for (size_t n = 0; n < TSettleRule::kRemembered; ++n) {
    EXPECT_TRUE(rule.Settled(name(n), future, wall, t0 + milliseconds(1000), false)) << n;
  }
  // One more: the file looked at longest ago is forgotten, and starts over.
  EXPECT_FALSE(rule.Settled("new.car", future, wall, t0 + milliseconds(1000), false));
  EXPECT_FALSE(rule.Settled(name(0), future, wall, t0 + milliseconds(1500), false));
  EXPECT_TRUE(rule.Settled(name(0), future, wall, t0 + milliseconds(2500), false));
  EXPECT_TRUE(rule.Settled(name(2), future, wall, t0 + milliseconds(2500), false));
}

TEST(OpenForWriting, TellsAWriterOfThisProcessOrAnother) {
  ScratchFolder folder;
  const auto path = folder.path() / "card.car";
  WriteFile(path, "line\n");
  EXPECT_FALSE(TCardFile(path).OpenForWriting());
  {
    const int reader = open(path.c_str(), O_RDONLY);  // readers do not count
    EXPECT_FALSE(TCardFile(path).OpenForWriting());
    close(reader);
  }
  {  // another descriptor of this process
    const int writer = open(path.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(writer, 0);
    const TCardFile file(path);
    EXPECT_TRUE(file.OpenForWriting());
    EXPECT_TRUE(file.OpenForWriting());  // asking again changes nothing
    close(writer);
    EXPECT_FALSE(file.OpenForWriting());
  }
  {  // another process
    std::optional<OtherProcess> other;
    other.emplace([&] { return open(path.c_str(), O_RDWR) >= 0; });
    ASSERT_TRUE(other->Acted());
    EXPECT_TRUE(TCardFile(path).OpenForWriting());
    other.reset();
    EXPECT_FALSE(TCardFile(path).OpenForWriting());
  }
  EXPECT_FALSE(TCardFile(folder.path() / "missing.car").OpenForWriting());
}

TEST(OpenForWriting, CannotTellForAFileOfAnotherUserAndSaysNo) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  ScratchFolder folder;
  const auto path = folder.path() / "card.car";
  WriteFile(path, "line\n");
  const int writer = open(path.c_str(), O_WRONLY);
  ASSERT_GE(writer, 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const TCardFile file(path);  // opened as root, asked as nobody: not the owner, no CAP_LEASE
    if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) _exit(2);
    _exit(file.OpenForWriting() ? 1 : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  close(writer);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: a writer was told; 2: could not become nobody";
}

TEST(OpenForWriting, AWriterOpeningTheFileWhileTheLeaseIsHeldSignalsNothingHarmful) {
  // The lease lasts a few microseconds: a writer that opens the file again and again meets it
  // now and then, and breaks it. SIGIO, the signal the kernel sends by default, would end the
  // asking process.
  ScratchFolder folder;
  const auto path = folder.path() / "card.car";
  WriteFile(path, "line\n");
  const pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    for (;;) close(open(path.c_str(), O_WRONLY));
  }
  const pid_t asker = fork();
  ASSERT_GE(asker, 0);
  if (asker == 0) {
    const TCardFile file(path);
    int answers = 0;
    const auto until = Steady::now() + milliseconds(500);
    while (Steady::now() < until) answers += file.OpenForWriting() ? 0 : 1;
    _exit(answers > 0 ? 0 : 3);  // 3: never saw the file without a writer
  }
  int status = 0;
  waitpid(asker, &status, 0);
  kill(writer, SIGKILL);
  waitpid(writer, nullptr, 0);
  ASSERT_FALSE(WIFSIGNALED(status)) << strsignal(WTERMSIG(status));
  EXPECT_TRUE(WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 3));
}

TEST(SpoolLock, TellsWhyAFolderIsNotHeld) {
  ScratchFolder folder;
  const auto& dir = folder.path();
  WriteFile(dir / "file", "");
  TSpoolLock lock;
  const struct {
    const char* what;
    std::filesystem::path folder;
    int error;
  } cases[] = {
      {"missing", dir / "missing", ENOENT},
      {"under a regular file", dir / "file" / "spool", ENOTDIR},
      {"a regular file", dir / "file", ENOTDIR},
  };
  for (const auto& c : cases) {
    const THoldResult result = lock.Hold(c.folder);
    EXPECT_FALSE(result.held) << c.what;
    EXPECT_EQ(result.error, c.error) << c.what << ": " << std::strerror(result.error);
  }

  const THoldResult held = lock.Hold(dir);
  EXPECT_TRUE(held.held);
  EXPECT_EQ(held.error, 0);
  EXPECT_TRUE(lock.Hold(dir).held);  // still held

  TSpoolLock second;
  const THoldResult refused = second.Hold(dir);
  EXPECT_FALSE(refused.held);
  EXPECT_EQ(refused.error, EWOULDBLOCK);
  lock.Release();
  EXPECT_TRUE(second.Hold(dir).held);
}

TEST(SpoolLock, TellsAFolderThatCannotBeOpened) {
  if (geteuid() == 0) GTEST_SKIP() << "every folder opens for root";
  ScratchFolder folder;
  const auto closed = folder.path() / "closed";
  std::filesystem::create_directory(closed);
  ASSERT_EQ(chmod(closed.c_str(), 0), 0);
  TSpoolLock lock;
  const THoldResult result = lock.Hold(closed);
  chmod(closed.c_str(), 0700);
  EXPECT_FALSE(result.held);
  EXPECT_EQ(result.error, EACCES);
}

TEST(NameOrder, KeysOrderAsTheirNames) {
  TNameOrder order;
  const std::vector<std::string> names{"a.car", "A.car",  "B.car", "b.car", "é.car", "E.car",  "f.car",
                                       "0.car", "_x.car", "Ä.car", "z.car", "Z.car", "ab.car", "a b.car"};
  for (const std::string& a : names) {
    for (const std::string& b : names) {
      EXPECT_EQ(order.Before(TNameOrder::TKey(a), TNameOrder::TKey(b)), order.Before(a, b)) << a << " " << b;
    }
  }
  EXPECT_EQ(TNameOrder::TKey("x.car").Name(), "x.car");
}

}  // namespace
}  // namespace parvel::agent
