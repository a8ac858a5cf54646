#pragma once
// The band generation loop: decide whether a band may print now, place it, let its components
// generate in list order, queue their output by ZOrder, move the print position on, and repeat
// as often as the band's kind allows. Every band of a run has one band engine; the detail
// band's adds the record-by-record rules.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "report/base/cache.h"
#include "report/engine/band_kinds.h"
#include "report/model/band.h"

namespace parvel::report {

class TppEngine;

class TppBandEngine : public TppCacheable {
 public:
  TppBandEngine(TppEngine& engine, TppBand& band);
  ~TppBandEngine() override;
  std::string ClassName() const override { return "TppBandEngine"; }
  void LinkNotify(TppCommunicator* sender, TppOperationType operation) override;

  // Prepares for a new generation run: component lists rebuilt, nothing pending.
  void InitGeneration();
  // Runs the loop until the band is done for this call, does not fit, or printing stops.
  void Generate();
  void StartPage(bool drawn);
  // The page closes, before its footer.
  virtual void EndPage() {}

  TppBand* Band() const { return band_; }
  bool Generating() const { return generating_; }
  bool GenerationComplete() const { return generation_complete_; }
  bool OutOfSpace() const { return out_of_space_; }
  bool OverFlow() const { return over_flow_; }
  bool PartialGeneration() const { return partial_generation_; }
  int32_t PartialAdjustment() const { return partial_adjustment_; }
  int32_t Count() const { return count_; }
  void SetCount(int32_t value) { count_ = value; }
  int32_t SpaceUsed() const { return space_used_; }
  int32_t PageBottom() const { return page_bottom_; }
  const TppPrintRect& PrintRect() const { return print_rect_; }
  int32_t BandsPerRecordCount() const { return bands_per_record_count_; }
  // How many prints of the detail band a run without pipeline, AutoStop and page limit may make
  // before it is taken as one that would never end.
  static constexpr int64_t kRunawayPrints = 10000;
  bool Continuing() const { return over_flow_ || partial_generation_; }
  // Whether the band's last loop printed anything that took space on the page.
  bool UsedSpace() const { return used_space_; }

  void SaveToCache(int32_t page) override;
  void RestoreFromCache(int32_t page) override;

 protected:
  // The steps a band engine for another layout replaces.
  virtual void BeforeLoop();
  virtual void BeforePrintStage();
  virtual void FitStep();
  // After the components generated, before the detail band's own steps.
  virtual void AfterComponents() {}
  virtual void Advance();
  virtual void EndOfLoop();
  [[noreturn]] void DoesNotFit() const;

  TppEngine& engine_;
  TppBand* band_;  // linked: cleared when the band goes
  bool generation_complete_ = false;
  bool out_of_space_ = false;
  bool visible_ = true;
  bool used_space_ = false;
  int32_t page_bottom_ = 0;
  int32_t starting_position_ = 0;
  int32_t current_position_ = 0;
  int32_t space_used_ = 0;
  int32_t current_partial_adjustment_ = 0;
  TppPrintRect print_rect_;

 private:
  struct Record {
    int32_t resume_object;
    int32_t resume_list;
    int32_t partial_adjustment;
    int32_t bands_per_record_count;
    uint8_t over_flow;
    uint8_t partial_generation;
    uint8_t position_break;
    uint8_t page_break_done;
  };

  bool Done() const;
  bool EffectiveVisible() const;
  void GenerateComponents();
  void OutputQueue();
  void AfterIteration();
  void Publish();

  std::vector<std::vector<TppComponent*>> lists_;  // "1" static .. "4" shifting
  std::multimap<int32_t, TppComponent*> queue_;    // by ZOrder

  bool generating_ = false;
  bool over_flow_ = false;
  bool partial_generation_ = false;
  int32_t partial_adjustment_ = 0;
  int32_t count_ = 0;
  bool all_objects_printed_ = true;
  bool position_break_ = false;
  bool page_break_done_ = false;
  bool draw_ = true;
  int32_t resume_list_ = 0;
  int32_t resume_object_ = 0;
  int32_t bands_per_record_count_ = 1;
  int64_t prints_without_end_ = 0;
  int32_t saved_top_ = 0;  // the page style puts the print position back
};

// The detail band of a left-to-right report: each record takes the next column of the current
// row, a new row starts below when the row is full, and every column has its own header and
// footer.
class TppHorizontalBandEngine : public TppBandEngine {
 public:
  using TppBandEngine::TppBandEngine;
  std::string ClassName() const override { return "TppHorizontalBandEngine"; }
  void EndPage() override;

 protected:
  void BeforeLoop() override;
  void BeforePrintStage() override;
  void FitStep() override;
  void AfterComponents() override;
  void Advance() override;
  void EndOfLoop() override;

 private:
  void FinishColumn(int32_t column);

  int32_t starting_left_ = 0;
  int32_t column_left_ = 0;
  int32_t header_space_ = 0;
  bool header_out_of_space_ = false;
  bool placed_ = false;  // a band of this call stands on the page
};

}  // namespace parvel::report
