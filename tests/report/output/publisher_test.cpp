#include "report/output/publisher.h"

#include <gtest/gtest.h>

#include <memory>

#include "report/base/errors.h"
#include "report/output/device.h"
#include "report/output/draw_command.h"
#include "report/output/page.h"
#include "tests/report/output/pages_doubles.h"

namespace parvel::report {
namespace {

using parvel::doubles::PageGenerator;

// Keeps the numbers of the finished pages it wanted.
class RecordingDevice : public TppDevice {
 public:
  explicit RecordingDevice(TComponent* owner = nullptr) : TppDevice(owner) {}
  void ReceivePage(TppPage& page) override {
    TppDevice::ReceivePage(page);
    if (PageWanted() && !MessageOnly()) printed.push_back(page.AbsolutePageNo());
  }
  void StartJob() override {
    TppDevice::StartJob();
    ++starts;
  }
  void EndJob() override {
    TppDevice::EndJob();
    ++ends;
  }
  std::vector<int> printed;
  int starts = 0;
  int ends = 0;
};

void SinglePage(TppDevice& device, int page) {
  device.DeviceRequest().SetPageSetting(psSinglePage);
  device.DeviceRequest().SetPageRequested(page);
}

void RunJob(TppPublisher& publisher) {
  publisher.StartJob();
  publisher.RequestPages();
  publisher.EndJob();
}

// ---- pages

TEST(PageTest, OwnsItsCommandsInDrawingOrder) {
  TppPage page;
  auto* first = &page.Add(std::make_unique<TppDrawText>());
  auto* second = new TppDrawShape();
  page.AddDrawCommand(second);
  ASSERT_EQ(page.DrawCommandCount(), 2);
  EXPECT_EQ(page.DrawCommands(0), first);
  EXPECT_EQ(page.DrawCommands(1), second);
  EXPECT_EQ(second->Page(), &page);
  EXPECT_EQ(first->Owner(), &page);

  // Freeing a command takes it off its page.
  delete first;
  ASSERT_EQ(page.DrawCommandCount(), 1);
  EXPECT_EQ(page.DrawCommands(0), second);
}

TEST(PageTest, ACommandMovesBetweenPagesAndOwners) {
  TComponent label;
  TppPage one;
  TppPage two;
  auto* text = &label.Add(std::make_unique<TppDrawText>());
  text->SetClickable(true);
  text->SetPage(&one);
  EXPECT_EQ(text->Owner(), &one);
  EXPECT_EQ(label.ComponentCount(), 0);
  ASSERT_NE(one.ClickableCommands(), nullptr);

  text->SetPage(&two);
  EXPECT_EQ(one.DrawCommandCount(), 0);
  EXPECT_EQ(one.ClickableCommands(), nullptr);  // freed once empty
  EXPECT_EQ(two.DrawCommands(0), text);
  EXPECT_EQ(text->Owner(), &two);

  text->SetPage(nullptr);
  EXPECT_EQ(two.DrawCommandCount(), 0);
  EXPECT_EQ(text->Owner(), nullptr);
  std::unique_ptr<TppDrawText> held(text);  // detached: the caller holds it
}

TEST(PageTest, OnlyOneOutlineCommandPerPage) {
  TppPage page;
  page.Add(std::make_unique<TppOutlineDrawCommand>());
  auto second = std::make_unique<TppOutlineDrawCommand>();
  try {
    page.AddDrawCommand(second.get());
    FAIL() << "a second outline command was accepted";
  } catch (const EOutlineError& e) {
    EXPECT_STREQ(e.what(), "TppPage.AddDrawCommand: Cannot add more than one draw outline command per page.");
  }
  EXPECT_EQ(page.DrawCommandCount(), 1);
  EXPECT_EQ(second->Page(), nullptr);
  // Handed over, a refused command is freed with the refusal.
  auto third = std::make_unique<TppOutlineDrawCommand>();
  const std::weak_ptr<const void> alive = third->Liveness();
  EXPECT_THROW(page.Add(std::move(third)), EOutlineError);
  EXPECT_TRUE(alive.expired());
  EXPECT_EQ(page.DrawCommandCount(), 1);
}

TEST(PageTest, AssignCopiesCommandsClassByClass) {
  TppPage source;
  source.SetAbsolutePageNo(3);
  source.SetAbsolutePageCount(7);
  source.SetFinal(true);
  source.SetDocumentName("Cards");
  source.PrinterSetup().SetCopies(4);
  auto* text = &source.Add(std::make_unique<TppDrawText>());
  text->SetText("Label1");
  text->SetLeft(1852);
  source.Add(std::make_unique<TppDrawLine>());
  source.Add(std::make_unique<TppDrawVar>());

  TppPage copy;
  copy.Add(std::make_unique<TppDrawShape>());  // freed by the copy
  copy.Assign(source);
  EXPECT_EQ(copy.AbsolutePageNo(), 3);
  EXPECT_EQ(copy.AbsolutePageCount(), 7);
  EXPECT_TRUE(copy.Final());
  EXPECT_EQ(copy.DocumentName(), "Cards");
  EXPECT_EQ(copy.PrinterSetup().Copies(), 4);
  ASSERT_EQ(copy.DrawCommandCount(), 3);
  const char* classes[] = {"TppDrawText", "TppDrawLine", "TppDrawVar"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(copy.DrawCommands(i)->ClassName(), classes[i]);
    EXPECT_EQ(copy.DrawCommands(i)->Page(), &copy);
    EXPECT_NE(copy.DrawCommands(i), source.DrawCommands(i));
  }
  EXPECT_TRUE(copy.DrawCommands(0)->IsEqual(*text));
  EXPECT_EQ(source.DrawCommandCount(), 3);
}

TEST(PageTest, ClearKeepsColourAndSetup) {
  TppPage page;
  page.SetColor(0x00FF00);
  page.PrinterSetup().SetCopies(2);
  page.SetAbsolutePageNo(2);
  page.SetPageNo(2);
  page.SetFirstPage(true);
  page.SetLastPage(true);
  page.SetFinal(true);
  page.SetDocumentName("x");
  page.Add(std::make_unique<TppDrawText>());
  page.Clear();
  EXPECT_EQ(page.DrawCommandCount(), 0);
  EXPECT_EQ(page.AbsolutePageNo(), 0);
  EXPECT_EQ(page.PageNo(), 0);
  EXPECT_FALSE(page.FirstPage());
  EXPECT_FALSE(page.LastPage());
  EXPECT_FALSE(page.Final());
  EXPECT_EQ(page.DocumentName(), "");
  EXPECT_EQ(page.Color(), 0x00FF00u);
  EXPECT_EQ(page.PrinterSetup().Copies(), 2);
}

TEST(PageTest, DescriptionsUseTheLanguageStrings) {
  TppPage page;
  page.SetAbsolutePageNo(3);
  page.SetAbsolutePageCount(7);
  EXPECT_EQ(page.PageDescription(), "Página 3 de 7");
  EXPECT_EQ(page.PageNoText(), "Página 3");
}

// ---- publisher

TEST(PublisherTest, DevicesReceivePagesTheyAskFor) {
  TppPublisher publisher;
  RecordingDevice all;
  RecordingDevice second;
  SinglePage(second, 2);
  all.SetPublisher(&publisher);
  second.SetPublisher(&publisher);
  PageGenerator generator(publisher, 3);
  RunJob(publisher);
  EXPECT_EQ(all.printed, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(second.printed, std::vector<int>{2});
  EXPECT_EQ(all.starts, 1);
  EXPECT_EQ(all.ends, 1);
  EXPECT_TRUE(publisher.LastPageKnown());
  EXPECT_EQ(publisher.LastPageNo(), 3);
  // EndJob leaves a fresh all-pages request behind.
  EXPECT_EQ(publisher.Request().PageSetting(), psAll);
  EXPECT_TRUE(publisher.FreshRequest());
}

TEST(PublisherTest, RequestsMergeAcrossDevices) {
  TppPublisher publisher;
  RecordingDevice three;
  RecordingDevice four;
  SinglePage(three, 3);
  SinglePage(four, 4);
  three.SetPublisher(&publisher);
  four.SetPublisher(&publisher);
  std::vector<TppPageRequest> seen;
  publisher.OnGeneratePages = [&](TppPublisher&, TppPageRequest& r) { seen.push_back(r); };
  publisher.RequestPages();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].PageSetting(), psPageList);
  EXPECT_EQ(seen[0].PageList(), (std::vector<std::string>{"3", "4"}));

  RecordingDevice all;
  all.SetPublisher(&publisher);
  publisher.RequestPages();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].PageSetting(), psAll);
}

TEST(PublisherTest, DisabledDevicesTakeNoPart) {
  TppPublisher publisher;
  RecordingDevice device;
  device.SetPublisher(&publisher);
  device.SetEnabled(false);
  PageGenerator generator(publisher, 2);
  RunJob(publisher);
  EXPECT_TRUE(device.printed.empty());
  EXPECT_EQ(device.starts, 0);
}

TEST(PublisherTest, TheCacheServesASecondRunWithoutGenerating) {
  TppPublisher publisher;
  publisher.SetCachePages(true);
  RecordingDevice device;
  device.SetPublisher(&publisher);
  PageGenerator generator(publisher, 3);
  RunJob(publisher);
  EXPECT_EQ(generator.runs, 1);
  EXPECT_EQ(publisher.CachedPageCount(), 3);  // calculation announcements are not cached
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(publisher.CachedPages(i)->AbsolutePageNo(), i + 1);
    EXPECT_FALSE(publisher.CachedPages(i)->Calculation());
    EXPECT_EQ(publisher.CachedPages(i)->DrawCommandCount(), 1);
  }

  device.printed.clear();
  RunJob(publisher);
  EXPECT_EQ(generator.runs, 1);
  EXPECT_EQ(device.printed, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(publisher.CachedPageCount(), 3);

  // A single page is served from the cache too; after InvalidatePages it is generated again.
  SinglePage(device, 2);
  device.printed.clear();
  RunJob(publisher);
  EXPECT_EQ(generator.runs, 1);
  EXPECT_EQ(device.printed, std::vector<int>{2});
  publisher.InvalidatePages();
  EXPECT_EQ(publisher.CachedPageCount(), 0);
  RunJob(publisher);
  EXPECT_EQ(generator.runs, 2);
}

TEST(PublisherTest, APageListIsServedOnlyWhenEveryPageIsCached) {
  TppPublisher publisher;
  publisher.SetCachePages(true);
  RecordingDevice device;
  device.SetPublisher(&publisher);
  PageGenerator generator(publisher, 2);
  RunJob(publisher);
  device.DeviceRequest().SetPageSetting(psPageList);
  device.DeviceRequest().SetPageList({"2", "5"});
  std::vector<TppPageRequest> asked;
  publisher.OnGeneratePages = [&](TppPublisher&, TppPageRequest& r) { asked.push_back(r); };
  device.printed.clear();
  publisher.RequestPages();
  EXPECT_EQ(device.printed, std::vector<int>{2});
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].PageList(), std::vector<std::string>{"5"});
}

TEST(PublisherTest, CachedCopiesLearnLaterCounts) {
  TppPublisher publisher;
  publisher.SetCachePages(true);
  TppPage page;
  for (int no = 1; no <= 2; ++no) {
    page.Clear();
    page.SetAbsolutePageNo(no);
    page.SetPageCount(no);
    page.SetAbsolutePageCount(no == 2 ? 2 : 0);
    page.SetFinal(true);
    publisher.ReceivePage(page);
  }
  page.Clear();
  page.SetAbsolutePageNo(3);
  page.SetFinal(false);  // not final: never cached
  publisher.ReceivePage(page);
  ASSERT_EQ(publisher.CachedPageCount(), 2);
  EXPECT_EQ(publisher.CachedPage(1)->AbsolutePageCount(), 2);
  EXPECT_EQ(publisher.CachedPage(1)->PageCount(), 2);
  EXPECT_EQ(publisher.CachedPage(3), nullptr);
}

TEST(PublisherTest, StackedDevicesWithOneKeyServeOneAtATime) {
  TppPublisher publisher;
  RecordingDevice first;
  RecordingDevice second;
  first.SetStacked(true);
  second.SetStacked(true);
  first.SetPublisher(&publisher);
  second.SetPublisher(&publisher);
  EXPECT_EQ(publisher.DeviceCount(), 1);
  PageGenerator generator(publisher, 1);
  RunJob(publisher);
  EXPECT_TRUE(first.printed.empty());
  EXPECT_EQ(second.printed, std::vector<int>{1});

  second.SetPublisher(nullptr);
  RunJob(publisher);
  EXPECT_EQ(first.printed, std::vector<int>{1});
  EXPECT_EQ(publisher.DeviceCount(), 1);
}

TEST(PublisherTest, FreedDevicesAndPublishersLetGo) {
  auto publisher = std::make_unique<TppPublisher>();
  RecordingDevice kept;
  int changes = 0;
  kept.OnPublisherChange = [&](TppDevice&) { ++changes; };
  kept.SetPublisher(publisher.get());
  {
    RecordingDevice gone;
    gone.SetStacked(true);
    gone.SetPublisher(publisher.get());
    EXPECT_EQ(publisher->DeviceCount(), 2);
  }
  EXPECT_EQ(publisher->DeviceCount(), 1);
  EXPECT_EQ(publisher->Devices(0), &kept);
  publisher.reset();
  EXPECT_EQ(kept.Publisher(), nullptr);
  EXPECT_EQ(changes, 2);
}

TEST(PublisherTest, StatusTextComesFromTheDevices) {
  TppPublisher publisher;
  RecordingDevice quiet;
  RecordingDevice talking;
  quiet.SetPublisher(&publisher);
  talking.SetPublisher(&publisher);
  talking.SetStatus("busy");
  EXPECT_EQ(publisher.StatusText(), "busy");
  publisher.SetStatus("done");
  EXPECT_EQ(quiet.StatusText(), "done");
  EXPECT_EQ(talking.StatusText(), "done");
}

TEST(PublisherTest, CancelReachesOnlyDevicesStillWaiting) {
  TppPublisher publisher;
  RecordingDevice finished;
  RecordingDevice waiting;
  SinglePage(finished, 1);
  waiting.DeviceRequest().SetPageSetting(psPageList);  // a list is not pulled back to the last page
  waiting.DeviceRequest().SetPageList({"5"});
  finished.SetPublisher(&publisher);
  waiting.SetPublisher(&publisher);
  PageGenerator generator(publisher, 2);
  publisher.StartJob();
  publisher.RequestPages();
  EXPECT_FALSE(finished.AwaitingPages());
  EXPECT_TRUE(waiting.AwaitingPages());
  publisher.CancelJob();
  EXPECT_FALSE(finished.JobCancelled());
  EXPECT_TRUE(waiting.JobCancelled());
  EXPECT_FALSE(waiting.InJob());
}

}  // namespace
}  // namespace parvel::report
