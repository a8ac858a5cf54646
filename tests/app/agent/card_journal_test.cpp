// The journal that outlives a crash, and the removal of exactly the card that was printed.
#include "app/agent/card_journal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/agent/card_removal.h"
#include "platform/testing/doubles.h"
#include "tests/app/agent/agent_doubles.h"

namespace parvel::agent {
namespace {

namespace fs = std::filesystem;
using platform::doubles::ScratchFolder;
using testing::WriteFile;

TFileStamp Stamp(const fs::path& folder, const std::string& name) {
  const std::optional<TFileStamp> stamp = StampOf(folder, name);
  if (!stamp) throw std::runtime_error("no " + name);
  return *stamp;
}

TEST(CardJournal, WhatIsWrittenIsWhatTheNextAgentReads) {
  ScratchFolder scratch;
  // A name with blanks, a line break and a percent sign survives the text form.
  const std::string odd = "Maria da Silva\n100%.car";
  WriteFile(scratch.path() / odd, "x");
  WriteFile(scratch.path() / "held.car", "y");
  TCardJournal journal;
  journal.Open(scratch.path());
  EXPECT_FALSE(journal.InPrint());
  journal.Begin(TCardInPrint{TCardIdentity{odd, Stamp(scratch.path(), odd)}, "Default", 1700000000, 0});
  journal.SetJob(42, "cards");
  journal.Hold(TCardIdentity{"held.car", Stamp(scratch.path(), "held.car")});

  TCardJournal after;
  after.Open(scratch.path());
  ASSERT_TRUE(after.InPrint());
  EXPECT_EQ(*after.InPrint(),
            (TCardInPrint{TCardIdentity{odd, Stamp(scratch.path(), odd)}, "cards", 1700000000, 42}));
  EXPECT_TRUE(after.Held("held.car"));
  EXPECT_FALSE(after.Held(odd));

  // A held card written anew is a new card; one that is gone is forgotten.
  WriteFile(scratch.path() / "held.car", "changed");
  EXPECT_FALSE(after.Held("held.car"));
  after.End();
  TCardJournal last;
  last.Open(scratch.path());
  EXPECT_FALSE(last.InPrint());
  EXPECT_TRUE(last.HeldCards().empty());
  EXPECT_FALSE(fs::exists(scratch.path() / kJournalName)) << "nothing to remember, no file";
}

TEST(CardJournal, ADamagedJournalStopsPrintingWithItsLine) {
  ScratchFolder scratch;
  WriteFile(scratch.path() / kJournalName, "parvel card journal 1\nprint cards 1 2\n");
  TCardJournal journal;
  try {
    journal.Open(scratch.path());
    FAIL() << "a damaged journal was taken";
  } catch (const ECardFileError& e) {
    EXPECT_NE(std::string(e.what()).find("is damaged at line 2"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(journal.IsOpen());
}

TEST(CardRemoval, OnlyThePrintedFileIsDeleted) {
  ScratchFolder scratch;
  const fs::path& folder = scratch.path();
  const struct {
    const char* name;
    void (*change)(const fs::path& card);  // what happens to the card while it prints
    TRemoval removal;
    bool stays;
  } cases[] = {
      {"unchanged", [](const fs::path&) {}, TRemoval::kRemoved, false},
      {"gone", [](const fs::path& card) { fs::remove(card); }, TRemoval::kGone, false},
      {"renamed over",
       [](const fs::path& card) {
         WriteFile(card.parent_path() / "new.tmp", "new card");
         fs::rename(card.parent_path() / "new.tmp", card);
       },
       TRemoval::kReplaced, true},
      {"written anew in place", [](const fs::path& card) { WriteFile(card, "longer content"); },
       TRemoval::kReplaced, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path card = folder / "a.car";
    WriteFile(card, "old");
    testing::Age(card, 5);
    const TFileStamp printed = Stamp(folder, "a.car");
    c.change(card);
    EXPECT_EQ(RemovePrinted(folder, "a.car", printed), c.removal);
    EXPECT_EQ(fs::exists(card), c.stays);
    EXPECT_FALSE(fs::exists(folder / kRemovingName));
    fs::remove(card);
  }
}

TEST(CardRemoval, ACardOnlyItsOwnerMayDeleteIsNotPrinted) {
  ScratchFolder scratch;
  const fs::path folder = scratch.path() / "spool";
  fs::create_directory(folder);
  WriteFile(folder / "mine.car", "x");
  EXPECT_EQ(WhyNotDeletable(folder, "mine.car"), std::nullopt);
  if (geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  // A sticky folder of root's, a card of uid 1, an agent running as nobody (65534).
  ASSERT_EQ(chmod(folder.c_str(), 01777), 0);
  WriteFile(folder / "theirs.car", "x");
  ASSERT_EQ(chown((folder / "theirs.car").c_str(), 1, 1), 0);
  const std::optional<std::string> why = WhyNotDeletable(folder, "theirs.car", 65534);
  ASSERT_TRUE(why);
  EXPECT_NE(why->find("The card \"" + (folder / "theirs.car").string() + "\" is not printed: it belongs to "),
            std::string::npos)
      << *why;
  EXPECT_NE(why->find("only its owner may delete it"), std::string::npos) << *why;
  // Its owner may, and so may the folder's owner.
  EXPECT_EQ(WhyNotDeletable(folder, "theirs.car", 1), std::nullopt);
  EXPECT_EQ(WhyNotDeletable(folder, "theirs.car", 0), std::nullopt);
}

}  // namespace
}  // namespace parvel::agent
