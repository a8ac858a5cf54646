#include "report/engine/band_engine.h"

#include <algorithm>
#include <string>

#include "report/base/errors.h"
#include "report/base/language.h"
#include "report/engine/engine.h"
#include "report/model/report.h"

namespace parvel::report {

TppBandEngine::TppBandEngine(TppEngine& engine, TppBand& band) : engine_(engine), band_(&band) {
  SetCacheRecordSize(sizeof(Record));
  band.AddEventListener(this);
}

TppBandEngine::~TppBandEngine() {
  if (band_ != nullptr) band_->RemoveEventListener(this);
}

void TppBandEngine::LinkNotify(TppCommunicator* sender, TppOperationType operation) {
  TppCacheable::LinkNotify(sender, operation);
  if (operation == ppopRemove && sender == band_) {
    band_ = nullptr;
    lists_.clear();
    queue_.clear();
  }
}

void TppBandEngine::InitGeneration() {
  if (band_ == nullptr) return;
  resume_list_ = 0;
  resume_object_ = 0;
  over_flow_ = false;
  partial_generation_ = false;
  partial_adjustment_ = band_->mmHeight();
  position_break_ = false;
  page_break_done_ = false;
  bands_per_record_count_ = 1;
  count_ = 0;
  lists_.assign(4, {});
  for (int i = 0; i < band_->ObjectCount(); ++i) {
    TppComponent* component = band_->Objects(i);
    if (component == nullptr) continue;
    component->InitGeneration();
    // No component of this program stretches: each goes by its parent flags.
    size_t list = 0;
    if (component->StretchWithParent()) {
      list = 2;
    } else if (component->ShiftWithParent()) {
      list = 3;
    }
    lists_[list].push_back(component);
  }
}

void TppBandEngine::StartPage(bool drawn) {
  draw_ = drawn;
  if (band_ != nullptr && band_->BandType() == btDetail) count_ = 0;
}

bool TppBandEngine::EffectiveVisible() const {
  if (band_ == nullptr) return false;
  if (const auto* style = dynamic_cast<const TppPageStyle*>(band_)) {
    return PageStyleShows(*style, engine_.AbsolutePageNo(), engine_.FirstPassComplete(),
                          engine_.AbsolutePageCount());
  }
  return band_->Visible();
}

bool TppBandEngine::Done() const {
  if (band_ == nullptr || generation_complete_ || engine_.StopRequest() || out_of_space_) return true;
  const TppPrintTimes times = PrintTimes(*band_);
  if (times == ptOnce && count_ == 1) return true;
  if (times == ptCounted && count_ == static_cast<const TppDetailBand*>(band_)->PrintCount()) return true;
  return (KindBit(*band_) & engine_.PrintCondition()) == 0;
}

void TppBandEngine::Generate() {
  generating_ = true;
  generation_complete_ = false;
  out_of_space_ = false;
  used_space_ = false;
  count_ = 0;
  BeforeLoop();
  space_used_ = 0;
  while (!Done()) {
    all_objects_printed_ = true;
    queue_.clear();
    space_used_ = 0;
    if (!Continuing()) {
      for (const auto& list : lists_) {
        for (TppComponent* component : list) component->SetDrawComponent(true);
      }
    }
    BeforePrintStage();
    if (band_ == nullptr) break;
    visible_ = EffectiveVisible();
    FitStep();
    if (visible_) {
      if (!out_of_space_) {
        engine_.CountBand(Continuing());
        ++count_;
        if (band_->BandType() == btDetail) engine_.SynchronizeData();
        band_->DoBeforeGenerate();
        GenerateComponents();
        AfterComponents();
        if (band_->BandType() == btDetail) {
          if (!Continuing() && engine_.AllDataTraversed()) generation_complete_ = true;
          engine_.SetDetailPrintedOnPage();
          engine_.SetPageHasContent(true);
        }
        band_->DoAfterGenerate();
        Advance();
      }
      OutputQueue();
    }
    if (!visible_) generation_complete_ = true;
    AfterIteration();
    engine_.Report().PumpMessages();
  }
  EndOfLoop();
  generating_ = false;
}

void TppBandEngine::BeforeLoop() {
  if (band_ == nullptr) return;
  // Data stopped before this call (at a page's end, or from a page's start) leaves the detail
  // band nothing to print but the rest of a record it already began.
  if (band_->BandType() == btDetail && engine_.AllDataTraversed() && !Continuing()) {
    generation_complete_ = true;
    return;
  }
  if (const auto* page_band = dynamic_cast<const TppPageBand*>(band_)) {
    const bool last_known = engine_.SecondPass()
                                ? engine_.AbsolutePageNo() == engine_.AbsolutePageCount()
                                : engine_.LastBandGenerated() || (engine_.State() & kStateSummaryPage) != 0;
    if ((engine_.AbsolutePageNo() == 1 && !page_band->PrintOnFirstPage()) ||
        (!page_band->PrintOnLastPage() && last_known)) {
      generation_complete_ = true;
    }
  }
  if (band_->BandType() == btTitle) {
    if (page_break_done_) {
      // The title stood alone on the page before: it is done.
      generation_complete_ = true;
      engine_.SetState(kStateTitlePage, false);
    } else {
      engine_.SetState(kStateTitlePage, true);
    }
  }
  if (band_->BandType() == btSummary) {
    const auto* summary = static_cast<const TppReportBand*>(band_);
    if (summary->NewPage() && !page_break_done_) {
      page_break_done_ = true;
      out_of_space_ = true;
      return;
    }
    // With columns the summary starts at the left margin and spans the page: top to bottom it
    // waits for the next page unless the first column stands there.
    const TppCustomReport& report = engine_.Report();
    if (report.Columns() > 1) {
      const TppPageDef& def = report.PrinterSetup().PageDef();
      TppPrintRect& rect = engine_.PrintPositionRect();
      if (engine_.Columnar() && rect.left != def.mmMarginLeft()) {
        out_of_space_ = true;
        return;
      }
      rect.left = def.mmMarginLeft();
      rect.right = def.mmMarginLeft() + def.mmPrintableWidth();
    }
    engine_.SetState(kStateSummaryPage, true);
  }
}

void TppBandEngine::BeforePrintStage() {
  const TppBandType type = band_->BandType();
  auto reset_components = [this] {
    for (const auto& list : lists_) {
      for (TppComponent* component : list) component->ResetGeneration();
    }
  };
  if (type == btDetail) {
    band_->DoBeforePrint();
    if (band_ != nullptr && !band_->Visible()) engine_.SynchronizeData();
    reset_components();
    return;
  }
  if (type == btHeader || type == btTitle || type == btColumnHeader || type == btPageStyle) {
    engine_.SynchronizeData();
  }
  reset_components();
  band_->DoBeforePrint();
}

void TppBandEngine::FitStep() {
  const TppPageDef& def = engine_.Report().PrinterSetup().PageDef();
  TppPrintRect& engine_rect = engine_.PrintPositionRect();
  const TppBandType type = band_->BandType();
  const int32_t height = band_->mmHeight();
  if (type == btFooter || type == btColumnFooter) {
    // Footers stand at the foot of the printable area; the engine's page bottom left them room.
    page_bottom_ =
        type == btFooter ? def.mmHeight() - def.mmMarginBottom() : engine_.GetPageBottom() + height;
    print_rect_ = {engine_rect.left, page_bottom_ - height, engine_rect.right, page_bottom_};
    starting_position_ = print_rect_.top;
  } else if (type == btPageStyle) {
    page_bottom_ = def.mmHeight() - def.mmMarginBottom();
    saved_top_ = engine_rect.top;
    starting_position_ = def.mmMarginTop();
    print_rect_ = {def.mmMarginLeft(), starting_position_, def.mmMarginLeft() + def.mmPrintableWidth(),
                   band_->PrintHeight() == phDynamic ? page_bottom_ : starting_position_ + height};
  } else {
    page_bottom_ = engine_.GetPageBottom() - band_->mmBottomOffset();
    TppFitInput input;
    input.starting_position = engine_rect.top;
    input.page_bottom = page_bottom_;
    input.height = height;
    input.dynamic = band_->PrintHeight() == phDynamic;
    const bool position_applies = type != btDetail || !engine_.DetailPrintedOnPage();
    input.print_position = position_applies ? band_->mmPrintPosition() : 0;
    input.position_break = position_break_;
    if (!visible_) input.print_position = 0;
    const TppFitResult fit = FitBand(input);
    position_break_ = fit.position_break;
    if (fit.outcome == TppFitOutcome::PositionBelowPage) {
      std::string text = LoadLanguageString(415);
      if (text.empty())
        text = "A posição de impressão da banda " + band_->UserName() + " fica fora da página";
      engine_.Fail(text + ".");
    }
    if (fit.outcome == TppFitOutcome::OutOfSpace) {
      if (!visible_) return;
      out_of_space_ = true;
      // On a page where nothing but headers stands the band will never fit: a page of its own
      // would look the same.
      if (!position_break_ && !Continuing() && !engine_.PageHasContent() && !engine_.DetailPrintedOnPage()) {
        DoesNotFit();
      }
      return;
    }
    starting_position_ = fit.top;
    print_rect_ = {engine_rect.left, fit.top, engine_rect.right, fit.bottom};
  }
  current_position_ = starting_position_;
  current_partial_adjustment_ = partial_adjustment_;
}

void TppBandEngine::DoesNotFit() const {
  engine_.Fail("A banda " + band_->UserName() + " não cabe em uma página vazia");
}

void TppBandEngine::Publish() {
  TppBandGeneration& g = band_->Generation();
  g.print_rect = print_rect_;
  g.current_position = current_position_;
  g.page_bottom = page_bottom_;
  g.partial_generation = partial_generation_;
  g.partial_adjustment = current_partial_adjustment_;
  g.space_used = space_used_;
  g.over_flow = over_flow_;
  g.max_stretchable = nullptr;
}

void TppBandEngine::GenerateComponents() {
  const bool dynamic = band_->PrintHeight() == phDynamic;
  bool object_saved = false;
  bool list_saved = false;
  current_partial_adjustment_ = partial_adjustment_;
  const bool entered_partial = partial_generation_;
  for (size_t l = static_cast<size_t>(resume_list_); l < lists_.size(); ++l) {
    const std::vector<TppComponent*>& list = lists_[l];
    const size_t from = static_cast<int32_t>(l) == resume_list_ ? static_cast<size_t>(resume_object_) : 0;
    int32_t cumulative = current_position_;
    for (size_t k = from; k < list.size() && !generation_complete_; ++k) {
      TppComponent* component = list[k];
      Publish();
      component->Generate();
      if (component->SpaceUsed() > 0) queue_.emplace(band_->IndexOfObject(component), component);
      if (!component->GenerationComplete()) {
        if (!object_saved) {
          object_saved = true;
          resume_object_ = static_cast<int32_t>(k);
          all_objects_printed_ = false;
        }
        if (current_partial_adjustment_ == 0) current_partial_adjustment_ = band_->mmHeight();
        current_partial_adjustment_ = std::min(current_partial_adjustment_, component->mmTop());
      }
      if (dynamic && component->SpaceUsed() > 0) {
        cumulative = std::max(cumulative, component->PrintRect().top + component->SpaceUsed());
      }
      engine_.Report().PumpMessages();
    }
    if (cumulative != current_position_) {
      current_position_ = cumulative;
      space_used_ = current_position_ - print_rect_.top;
    }
    if (entered_partial && object_saved && !list_saved && static_cast<size_t>(resume_object_) < list.size()) {
      current_partial_adjustment_ = list[static_cast<size_t>(resume_object_)]->mmTop();
    }
    if (!all_objects_printed_ && !list_saved) {
      list_saved = true;
      resume_list_ = static_cast<int32_t>(l);
    }
  }
  over_flow_ = false;  // no component of this program stretches
  partial_generation_ = !all_objects_printed_;
  partial_adjustment_ = current_partial_adjustment_;
  if (partial_generation_ && queue_.empty()) partial_adjustment_ = 0;
  if (!partial_generation_) partial_adjustment_ = band_->mmHeight();
  if (all_objects_printed_) {
    resume_list_ = 0;
    resume_object_ = 0;
  }
  if (partial_generation_) {
    out_of_space_ = true;
    // Nothing of the band reached a page that holds nothing else: the next page is no better.
    if (queue_.empty() && !engine_.PageHasContent() && !engine_.DetailPrintedOnPage()) DoesNotFit();
  }
}

void TppBandEngine::Advance() {
  const int32_t used =
      (band_->PrintHeight() == phStatic ? band_->mmHeight() : space_used_) + band_->mmBottomOffset();
  space_used_ = used;
  if (used > 0) used_space_ = true;
  TppPrintRect& rect = engine_.PrintPositionRect();
  if (band_->BandType() == btPageStyle) return;  // the bands that follow print over it
  rect.top = print_rect_.top + used;
  rect.bottom = rect.top;
  rect.left = print_rect_.left;
  rect.right = print_rect_.right;
}

void TppBandEngine::OutputQueue() {
  if (!draw_) return;
  for (const auto& [order, component] : queue_) {
    component->AddToPage(engine_.Page());
    engine_.Report().PumpMessages();
  }
}

void TppBandEngine::AfterIteration() {
  for (const auto& list : lists_) {
    for (TppComponent* component : list) component->EndGeneration();
  }
  if (band_ == nullptr) return;
  if (!(out_of_space_ && !over_flow_)) band_->DoAfterPrint();
  if (band_ == nullptr || band_->BandType() != btDetail) return;
  auto* detail = static_cast<TppDetailBand*>(band_);
  if (!over_flow_ && !out_of_space_) {
    if (bands_per_record_count_ < detail->BandsPerRecord()) {
      ++bands_per_record_count_;
    } else {
      engine_.RecordPrinted();
      bands_per_record_count_ = 1;
    }
    if (engine_.AllDataTraversed() || (engine_.PrintCondition() & kGroupFooterBit) != 0)
      generation_complete_ = true;
  }
  // Without a pipeline, AutoStop or a page limit only the application's own Stop or a cancel ends
  // the detail band. A run that has printed it kRunawayPrints times without either would never
  // end: it becomes a print error (and no job is sent) instead of a page loop that spins for ever.
  const TppCustomReport* report = detail->Report();
  if (!over_flow_ && !out_of_space_ && report != nullptr && !report->AutoStop() &&
      report->DataPipeline() == nullptr && report->PageLimit() == 0 && !engine_.AllDataTraversed() &&
      ++prints_without_end_ >= kRunawayPrints) {
    engine_.Fail("O relatório não tem dados, AutoStop nem PageLimit: a banda " + band_->UserName() +
                 " foi impressa " + std::to_string(kRunawayPrints) + " vezes sem que Stop fosse chamado");
  }
  // AutoStop: the band has printed (or, invisible, passed) once for this call.
  if (!over_flow_ && !out_of_space_ && report != nullptr && report->AutoStop() && count_ <= 1 &&
      !engine_.AllDataTraversed()) {
    generation_complete_ = true;
    engine_.Stop();
  } else if (!generation_complete_ && PrintTimes(*detail) == ptCounted && count_ == detail->PrintCount()) {
    out_of_space_ = true;
  }
}

void TppBandEngine::EndOfLoop() {
  if (band_ == nullptr) return;
  if (band_->BandType() == btTitle) {
    const auto* title = static_cast<const TppReportBand*>(band_);
    if (title->NewPage() && !page_break_done_ && count_ >= 1 && !out_of_space_) {
      page_break_done_ = true;
      out_of_space_ = true;  // the title keeps its page to itself
    } else if (!out_of_space_) {
      engine_.SetState(kStateTitlePage, false);
    }
  }
}

void TppBandEngine::SaveToCache(int32_t page) {
  const Record record{resume_object_,
                      resume_list_,
                      partial_adjustment_,
                      bands_per_record_count_,
                      static_cast<uint8_t>(over_flow_),
                      static_cast<uint8_t>(partial_generation_),
                      static_cast<uint8_t>(position_break_),
                      static_cast<uint8_t>(page_break_done_)};
  WriteCacheRecord(page, &record);
}

void TppBandEngine::RestoreFromCache(int32_t page) {
  Record record{};
  if (!ReadCacheRecord(page, &record)) return;
  resume_object_ = record.resume_object;
  resume_list_ = record.resume_list;
  partial_adjustment_ = record.partial_adjustment;
  bands_per_record_count_ = record.bands_per_record_count;
  over_flow_ = record.over_flow != 0;
  partial_generation_ = record.partial_generation != 0;
  position_break_ = record.position_break != 0;
  page_break_done_ = record.page_break_done != 0;
}

// ---- left to right

void TppHorizontalBandEngine::BeforeLoop() {
  TppBandEngine::BeforeLoop();
  starting_left_ = engine_.PrintPositionRect().left;
  placed_ = false;
}

void TppHorizontalBandEngine::BeforePrintStage() {
  TppBandEngine::BeforePrintStage();
  header_space_ = 0;
  header_out_of_space_ = false;
  // An invisible band takes no column.
  if (band_ == nullptr || !band_->Visible()) return;
  const int32_t columns = engine_.Report().Columns();
  TppPrintRect& rect = engine_.PrintPositionRect();
  int32_t column = 0;
  if (engine_.DetailPrintedOnPage()) {
    column = engine_.CurrentColumn() + 1;
    if (column >= columns) {
      // A new row, below the bands of the row before.
      column = 0;
      rect.top = print_rect_.top + band_->mmHeight() + band_->mmBottomOffset();
      rect.bottom = rect.top;
    }
  }
  column_left_ = engine_.ColumnLeftOf(column);
  if (!engine_.ColumnFitsAt(column_left_)) {
    // A column that does not fit across the paper ends the row early.
    if (column == 0) engine_.ColumnDoesNotFit(column_left_);
    column = 0;
    rect.top = print_rect_.top + band_->mmHeight() + band_->mmBottomOffset();
    rect.bottom = rect.top;
    column_left_ = engine_.ColumnLeftOf(0);
  }
  engine_.SetCurrentColumn(column);
  if (!engine_.ColumnStarted(column)) {
    const TppEngine::TppColumnBands header = engine_.GenerateColumnBands(blColumnHeader, column);
    header_space_ = header.space_used;
    header_out_of_space_ = header.out_of_space;
  }
}

void TppHorizontalBandEngine::FitStep() {
  const TppPrintRect& rect = engine_.PrintPositionRect();
  const int32_t height = band_->mmHeight();
  page_bottom_ = engine_.GetPageBottom() - band_->mmBottomOffset();
  if (!visible_) return;
  const int32_t start = rect.top + header_space_;
  if (header_out_of_space_ || static_cast<int64_t>(start) + height > page_bottom_) {
    out_of_space_ = true;
    if (!Continuing() && !engine_.PageHasContent() && !engine_.DetailPrintedOnPage()) DoesNotFit();
    return;
  }
  starting_position_ = start;
  print_rect_ = {column_left_, start, rect.right, start + height};
  current_position_ = start;
  current_partial_adjustment_ = PartialAdjustment();
  placed_ = true;
}

void TppHorizontalBandEngine::AfterComponents() {
  const int32_t column = engine_.CurrentColumn();
  engine_.SetColumnStarted(column, true);
  const int64_t next_row_bottom =
      static_cast<int64_t>(print_rect_.bottom) + band_->mmBottomOffset() + band_->mmHeight();
  if (page_bottom_ < next_row_bottom) FinishColumn(column);
}

void TppHorizontalBandEngine::Advance() {
  // The row's height counts once, in its first column; the print position moves with a new row.
  space_used_ = engine_.CurrentColumn() == 0 ? band_->mmHeight() + band_->mmBottomOffset() : 0;
  if (space_used_ > 0) used_space_ = true;
  TppPrintRect& rect = engine_.PrintPositionRect();
  rect.bottom = std::max(rect.bottom, print_rect_.top + space_used_);
}

void TppHorizontalBandEngine::EndOfLoop() {
  TppBandEngine::EndOfLoop();
  TppPrintRect& rect = engine_.PrintPositionRect();
  rect.left = starting_left_;
  if (placed_) {
    rect.top = print_rect_.bottom;
    rect.bottom = print_rect_.bottom;
  }
}

void TppHorizontalBandEngine::EndPage() {
  // Columns that never started on the page have no footer: nothing stands above it.
  const int32_t columns = engine_.Report().Columns();
  for (int32_t column = 0; column < columns && !engine_.StopRequest(); ++column) {
    if (engine_.ColumnStarted(column) && !engine_.ColumnFinished(column)) FinishColumn(column);
  }
}

void TppHorizontalBandEngine::FinishColumn(int32_t column) {
  engine_.GenerateColumnBands(blColumnFooter, column);
  engine_.SetColumnFinished(column, true);
}

}  // namespace parvel::report
