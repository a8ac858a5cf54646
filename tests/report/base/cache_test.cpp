#include "report/base/cache.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "platform/services.h"
#include "platform/temp_files.h"
#include "platform/testing/doubles.h"
#include "report/base/errors.h"
#include "report/base/language.h"

namespace parvel::report {
namespace {

namespace fs = std::filesystem;

// Keeps `value` as its per-page state, in a record of `size` bytes.
class Keeper : public TppCacheable {
 public:
  explicit Keeper(int32_t size) : value(size, 0) { SetCacheRecordSize(size); }
  void Set(int seed) {
    for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<uint8_t>(seed + i);
  }
  void SaveToCache(int32_t page) override { WriteCacheRecord(page, value.data()); }
  void RestoreFromCache(int32_t page) override { restored = ReadCacheRecord(page, value.data()); }
  void ReleaseCache(int32_t page) override { released.push_back(page); }

  std::vector<uint8_t> value;
  bool restored = false;
  std::vector<int32_t> released;
};

std::vector<uint8_t> Pattern(size_t size, int seed) {
  std::vector<uint8_t> v(size);
  for (size_t i = 0; i < size; ++i) v[i] = static_cast<uint8_t>(seed + i);
  return v;
}

// Hands out links to /dev/full: files that open but refuse every byte.
class FullDiskTempFiles : public platform::TempFiles {
 public:
  explicit FullDiskTempFiles(fs::path folder) : folder_(std::move(folder)) {}
  fs::path TempFolder() const override { return folder_; }
  fs::path CreateTempFile(const fs::path& in, const std::string& prefix) override {
    fs::path path = in / (prefix + std::to_string(++count_));
    fs::create_symlink("/dev/full", path);
    return path;
  }

 private:
  fs::path folder_;
  int count_ = 0;
};

class CacheTest : public ::testing::Test {
 protected:
  CacheTest() {
    manager.OnEventReceived = [this](TppCommunicator*, TppCommunicator*, int id, TraParamList*) {
      events.push_back(id);
    };
    manager.StopEngine = [this] { ++stops; };
  }

  Keeper& Add(int32_t size) {
    keepers.push_back(std::make_unique<Keeper>(size));
    manager.RegisterCacheable(keepers.back().get());
    return *keepers.back();
  }

  int FilesInScratch() const {
    return static_cast<int>(std::distance(fs::directory_iterator(scratch.path()), fs::directory_iterator()));
  }

  void ExpectPrintError(const std::function<void()>& action) {
    try {
      action();
      ADD_FAILURE() << "no EPrintError";
    } catch (const EPrintError& error) {
      EXPECT_EQ(error.what(), LoadLanguageString(284));
    }
  }

  platform::doubles::ScratchFolder scratch;
  platform::doubles::FolderTempFiles temp{scratch.path()};
  platform::ScopedInstall<platform::TempFiles> install{&temp};
  std::vector<std::unique_ptr<Keeper>> keepers;  // freed after the manager
  TppCacheManager manager;
  std::vector<int> events;
  int stops = 0;
};

TEST_F(CacheTest, ManagerListensToTheCacheEventsOnly) {
  EXPECT_EQ(manager.EventMask().count(), 2u);
  EXPECT_TRUE(manager.EventMask().test(48));
  EXPECT_TRUE(manager.EventMask().test(49));
  EXPECT_EQ(manager.CachePageCount(), -1);
  EXPECT_EQ(manager.CacheType(), cyMemory);
  EXPECT_FALSE(LoadLanguageString(284).empty());
}

TEST_F(CacheTest, RecordsOfEachSizeShareAStreamAtTheirOffsets) {
  Keeper& a = Add(4);
  Keeper& b = Add(1);
  Keeper& c = Add(4);
  Keeper& none = Add(0);
  EXPECT_EQ(manager.RecordSizes(), (std::vector<int32_t>{4, 1}));
  EXPECT_EQ(a.CacheStream(), c.CacheStream());
  EXPECT_NE(a.CacheStream(), b.CacheStream());
  EXPECT_EQ(none.CacheStream(), nullptr);
  EXPECT_EQ(a.CacheCount(), 2);
  EXPECT_EQ(c.CachePosition(), 1);
  EXPECT_EQ(b.CacheCount(), 1);

  for (int page = 0; page <= 2; ++page) {
    a.Set(10 * page);
    b.Set(10 * page + 1);
    c.Set(10 * page + 2);
    manager.SaveToCache(page);
  }
  EXPECT_EQ(manager.CachePageCount(), 2);
  EXPECT_EQ(a.CacheStream()->Size(), 3 * 2 * 4);
  EXPECT_EQ(b.CacheStream()->Size(), 3);
  // c's record of page 1 lies at (1 * 2 + 1) * 4.
  std::vector<uint8_t> raw(4);
  ASSERT_TRUE(c.CacheStream()->Read(12, raw.data(), 4));
  EXPECT_EQ(raw, Pattern(4, 12));

  manager.RestoreFromCache(1);
  EXPECT_EQ(a.value, Pattern(4, 10));
  EXPECT_EQ(b.value, Pattern(1, 11));
  EXPECT_EQ(c.value, Pattern(4, 12));
  EXPECT_TRUE(a.restored);
  EXPECT_EQ(events, std::vector<int>{});
}

TEST_F(CacheTest, RewritingAnEarlierPageLeavesLaterPagesAlone) {
  Keeper& a = Add(2);
  for (int page = 0; page <= 2; ++page) {
    a.Set(page * 10);
    manager.SaveToCache(page);
  }
  a.Set(99);
  manager.SaveToCache(1);
  a.Set(30);
  manager.SaveToCache(3);
  a.Set(50);
  manager.SaveToCache(5);  // a page skipped: page 4's record stays empty

  const std::pair<int, std::vector<uint8_t>> expected[] = {
      {0, Pattern(2, 0)}, {1, Pattern(2, 99)}, {2, Pattern(2, 20)}, {3, Pattern(2, 30)}, {5, Pattern(2, 50)}};
  for (const auto& [page, value] : expected) {
    manager.RestoreFromCache(page);
    EXPECT_EQ(a.value, value) << "page " << page;
  }
  EXPECT_EQ(a.CachePageCount(), 6);
  a.Set(7);
  manager.RestoreFromCache(6);  // never saved: the state stays
  EXPECT_FALSE(a.restored);
  EXPECT_EQ(a.value, Pattern(2, 7));
}

TEST_F(CacheTest, FailedMemoryWriteMovesEveryStreamIntoAFile) {
  Keeper& a = Add(4);
  Keeper& b = Add(1);
  manager.SetMemoryCapacity(4);
  a.Set(1);
  b.Set(2);
  manager.SaveToCache(0);
  a.Set(11);
  b.Set(12);
  manager.SaveToCache(1);  // a's record no longer fits in memory

  EXPECT_EQ(events, std::vector<int>{48});
  EXPECT_EQ(stops, 0);
  EXPECT_EQ(manager.CacheType(), cyFile);
  ASSERT_EQ(manager.TempFileNames().size(), 2u);
  for (const auto& path : manager.TempFileNames()) {
    EXPECT_EQ(path.parent_path(), scratch.path());
    EXPECT_EQ(path.filename().string().rfind("cch", 0), 0u) << path;
    EXPECT_TRUE(fs::exists(path));
  }
  EXPECT_TRUE(a.CacheStream()->IsFile());
  EXPECT_EQ(fs::file_size(a.CacheStream()->FileName()), 8u);

  // Both pages come back, from the files.
  manager.RestoreFromCache(0);
  EXPECT_EQ(a.value, Pattern(4, 1));
  EXPECT_EQ(b.value, Pattern(1, 2));
  manager.RestoreFromCache(1);
  EXPECT_EQ(a.value, Pattern(4, 11));
  EXPECT_EQ(b.value, Pattern(1, 12));

  manager.ClearCache();
  EXPECT_EQ(FilesInScratch(), 0);
  EXPECT_TRUE(manager.TempFileNames().empty());
  EXPECT_EQ(manager.CacheType(), cyMemory);
  EXPECT_EQ(manager.CachePageCount(), -1);
  EXPECT_EQ(a.released, std::vector<int32_t>{0});
  EXPECT_EQ(a.CacheStream()->Size(), 0);
  manager.RestoreFromCache(0);
  EXPECT_FALSE(a.restored);
}

TEST_F(CacheTest, TempFilesGoWithTheManager) {
  fs::path file;
  {
    TppCacheManager local;
    Keeper k(4);
    local.RegisterCacheable(&k);
    local.SetMemoryCapacity(0);
    local.SaveToCache(0);
    ASSERT_EQ(local.TempFileNames().size(), 1u);
    file = local.TempFileNames()[0];
    EXPECT_TRUE(fs::exists(file));
  }  // the keeper goes first here, then the manager
  EXPECT_FALSE(fs::exists(file));
}

TEST_F(CacheTest, NoTempFileMeansAPrintErrorAndTheMemoryRecordsStay) {
  Keeper& a = Add(4);
  manager.SetMemoryCapacity(4);
  a.Set(1);
  manager.SaveToCache(0);
  temp.fail_creation = true;
  a.Set(2);
  ExpectPrintError([&] { manager.SaveToCache(1); });
  EXPECT_EQ(events, (std::vector<int>{48, 49}));
  EXPECT_EQ(stops, 1);
  EXPECT_EQ(manager.CacheType(), cyMemory);
  EXPECT_EQ(FilesInScratch(), 0);
  manager.RestoreFromCache(0);
  EXPECT_EQ(a.value, Pattern(4, 1));
}

TEST_F(CacheTest, FileThatRefusesWritesEndsThePrint) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  FullDiskTempFiles full(scratch.path());
  platform::ScopedInstall<platform::TempFiles> guard(&full);
  Keeper& a = Add(4);

  // Records in memory that cannot be copied out stay in memory.
  manager.SetMemoryCapacity(4);
  a.Set(1);
  manager.SaveToCache(0);
  a.Set(2);
  ExpectPrintError([&] { manager.SaveToCache(1); });
  EXPECT_EQ(events, (std::vector<int>{48, 49}));
  EXPECT_EQ(manager.CacheType(), cyMemory);
  EXPECT_EQ(FilesInScratch(), 0);
  manager.RestoreFromCache(0);
  EXPECT_EQ(a.value, Pattern(4, 1));

  // An empty cache moves, then the retry fails in the file...
  manager.ClearCache();
  manager.SetMemoryCapacity(0);
  events.clear();
  ExpectPrintError([&] { manager.SaveToCache(0); });
  EXPECT_EQ(events, (std::vector<int>{48, 49}));
  EXPECT_EQ(manager.CacheType(), cyFile);
  // ...and a write that fails in file mode fails at once.
  events.clear();
  ExpectPrintError([&] { manager.SaveToCache(0); });
  EXPECT_EQ(events, std::vector<int>{48});
  EXPECT_EQ(stops, 3);
  manager.ClearCache();
  EXPECT_EQ(FilesInScratch(), 0);
  EXPECT_TRUE(fs::exists("/dev/full"));
}

TEST_F(CacheTest, RegisteringIntoAFilledCacheDropsTheRecords) {
  Keeper& a = Add(4);
  manager.SaveToCache(0);
  EXPECT_EQ(manager.CachePageCount(), 0);
  Keeper& b = Add(4);
  EXPECT_EQ(manager.CachePageCount(), -1);
  EXPECT_EQ(a.released, std::vector<int32_t>{0});
  EXPECT_EQ(a.CacheCount(), 2);
  EXPECT_EQ(b.CachePosition(), 1);
  EXPECT_EQ(a.CacheStream()->Size(), 0);
}

TEST_F(CacheTest, FreedOrUnregisteredCacheablesLeaveTheOthersInPlace) {
  Keeper& a = Add(4);
  auto doomed = std::make_unique<Keeper>(4);
  manager.RegisterCacheable(doomed.get());
  Keeper& c = Add(4);
  a.Set(1);
  c.Set(3);
  manager.SaveToCache(0);
  doomed.reset();
  EXPECT_EQ(manager.CacheableCount(), 2);
  manager.UnregisterCacheable(&a);
  EXPECT_EQ(manager.CacheableCount(), 1);
  EXPECT_EQ(a.CacheStream(), nullptr);
  EXPECT_FALSE(a.IsLinkedTo(&manager));
  c.Set(0);
  manager.RestoreFromCache(0);
  EXPECT_EQ(c.value, Pattern(4, 3));
  manager.SaveToCache(1);  // no dangling entry is reached
  EXPECT_EQ(manager.CachePageCount(), 1);
}

TEST(CacheLifetimeTest, CacheablesOutliveTheirManager) {
  Keeper k(2);
  {
    TppCacheManager manager;
    manager.RegisterCacheable(&k);
    manager.SaveToCache(0);
    EXPECT_TRUE(k.IsLinkedTo(&manager));
  }
  EXPECT_EQ(k.CacheStream(), nullptr);
  EXPECT_EQ(k.LinkCount(), 0);
  k.SaveToCache(0);  // nothing to write to, and nothing breaks
  k.RestoreFromCache(0);
  EXPECT_FALSE(k.restored);
}

}  // namespace
}  // namespace parvel::report
