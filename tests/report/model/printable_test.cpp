// Printable components: geometry in the report's unit with its bounds, the parent rules, and
// the generation contract up to the draw command on the page.
#include "report/model/component.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/base/cache.h"
#include "tests/report/model/model_doubles.h"

namespace parvel::report {
namespace {

using doubles::BuildCard;
using doubles::CardLabelAt;

class ComponentTest : public ::testing::Test {
 protected:
  ComponentTest() { BuildCard(card); }
  TppLabel& Label(int index = 0) { return CardLabelAt(card, index); }
  TppBand& Detail() { return *card.GetBand(btDetail); }
  parvel::doubles::OneCardPrinter printers;  // before the report, which points into its list
  TppReport card;
};

TEST_F(ComponentTest, GeometryInMillimetresStoresBoundedThousandths) {
  struct Case {
    const char* what;
    void (TppPrintable::*set)(float);
    int32_t (TppPrintable::*get)() const;
    float value;
    int32_t stored;
  } cases[] = {
      {"Left", &TppPrintable::SetLeft, &TppPrintable::mmLeft, 50, 50000},
      {"Left below 0", &TppPrintable::SetLeft, &TppPrintable::mmLeft, -3, 0},
      {"Left beyond the printable width", &TppPrintable::SetLeft, &TppPrintable::mmLeft, 90, 85700},
      {"Left in thousandths", &TppPrintable::SetLeft, &TppPrintable::mmLeft, 8.731f, 8731},
      {"Top below the band", &TppPrintable::SetTop, &TppPrintable::mmTop, 60, 60000},
      {"Top below 0", &TppPrintable::SetTop, &TppPrintable::mmTop, -3, 0},
      {"Height 0", &TppPrintable::SetHeight, &TppPrintable::mmHeight, 0, 0},
      {"Width below 0", &TppPrintable::SetWidth, &TppPrintable::mmWidth, -1, 0},
      {"Width", &TppPrintable::SetWidth, &TppPrintable::mmWidth, 11.906f, 11906},
  };
  for (const Case& c : cases) {
    TppLabel& label = Label();
    (label.*c.set)(c.value);
    EXPECT_EQ((label.*c.get)(), c.stored) << c.what;
  }
  EXPECT_FLOAT_EQ(Label().Width(), 11.906f);
}

TEST_F(ComponentTest, ScreenPixelGeometryIsInWholePixels) {
  TppLabel& label = Label();
  label.SetmmLeft(1000);  // 3.78 pixels at a 96 dpi screen
  label.SetmmTop(2000);   // 7.56 pixels
  EXPECT_EQ(label.spLeft(), 4);
  EXPECT_EQ(label.spTop(), 8);
  label.SetspLeft(96);
  EXPECT_EQ(label.mmLeft(), 25400);
  label.SetspHeight(17);
  EXPECT_EQ(label.mmHeight(), 4498);
}

TEST_F(ComponentTest, ParentSizeAndMovementFlags) {
  TppLabel& label = Label();
  label.SetParentWidth(true);
  EXPECT_EQ(label.mmLeft(), 0);
  EXPECT_EQ(label.mmWidth(), 85700);
  label.SetLeft(10);
  label.SetWidth(10);
  EXPECT_EQ(label.mmLeft(), 0);
  EXPECT_EQ(label.mmWidth(), 85700);

  TppLabel& tall = Label(1);
  tall.SetParentHeight(true);
  EXPECT_EQ(tall.mmTop(), 0);
  EXPECT_EQ(tall.mmHeight(), 52388);
  Detail().SetmmHeight(40000);
  EXPECT_EQ(tall.mmHeight(), 40000);

  label.SetShiftWithParent(true);
  label.SetStretchWithParent(true);
  EXPECT_FALSE(label.ShiftWithParent());
  EXPECT_TRUE(label.StretchWithParent());
  label.SetShiftWithParent(true);
  EXPECT_TRUE(label.ShiftWithParent());
  EXPECT_FALSE(label.StretchWithParent());
}

TEST_F(ComponentTest, BandRules) {
  TppLabel& label = Label(2);
  EXPECT_EQ(label.Band(), &Detail());
  EXPECT_EQ(label.Index(), 2);
  EXPECT_EQ(label.NextSibling(), &Label(3));
  EXPECT_EQ(Label(7).NextSibling(), nullptr);
  // Moved to the footer, it takes the footer's type code and leaves the detail band.
  label.SetBand(card.GetBand(btFooter));
  EXPECT_EQ(label.BandType(), btFooter);
  EXPECT_EQ(Detail().ObjectCount(), 7);
  EXPECT_EQ(label.Units(), utMillimeters);
  Detail().BringToFront(&Label(0));
  EXPECT_EQ(Detail().Objects(6)->UserName(), "Label1");
  Detail().SendToBack(Detail().Objects(6));
  EXPECT_EQ(Detail().Objects(0)->UserName(), "Label1");
  Detail().MoveObject(0, 99);
  EXPECT_EQ(Detail().Objects(6)->UserName(), "Label1");

  // A band outside any report has no printable width; its objects are not pushed to 0.
  TppDetailBand loose;
  TppLabel& free_label = loose.AddObject(std::make_unique<TppLabel>());
  free_label.SetUnits(utMillimeters);
  free_label.SetLeft(90);
  EXPECT_EQ(free_label.mmLeft(), 90000);
  // Freeing a component takes it out of its band.
  delete &Label(0);
  EXPECT_EQ(Detail().ObjectCount(), 6);
}

// A band placed at `top` on the page, ready for its components to generate.
void PlaceBand(TppBand& band, int32_t top, int32_t page_bottom) {
  TppBandGeneration& g = band.Generation();
  g.print_rect = {0, top, 85700, top + band.mmHeight()};
  g.current_position = top;
  g.page_bottom = page_bottom;
}

TEST_F(ComponentTest, GenerateComputesThePrintRectangle) {
  PlaceBand(Detail(), 1000, 54000);
  TppLabel& label = Label(0);
  label.ResetGeneration();
  label.Generate();
  EXPECT_TRUE(label.GenerationComplete());
  EXPECT_EQ(label.PrintRect(), (TppPrintRect{8731, 2852, 8731 + 11906, 2852 + 4498}));
  EXPECT_EQ(label.SpaceUsed(), 4498);
  label.EndGeneration();
  EXPECT_FALSE(label.DrawComponent());

  // Static band: a label below the page bottom is still laid out.
  PlaceBand(Detail(), 50000, 54000);
  TppLabel& low = Label(7);
  low.SetDrawComponent(true);
  low.ResetGeneration();
  low.Generate();
  EXPECT_FALSE(low.OutOfSpace());
  EXPECT_TRUE(low.GenerationComplete());
  // A dynamic band reports it out of space and leaves it to the band engine.
  Detail().SetPrintHeight(phDynamic);
  low.ResetGeneration();
  low.Generate();
  EXPECT_TRUE(low.OutOfSpace());
  EXPECT_FALSE(low.GenerationComplete());
}

TEST_F(ComponentTest, ShiftingAndStretchingFollowTheContentAbove) {
  PlaceBand(Detail(), 0, 54000);
  TppBandGeneration& g = Detail().Generation();
  g.space_used = Detail().mmHeight() + 3000;  // the band grew by 3 mm
  TppLabel& shifted = Label(1);
  shifted.SetShiftWithParent(true);
  shifted.ResetGeneration();
  shifted.Generate();
  EXPECT_EQ(shifted.PrintRect().top, 7144 + 3000);

  TppLabel& stretched = Label(2);
  stretched.SetStretchWithParent(true);
  g.space_used = 0;
  g.current_position = 30000;
  stretched.ResetGeneration();
  stretched.Generate();
  EXPECT_EQ(stretched.PrintRect().bottom, 30000);
}

TEST_F(ComponentTest, OnPrintCanMakeAnInvisibleComponentDraw) {
  TppPage page;
  page.SetPrinterSetup(&card.PrinterSetup());
  PlaceBand(Detail(), 0, 54000);
  struct Case {
    const char* what;
    bool shown_by_handler;
    int commands;
  } cases[] = {{"stays invisible", false, 0}, {"made visible by OnPrint", true, 1}};
  for (const Case& c : cases) {
    page.Clear();
    TppLabel& label = Label(0);
    label.SetVisible(false);
    label.SetDrawComponent(false);
    label.OnPrint = [&](TComponent&) { label.SetVisible(c.shown_by_handler); };
    label.ResetGeneration();
    label.Generate();
    label.AddToPage(page);
    EXPECT_EQ(page.DrawCommandCount(), c.commands) << c.what;
  }
}

TEST_F(ComponentTest, DrawCommandIsFilledBeforeItsHandlerAndJoinsThePageAfter) {
  TppPage page;
  page.SetPrinterSetup(&card.PrinterSetup());
  PlaceBand(Detail(), 0, 54000);
  TppLabel& label = Label(3);
  label.SetText("Printed");
  std::vector<int> events;
  TppCommunicator listener;
  listener.SetEventMask({kDrawCommandCreateEvent, kComponentPrintEvent});
  listener.OnEventReceived = [&](TppCommunicator*, TppCommunicator*, int id, TraParamList*) {
    events.push_back(id);
  };
  label.AddEventListener(&listener);
  bool seen = false;
  label.OnDrawCommandCreate = [&](TComponent& sender, TppDrawCommand& command) {
    if (seen) return;
    seen = true;
    EXPECT_EQ(&sender, &label);
    EXPECT_EQ(command.Page(), nullptr);
    EXPECT_EQ(command.Left(), 8731);
    EXPECT_EQ(command.Top(), 18256);
    EXPECT_EQ(command.Width(), 11906);
    EXPECT_EQ(command.Height(), 4498);
    EXPECT_EQ(events, std::vector<int>{kComponentPrintEvent});
  };
  label.SetDrawComponent(true);
  label.ResetGeneration();
  label.Generate();
  label.AddToPage(page);
  EXPECT_TRUE(seen);
  ASSERT_EQ(page.DrawCommandCount(), 1);
  auto* text = dynamic_cast<TppDrawText*>(page.DrawCommands(0));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->Text(), "Printed");
  EXPECT_EQ(text->TextAlignment(), taRightJustified);
  EXPECT_EQ(text->Alignment(), taRightJustify);
  EXPECT_TRUE(text->AutoSize());
  EXPECT_TRUE(text->Transparent());
  EXPECT_FALSE(text->WordWrap());
  EXPECT_EQ(text->Font(), TppFont("Arial Black", 9));
  EXPECT_EQ(text->ClipRect(), (TppClipRect{0, 0, 85700, 54000}));
  EXPECT_EQ(text->SourceBand(), &Detail());
  EXPECT_EQ(text->SourceComponent(), &label);
  EXPECT_FALSE(text->Clickable());
  EXPECT_EQ(events, (std::vector<int>{kComponentPrintEvent, kDrawCommandCreateEvent}));
  label.RemoveEventListener(&listener);

  // A clickable command reaches the component's click handler.
  int clicks = 0;
  label.OnDrawCommandClick = [&](TComponent&, TppDrawCommand&) { ++clicks; };
  label.CreateDrawCommand(page);
  TppDrawCommand* clickable = page.DrawCommands(1);
  EXPECT_TRUE(clickable->Clickable());
  clickable->OnDrawCommandClick(*clickable);
  EXPECT_EQ(clicks, 1);
}

TEST_F(ComponentTest, DrawComponentIsKeptPerPage) {
  TppCacheManager manager;
  TppLabel& label = Label(0);
  manager.RegisterCacheable(&label);
  label.SetDrawComponent(false);
  manager.SaveToCache(1);
  label.SetDrawComponent(true);
  manager.SaveToCache(2);
  manager.RestoreFromCache(1);
  EXPECT_FALSE(label.DrawComponent());
  manager.RestoreFromCache(2);
  EXPECT_TRUE(label.DrawComponent());
  manager.UnregisterCacheable(&label);
}

}  // namespace
}  // namespace parvel::report
