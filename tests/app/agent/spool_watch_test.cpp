// The spool folder as the kernel reports its changes: the first card in the order after cards
// come and go between looks, entries that are never cards, the writer's close, a folder made
// anew, and a queue of events that overflowed.
#include "app/agent/spool_watch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "platform/testing/doubles.h"
#include "tests/app/agent/agent_doubles.h"

namespace parvel::agent {
namespace {

namespace fs = std::filesystem;
using platform::doubles::ScratchFolder;
using testing::WriteFile;

const auto kNoSkip = [](const std::string&) { return false; };

class SpoolWatchTest : public ::testing::Test {
 protected:
  SpoolWatchTest() : spool(scratch.path() / "spool") { fs::create_directory(spool); }

  // The watch's first card, which must be FirstCard's too when nothing is skipped.
  std::optional<std::string> First() {
    std::optional<std::string> first = watch.First(spool, kNoSkip);
    EXPECT_EQ(first, FirstCard(spool, order));
    return first;
  }
  // Every card in order, as `skip` passes over those already taken.
  std::vector<std::string> All() {
    std::vector<std::string> taken;
    while (const auto next = watch.First(spool, [&](const std::string& name) {
      return std::find(taken.begin(), taken.end(), name) != taken.end();
    })) {
      taken.push_back(*next);
    }
    return taken;
  }
  TFileStamp Stamp(const std::string& name) const { return TCardFile(spool / name).Stamp(); }

  ScratchFolder scratch;
  fs::path spool;
  TNameOrder order;
  TSpoolWatch watch{order};
};

TEST_F(SpoolWatchTest, TakesCardsInOrderAndPassesOverWhatIsSkipped) {
  EXPECT_EQ(First(), std::nullopt);
  EXPECT_TRUE(watch.KernelEvents());
  for (const char* name : {"B.car", "C.CAR", "a.car", "x.car.txt", ".0.car", "n.txt"})
    WriteFile(spool / name, "");
  EXPECT_EQ(First(), "a.car");
  EXPECT_EQ(All(), (std::vector<std::string>{"a.car", "B.car", "C.CAR"}));
  EXPECT_EQ(watch.First(spool, [](const std::string& name) { return name != "C.CAR"; }), "C.CAR");
  EXPECT_EQ(watch.First(spool, [](const std::string&) { return true; }), std::nullopt);

  // Listed whole the first time too.
  TSpoolWatch fresh(order);
  EXPECT_EQ(fresh.First(spool, kNoSkip), "a.car");
  EXPECT_EQ(fresh.First(spool, [](const std::string& name) { return name == "a.car"; }), "B.car");
  EXPECT_TRUE(fresh.KernelEvents());
}

TEST_F(SpoolWatchTest, SeesCardsAddedRemovedAndRenamedBetweenLooks) {
  WriteFile(spool / "m.car", "");
  WriteFile(spool / "note.txt", "");
  const fs::path elsewhere = scratch.path() / "elsewhere";
  fs::create_directory(elsewhere);
  EXPECT_EQ(First(), "m.car");

  WriteFile(spool / "b.car", "");
  EXPECT_EQ(First(), "b.car");
  fs::remove(spool / "b.car");
  EXPECT_EQ(First(), "m.car");
  fs::rename(spool / "m.car", spool / "z.car");  // renamed within the folder
  EXPECT_EQ(First(), "z.car");
  fs::rename(spool / "note.txt", spool / "c.car");  // a name that becomes a card's
  EXPECT_EQ(First(), "c.car");
  fs::rename(spool / "c.car", spool / "c.car.done");  // and stops being one
  EXPECT_EQ(First(), "z.car");
  WriteFile(elsewhere / "d.car", "");
  fs::rename(elsewhere / "d.car", spool / "d.car");  // moved in from another folder
  EXPECT_EQ(First(), "d.car");
  fs::rename(spool / "d.car", elsewhere / "d.car");  // moved out
  EXPECT_EQ(First(), "z.car");
  ASSERT_EQ(link((elsewhere / "d.car").c_str(), (spool / "e.car").c_str()), 0);  // a hard link
  EXPECT_EQ(First(), "e.car");

  // Several changes between two looks.
  for (const char* name : {"y.car", "A.car", "k.car"}) WriteFile(spool / name, "");
  fs::remove(spool / "e.car");
  fs::rename(spool / "k.car", spool / "0.car");
  EXPECT_EQ(All(), (std::vector<std::string>{"0.car", "A.car", "y.car", "z.car"}));
  for (const char* name : {"0.car", "A.car", "y.car", "z.car"}) fs::remove(spool / name);
  EXPECT_EQ(First(), std::nullopt);
  EXPECT_TRUE(watch.KernelEvents());
}

TEST_F(SpoolWatchTest, NeverTakesAFifoASymbolicLinkOrAFolder) {
  WriteFile(spool / "z.car", "");
  WriteFile(scratch.path() / "target", "");
  // Before the first look, found by the listing...
  ASSERT_EQ(mkfifo((spool / "a.car").c_str(), 0600), 0);
  fs::create_symlink(scratch.path() / "target", spool / "b.car");
  fs::create_directory(spool / "c.car");
  EXPECT_EQ(First(), "z.car");
  // ... and after it, reported by the kernel.
  ASSERT_EQ(mkfifo((spool / "d.car").c_str(), 0600), 0);
  fs::create_symlink(scratch.path() / "target", spool / "e.car");
  fs::create_symlink(scratch.path() / "missing", spool / "f.car");
  fs::create_directory(spool / "g.car");
  WriteFile(spool / "g.car" / "h.car", "");  // not in the folder itself
  EXPECT_EQ(First(), "z.car");
  // Written to, touched: still no card.
  const int fifo = open((spool / "d.car").c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(fifo, 0);
  ASSERT_EQ(write(fifo, "x", 1), 1);
  close(fifo);
  ASSERT_EQ(utimensat(AT_FDCWD, (spool / "a.car").c_str(), nullptr, 0), 0);
  EXPECT_EQ(All(), std::vector<std::string>{"z.car"});
}

TEST_F(SpoolWatchTest, ARegularFileReplacedByASymbolicLinkOrAFifoLeaves) {
  WriteFile(spool / "a.car", "");
  WriteFile(spool / "b.car", "");
  WriteFile(scratch.path() / "target", "");
  EXPECT_EQ(First(), "a.car");
  fs::create_symlink(scratch.path() / "target", spool / "link.tmp");
  fs::rename(spool / "link.tmp", spool / "a.car");
  EXPECT_EQ(First(), "b.car");
  ASSERT_EQ(mkfifo((spool / "fifo.tmp").c_str(), 0600), 0);
  fs::rename(spool / "fifo.tmp", spool / "b.car");
  EXPECT_EQ(First(), std::nullopt);
  // And a regular file in the symbolic link's place enters.
  WriteFile(spool / "file.tmp", "");
  fs::rename(spool / "file.tmp", spool / "a.car");
  EXPECT_EQ(First(), "a.car");
}

TEST_F(SpoolWatchTest, TellsAFileItsWriterClosedOrThatWasMovedIn) {
  WriteFile(spool / "old.car", "");
  EXPECT_EQ(First(), "old.car");
  EXPECT_FALSE(watch.Closed("old.car", Stamp("old.car")));  // listed: nothing told
  EXPECT_FALSE(watch.Closed("missing.car", TFileStamp{}));

  WriteFile(spool / "a.car", "1\n");
  EXPECT_EQ(First(), "a.car");
  const TFileStamp written = Stamp("a.car");
  EXPECT_TRUE(watch.Closed("a.car", written));

  // A writer opens it again and writes: no longer closed, whatever its stamp.
  const int writer = open((spool / "a.car").c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(write(writer, "2\n", 2), 2);
  EXPECT_EQ(First(), "a.car");
  EXPECT_FALSE(watch.Closed("a.car", Stamp("a.car")));
  EXPECT_FALSE(watch.Closed("a.car", written));
  close(writer);
  EXPECT_EQ(First(), "a.car");
  const TFileStamp rewritten = Stamp("a.car");
  EXPECT_TRUE(watch.Closed("a.car", rewritten));
  EXPECT_FALSE(watch.Closed("a.car", written));

  // A stamp that changed since the close was read: not what was closed.
  testing::Age(spool / "a.car", 5);
  EXPECT_FALSE(watch.Closed("a.car", Stamp("a.car")));

  // A file still open by the writer that made it.
  const int maker = open((spool / "b.car").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  ASSERT_GE(maker, 0);
  ASSERT_EQ(write(maker, "1\n", 2), 2);
  EXPECT_EQ(First(), "a.car");
  EXPECT_FALSE(watch.Closed("b.car", Stamp("b.car")));
  close(maker);
  EXPECT_EQ(First(), "a.car");
  EXPECT_TRUE(watch.Closed("b.car", Stamp("b.car")));

  // Written elsewhere and moved in.
  WriteFile(spool / "c.tmp", "1\n");
  fs::rename(spool / "c.tmp", spool / "c.car");
  EXPECT_EQ(First(), "a.car");
  EXPECT_TRUE(watch.Closed("c.car", Stamp("c.car")));

  // Removed and made anew under the same name, still open.
  fs::remove(spool / "c.car");
  const int again = open((spool / "c.car").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  ASSERT_GE(again, 0);
  EXPECT_EQ(First(), "a.car");
  EXPECT_FALSE(watch.Closed("c.car", Stamp("c.car")));
  close(again);

  // Nothing is told once the watch has forgotten the folder.
  watch.Reset();
  EXPECT_FALSE(watch.KernelEvents());
  EXPECT_FALSE(watch.Closed("b.car", Stamp("b.car")));
}

TEST_F(SpoolWatchTest, AFolderMadeAnewUnderTheSamePathIsListedAnew) {
  WriteFile(spool / "a.car", "");
  EXPECT_EQ(First(), "a.car");

  // Removed, then made anew between two looks.
  fs::remove_all(spool);
  fs::create_directory(spool);
  WriteFile(spool / "b.car", "");
  EXPECT_EQ(First(), "b.car");
  WriteFile(spool / "0.car", "");  // the new folder is the one watched
  EXPECT_EQ(First(), "0.car");
  EXPECT_TRUE(watch.KernelEvents());

  // Removed, looked at, made anew.
  fs::remove_all(spool);
  EXPECT_EQ(watch.First(spool, kNoSkip), std::nullopt);
  fs::create_directory(spool);
  EXPECT_EQ(First(), std::nullopt);
  WriteFile(spool / "c.car", "");
  EXPECT_EQ(First(), "c.car");

  // Moved away, and another folder moved in its place.
  const fs::path next = scratch.path() / "next";
  fs::create_directory(next);
  WriteFile(next / "d.car", "");
  fs::rename(spool, scratch.path() / "gone");
  fs::rename(next, spool);
  EXPECT_EQ(First(), "d.car");
  WriteFile(scratch.path() / "gone" / "0.car", "");  // the old folder says nothing any more
  EXPECT_EQ(First(), "d.car");
  WriteFile(spool / "e.car", "");
  fs::remove(spool / "d.car");
  EXPECT_EQ(First(), "e.car");
}

TEST_F(SpoolWatchTest, AnotherFolderIsListedAndWatchedInstead) {
  const fs::path other = scratch.path() / "other";
  fs::create_directory(other);
  WriteFile(spool / "a.car", "");
  WriteFile(other / "b.car", "");
  EXPECT_EQ(First(), "a.car");
  EXPECT_EQ(watch.First(other, kNoSkip), "b.car");
  WriteFile(spool / "0.car", "");  // while the other folder is watched
  WriteFile(other / "c.car", "");
  fs::remove(other / "b.car");
  EXPECT_EQ(watch.First(other, kNoSkip), "c.car");
  EXPECT_EQ(First(), "0.car");
  EXPECT_EQ(watch.First(scratch.path() / "missing", kNoSkip), std::nullopt);
  EXPECT_EQ(First(), "0.car");
}

TEST_F(SpoolWatchTest, ResetListsTheFolderAgain) {
  WriteFile(spool / "a.car", "");
  EXPECT_EQ(First(), "a.car");
  EXPECT_TRUE(watch.KernelEvents());
  watch.Reset();
  EXPECT_FALSE(watch.KernelEvents());
  WriteFile(spool / "0.car", "");  // while nothing is watched
  EXPECT_EQ(First(), "0.car");
  EXPECT_TRUE(watch.KernelEvents());
}

int QueuedEventsLimit() {
  std::ifstream in("/proc/sys/fs/inotify/max_queued_events");
  int limit = 0;
  in >> limit;
  return limit;
}

TEST_F(SpoolWatchTest, AQueueThatOverflowedIsReplacedByAListing) {
  const int limit = QueuedEventsLimit();
  if (limit <= 0 || limit > 200000) GTEST_SKIP() << "fs.inotify.max_queued_events is " << limit;
  WriteFile(spool / "a.car", "");
  WriteFile(spool / "b.car", "");
  EXPECT_EQ(First(), "a.car");
  // Each file made and closed is two events: more than the queue holds. What follows is lost.
  for (int n = 0; n <= limit / 2 + 10; ++n) {
    const int fd = open((spool / (std::to_string(n) + ".txt")).c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
  }
  WriteFile(spool / "c.car", "");
  fs::remove(spool / "a.car");
  EXPECT_EQ(First(), "b.car");
  fs::remove(spool / "b.car");
  EXPECT_EQ(First(), "c.car");
  EXPECT_TRUE(watch.KernelEvents());
  WriteFile(spool / "0.car", "");
  EXPECT_EQ(First(), "0.car");
}

TEST_F(SpoolWatchTest, AFolderOfOtherFilesCostsNothingAtALook) {
  constexpr int kOther = 20000;
  for (int n = 0; n < kOther; ++n) {
    const int fd = open((spool / (std::to_string(n) + ".txt")).c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
  }
  WriteFile(spool / "a.car", "");
  EXPECT_EQ(First(), "a.car");
  // A listing of the folder takes a few milliseconds; a look at the kernel's queue, microseconds.
  const auto start = std::chrono::steady_clock::now();
  for (int look = 0; look < 2000; ++look) ASSERT_EQ(watch.First(spool, kNoSkip), "a.car");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_TRUE(watch.KernelEvents());
}

TEST(SpoolWatchListing, ListsTheFolderAtEveryLookAndTellsNothingClosed) {
  ScratchFolder scratch;
  const fs::path spool = scratch.path() / "spool";
  fs::create_directory(spool);
  TNameOrder order;
  TSpoolWatch watch(order, TSpoolWatch::TListAlways{});
  const auto first = [&] {
    std::optional<std::string> found = watch.First(spool, kNoSkip);
    EXPECT_EQ(found, FirstCard(spool, order));
    return found;
  };
  EXPECT_EQ(first(), std::nullopt);
  EXPECT_FALSE(watch.KernelEvents());
  for (const char* name : {"B.car", "C.CAR", "a.car", "x.car.txt", ".0.car", "n.txt"})
    WriteFile(spool / name, "");
  ASSERT_EQ(mkfifo((spool / "0.car").c_str(), 0600), 0);
  fs::create_symlink(spool / "n.txt", spool / "1.car");
  fs::create_directory(spool / "2.car");
  EXPECT_EQ(first(), "a.car");
  std::vector<std::string> taken;
  while (const auto next = watch.First(spool, [&](const std::string& name) {
    return std::find(taken.begin(), taken.end(), name) != taken.end();
  })) {
    taken.push_back(*next);
  }
  EXPECT_EQ(taken, (std::vector<std::string>{"a.car", "B.car", "C.CAR"}));
  fs::remove(spool / "a.car");
  EXPECT_EQ(first(), "B.car");
  fs::rename(spool / "n.txt", spool / "A0.car");
  EXPECT_EQ(first(), "A0.car");
  EXPECT_FALSE(watch.Closed("A0.car", TCardFile(spool / "A0.car").Stamp()));
  EXPECT_FALSE(watch.KernelEvents());

  fs::remove_all(spool);
  EXPECT_EQ(watch.First(spool, kNoSkip), std::nullopt);
  fs::create_directory(spool);
  WriteFile(spool / "d.car", "");
  EXPECT_EQ(first(), "d.car");
}

TEST(RemoteFileSystem, NetworkAndFuseFileSystemsAreListedAtEveryLook) {
  for (unsigned long type : {0x6969ul, 0x517Bul, 0xFF534D42ul, 0xFE534D42ul, 0x65735546ul, 0x01021997ul,
                             0x00C36400ul, 0x5346414Ful, 0x6B414653ul}) {
    EXPECT_TRUE(IsRemoteFileSystem(type)) << std::hex << type;
  }
  // f_type is a signed long: CIFS's magic may come sign-extended.
  EXPECT_TRUE(
      IsRemoteFileSystem(static_cast<unsigned long>(static_cast<long>(static_cast<int32_t>(0xFF534D42)))));
  // ext4, tmpfs, btrfs, xfs, overlayfs
  for (unsigned long type : {0xEF53ul, 0x01021994ul, 0x9123683Eul, 0x58465342ul, 0x794C7630ul}) {
    EXPECT_FALSE(IsRemoteFileSystem(type)) << std::hex << type;
  }
}

}  // namespace
}  // namespace parvel::agent
