#include "report/engine/engine.h"

#include <algorithm>
#include <chrono>

#include "platform/message_box.h"
#include "report/base/errors.h"
#include "report/base/language.h"
#include "report/output/draw_command.h"
#include "report/output/publisher.h"

namespace parvel::report {

namespace {

// Days since 1899-12-30 with the time as the fraction, the date-time of pages.
TDateTime Now() {
  const auto now = std::chrono::system_clock::now();
  const double seconds = std::chrono::duration<double>(now.time_since_epoch()).count();
  return 25569.0 + seconds / 86400.0;
}

}  // namespace

struct TppEngine::Record {
  uint8_t advance_record;
  uint8_t all_data_traversed;
  uint8_t calcs_out_of_sync;
  uint8_t traversed_master;
  int32_t current_list;
  int32_t list_position;
  int32_t report_band_count;
  uint16_t state;
  uint16_t print_condition;
  TppPipelineState master;
};

TppEngine::TppEngine(TppCustomReport& report) : report_(report), lists_(kBandListCount) {
  SetCacheRecordSize(sizeof(Record));
  PageEnded = [this] { return report_.EndPage(); };
}

TppEngine::~TppEngine() {
  stop_request_ = true;
  band_engines_.clear();
  ForgetPipeline(master_);
}

void TppEngine::LinkNotify(TppCommunicator* sender, TppOperationType operation) {
  TppCacheable::LinkNotify(sender, operation);
  if (operation == ppopRemove && sender != nullptr && sender == master_) ForgetPipeline(master_);
}

void TppEngine::EventNotify(TppCommunicator* sender, int eventId, TraParamList* params) {
  TppCacheable::EventNotify(sender, eventId, params);
  if (eventId == kPipelineCloseEvent && sender != nullptr && sender == master_) {
    FreeState(master_, restore_state_);
    FreeState(master_, checkpoint_state_);
  }
}

// ---- page values

int32_t TppEngine::GetPageBottom() const {
  const TppPageDef& def = report_.PrinterSetup().PageDef();
  int32_t bottom = def.mmHeight() - def.mmMarginBottom();
  for (int i = 0; i < report_.BandCount(); ++i) {
    const TppBand* band = report_.Bands(i);
    if ((band->BandType() == btFooter || band->BandType() == btColumnFooter) && band->Visible()) {
      bottom -= band->mmHeight();
    }
  }
  return bottom;
}

TppBandEngine* TppEngine::BandEngineOf(const TppBand* band) const {
  for (const auto& engine : band_engines_) {
    if (engine->Band() == band) return engine.get();
  }
  return nullptr;
}

void TppEngine::CountBand(bool continuing) {
  if (!continuing) ++report_band_count_;
  ++page_band_count_;
}

int32_t TppEngine::CheckpointedPage() const {
  // Without a checkpoint store every page can be reached by generating forwards.
  return LastCheckpointedPage ? LastCheckpointedPage() : INT32_MAX - 1;
}

TppPageState TppEngine::PageState() const {
  TppPageState state;
  state.page_no = absolute_page_no_;
  state.page_count = absolute_page_count_;
  state.first_pass_complete = first_pass_complete_;
  state.last_band_generated = last_band_generated_;
  state.page_drawn = page_drawn_;
  state.last_checkpointed = CheckpointedPage();
  return state;
}

[[noreturn]] void TppEngine::Fail(const std::string& message) {
  if (busy_) stop_request_ = true;
  throw EPrintError(message);
}

// ---- reset and requests

void TppEngine::Reset() {
  if (busy_) return;
  page_.Clear();
  absolute_page_no_ = 0;
  absolute_page_count_ = 0;
  state_ = 0;
  print_condition_ = 0;
  const bool started = main_report_started_;
  main_report_started_ = false;
  first_pass_complete_ = false;
  first_pass_ended_ = false;
  second_pass_started_ = false;
  stop_request_ = false;
  band_engines_.clear();
  for (auto& list : lists_) list.clear();
  last_band_ = nullptr;
  ForgetPipeline(master_);
  if (started) report_.SendGenerationEnd();
}

void TppEngine::GenerateRequest(TppPublisher& publisher, TppPageRequest& request) {
  if (busy_) return;
  busy_ = true;
  struct Idle {
    TppEngine& engine;
    ~Idle() { engine.busy_ = false; }
  } idle{*this};
  publisher_ = &publisher;
  cursor_.setting = request.PageSetting();
  cursor_.page_list = request.PageList();
  cursor_.page_requested = request.PageRequested();
  cursor_.list_position = 0;

  TppDataPipeline* before = report_.DataPipeline();
  restore_state_ = SaveState(before);
  if (report_.PassSetting() == psTwoPass && (!first_pass_complete_ || Initial())) {
    const TppPageSettingType requested = cursor_.setting;
    cursor_.setting = psAll;
    GeneratePages();
    cursor_.setting = requested;
    cursor_.list_position = 0;
    if (!stop_request_) GeneratePages();
  } else {
    GeneratePages();
  }
  if (before != nullptr && before == report_.DataPipeline()) RestoreState(before, restore_state_, true);
}

void TppEngine::GeneratePages() {
  done_printing_ = false;
  stop_request_ = false;
  last_band_generated_ = false;
  StartGeneration();
  report_.SendEvent(&report_, kEngineGenerationStartEvent);
  if (done_printing_) return;
  const TppNextPage first = FirstPage(cursor_, PageState());
  done_printing_ = first.done;
  absolute_page_no_ = first.page_no;
  while (!done_printing_ && !stop_request_) {
    page_space_used_ = 0;
    SetPassState();
    GeneratePage();
    TestPassEnd();
    if (!done_printing_ && !stop_request_) {
      const TppNextPage next = NextPage(cursor_, PageState());
      done_printing_ = next.done;
      if (!next.done) absolute_page_no_ = next.page_no;
    }
    report_.PumpMessages();
  }
}

void TppEngine::StartGeneration() {
  if (!Initial()) {
    if (!HasData()) NoDataStart();
    return;
  }
  if (!main_report_started_) report_.SendGenerationStart();
  OpenPipelines();
  if (stop_request_ && master_ != nullptr) master_->SetPositionFlags(ppdaNoRecords);
  if (!main_report_started_) {
    report_.StartOfReport();
    main_report_started_ = true;
  }
  report_.StartOfGeneration();
  print_condition_ = 0;
  state_ = HasData() ? 0 : kStateNoData;
  if (ClearCheckpoints) ClearCheckpoints();
  for (TppBookmark bookmark : checkpoint_bookmarks_) {
    if (master_ != nullptr) master_->FreeBookmark(bookmark);
  }
  checkpoint_bookmarks_.clear();
  checkpoint_state_ = {};
  checkpoint_state_saved_ = false;
  checkpoint_state_read_ = false;
  stopped_at_page_end_ = 0;
  advance_record_ = false;
  all_data_traversed_ = false;
  first_pass_complete_ = false;
  first_pass_started_ = false;
  first_pass_ended_ = false;
  second_pass_started_ = false;
  second_pass_ended_ = false;
  page_space_used_ = 0;
  if (!HasData()) NoDataStart();
  calcs_out_of_sync_ = true;
  page_has_content_ = false;
  if (report_.BandCount() == 0 || report_.GetBand(btDetail) == nullptr) report_.CreateDefaultBands();
  BuildLists();
  if (RegisterCacheable) {
    RegisterCacheable(*this);
    for (auto& band_engine : band_engines_) RegisterCacheable(*band_engine);
    for (int b = 0; b < report_.BandCount(); ++b) {
      TppBand* band = report_.Bands(b);
      for (int i = 0; i < band->ObjectCount(); ++i) RegisterCacheable(*band->Objects(i));
    }
  }
  for (auto& band_engine : band_engines_) band_engine->InitGeneration();
  print_condition_ |= kGroupHeaderBit;
  print_date_time_ = Now();
  state_ |= kStateInitialised | kStateFirstPass;
  report_band_count_ = 0;
  page_band_count_ = 0;
  absolute_page_no_ = 0;
  absolute_page_count_ = 0;
  const auto* detail = dynamic_cast<const TppDetailBand*>(report_.GetBand(btDetail));
  const bool left_to_right = detail != nullptr && detail->ColumnTraversal() == ctLeftToRight;
  columnar_ = report_.Columns() >= 2 && detail != nullptr && !left_to_right;
  current_column_ = 0;
  column_started_.assign(left_to_right ? static_cast<size_t>(report_.Columns()) : 0, 0);
  column_finished_.assign(column_started_.size(), 0);
  print_condition_ |= kTitleBit;
  current_list_ = blTitle;
  list_position_ = 0;
  TakeCheckpoint();
  SetPassState();
}

void TppEngine::BuildLists() {
  band_engines_.clear();
  for (auto& list : lists_) list.clear();
  std::vector<TppBand*> bands;
  for (int i = 0; i < report_.BandCount(); ++i) bands.push_back(report_.Bands(i));
  std::stable_sort(bands.begin(), bands.end(),
                   [](const TppBand* a, const TppBand* b) { return SortKey(*a, true) < SortKey(*b, true); });
  for (TppBand* band : bands) {
    const int list = BandListOf(*band);
    if (list < 0) continue;
    lists_[static_cast<size_t>(list)].push_back(band);
    const auto* detail = dynamic_cast<const TppDetailBand*>(band);
    if (detail != nullptr && detail->ColumnTraversal() == ctLeftToRight) {
      band_engines_.push_back(std::make_unique<TppHorizontalBandEngine>(*this, *band));
    } else {
      band_engines_.push_back(std::make_unique<TppBandEngine>(*this, *band));
    }
  }
  last_band_ = nullptr;
  for (int list : {blSummary, blGroupFooter, blDetail}) {
    if (!lists_[static_cast<size_t>(list)].empty()) {
      last_band_ = lists_[static_cast<size_t>(list)].back();
      break;
    }
  }
}

void TppEngine::SetPassState() {
  state_ &= static_cast<uint16_t>(~(kStateFirstPass | kStateSecondPass));
  if (report_.PassSetting() == psTwoPass && first_pass_complete_) {
    state_ |= kStateSecondPass;
    if (!second_pass_started_) {
      second_pass_started_ = true;
      report_.StartSecondPass();
    }
  } else {
    state_ |= kStateFirstPass;
    if (!first_pass_started_) {
      first_pass_started_ = true;
      report_.StartFirstPass();
    }
  }
}

void TppEngine::TestPassEnd() {
  if (!first_pass_complete_ || absolute_page_no_ != absolute_page_count_) return;
  if ((state_ & kStateFirstPass) != 0 && !first_pass_ended_) {
    first_pass_ended_ = true;
    report_.EndFirstPass();
    state_ &= static_cast<uint16_t>(~kStateFirstPass);
  } else if ((state_ & kStateSecondPass) != 0 && !second_pass_ended_) {
    second_pass_ended_ = true;
    report_.EndSecondPass();
    state_ &= static_cast<uint16_t>(~kStateSecondPass);
  }
}

// ---- one page

void TppEngine::GeneratePage() {
  if (RestoreCheckpoint) RestoreCheckpoint(absolute_page_no_ - 1);
  if (checkpoint_state_read_ && master_ != nullptr) {
    RestoreState(master_, checkpoint_state_, false);
    checkpoint_state_read_ = false;
  }
  StartPage();
  if (stop_request_) return;
  if (current_list_ != blGroupFooter) SynchronizeData();
  if (current_list_ == blPageHeader || current_list_ == blTitle || current_list_ == blColumnHeader ||
      current_list_ == blDetail || current_list_ == blGroupHeader) {
    current_list_ = blGroupHeader;
    list_position_ = 0;
  }
  MainBandLoop();
}

void TppEngine::StartPage() {
  page_has_content_ = false;
  const int saved_list = current_list_;
  const int saved_position = list_position_;
  for (TppBand* band : lists_[blDetail]) {
    if (TppBandEngine* engine = BandEngineOf(band)) engine->SetCount(0);
  }
  if (absolute_page_no_ == 1) report_.SendEvent(this, kEngineFirstPageEvent);
  report_.StartPage();
  if (absolute_page_no_ == 1) print_condition_ |= kDetailBit;
  const TppPageDef& def = report_.PrinterSetup().PageDef();
  print_position_ = {def.mmMarginLeft(), def.mmMarginTop(), def.mmMarginLeft() + def.mmPrintableWidth(),
                     def.mmMarginTop()};
  detail_printed_ = false;
  page_complete_ = false;
  column_complete_ = false;
  current_column_ = 0;
  column_start_position_ = 0;
  page_band_count_ = 1;
  if (!first_pass_complete_ && absolute_page_count_ < absolute_page_no_)
    absolute_page_count_ = absolute_page_no_;
  page_.Clear();
  page_drawn_ = false;
  HandOver();
  TppDrawInput input;
  input.pass = report_.PassSetting();
  input.first_pass = FirstPass();
  input.second_pass = SecondPass();
  input.publisher_caches = publisher_ != nullptr && publisher_->CachePages();
  page_drawn_ = PageDrawn(cursor_, PageState(), input);
  for (auto& engine : band_engines_) engine->StartPage(page_drawn_);
  print_condition_ |= kPageHeaderBit;
  GenerateList(blPageStyle, 0, false);
  print_condition_ &= static_cast<uint16_t>(~kPageHeaderBit);
  if (!page_complete_ && (print_condition_ & kTitleBit) != 0) {
    current_list_ = blTitle;
    GenerateList(blTitle, 0, false);
    if (!page_complete_) print_condition_ &= static_cast<uint16_t>(~kTitleBit);
  }
  if (!page_complete_) {
    print_condition_ |= kPageHeaderBit;
    current_list_ = blPageHeader;
    GenerateList(blPageHeader, 0, false);
    current_list_ = saved_list;
    list_position_ = saved_position;
  }
  std::fill(column_started_.begin(), column_started_.end(), 0);
  std::fill(column_finished_.begin(), column_finished_.end(), 0);
}

void TppEngine::MainBandLoop() {
  // A round over the header, detail and footer lists that prints nothing and moves no record
  // can never finish the data: the data is taken as finished.
  int64_t progress = -1;
  while (current_list_ <= blGroupFooter && !page_complete_ && !stop_request_) {
    if (columnar_ && (column_complete_ || current_column_ == 0)) {
      StartNextColumn();
      if (page_complete_ || stop_request_) break;
      // A column that a header or detail band left goes on with the detail band in the next;
      // group headers, which would print again there, are not built.
      if (current_list_ == blGroupHeader || current_list_ == blDetail) {
        current_list_ = blDetail;
        list_position_ = 0;
      }
    }
    if (!column_complete_) {
      if (current_list_ == blGroupHeader) {
        const int64_t now = records_moved_ + report_band_count_;
        if (now == progress) Stop();
        progress = now;
      }
      GenerateList(current_list_, list_position_, true);
      if (!page_complete_ && !column_complete_) {
        if (current_list_ == blGroupFooter && !all_data_traversed_) {
          current_list_ = blGroupHeader;
        } else {
          ++current_list_;
        }
        list_position_ = 0;
      }
    }
    report_.PumpMessages();
  }
  if (stop_request_) return;
  if (!page_complete_ && all_data_traversed_) {
    current_list_ = blSummary;
    GenerateList(blSummary, 0, false);
  }
  if (!page_complete_ && !stop_request_) {
    if (columnar_ && current_column_ > 0 && !column_complete_) {
      EndColumn();
    } else if (!page_complete_) {
      EndPage();
    }
  }
}

void TppEngine::CloseOnOutOfSpace() {
  if (columnar_ && current_column_ > 0 && !column_complete_) {
    EndColumn();
  } else {
    EndPage();
  }
}

int32_t TppEngine::ColumnLeftOf(int32_t index) {
  const TppPageDef& def = report_.PrinterSetup().PageDef();
  const TppColumnLeft column = ColumnLeft(report_.ColumnPositions(), report_.Units(), def.mmMarginLeft(),
                                          report_.mmColumnWidth(), index);
  if (column.outcome == TppColumnLeftOutcome::Found) return column.left;
  std::string text = LoadLanguageString(column.outcome == TppColumnLeftOutcome::Missing ? 43 : 42);
  const std::string placeholder = "<columnno>";
  const size_t at = text.find(placeholder);
  if (at != std::string::npos) text.replace(at, placeholder.size(), std::to_string(index + 1));
  Fail(text + ".");
}

void TppEngine::ColumnDoesNotFit(int32_t left) {
  Fail("A coluna 1 não cabe na largura da página: começa em " + std::to_string(left) + ", com largura " +
       std::to_string(report_.mmColumnWidth()) + " (milésimos de milímetro)");
}

bool TppEngine::ColumnFitsAt(int32_t left) const {
  const TppPageDef& def = report_.PrinterSetup().PageDef();
  return ColumnFits(left, report_.mmColumnWidth(), def.mmWidth(), def.mmMarginRight());
}

void TppEngine::StartNextColumn() {
  // No column starts beside a title that keeps its page, or beside the summary.
  if (current_column_ > 0 && (state_ & (kStateTitlePage | kStateSummaryPage)) != 0) {
    EndPage();
    return;
  }
  const int32_t next = current_column_ + 1;
  const int32_t left = ColumnLeftOf(next - 1);
  if (!ColumnFitsAt(left)) {
    // The first column of a page that does not fit would not fit on any page.
    if (next == 1) ColumnDoesNotFit(left);
    EndPage();
    return;
  }
  if (current_column_ == 0) column_start_position_ = print_position_.top;
  current_column_ = next;
  column_complete_ = false;
  print_position_ = {left, column_start_position_, left + report_.mmColumnWidth(), column_start_position_};
  report_.StartColumn();
  print_condition_ |= kColumnHeaderBit;
  GenerateList(blColumnHeader, 0, false);
}

void TppEngine::EndColumn() {
  column_complete_ = true;
  print_condition_ |= kColumnFooterBit;
  GenerateList(blColumnFooter, 0, false, false);
  print_condition_ &= static_cast<uint16_t>(~kColumnFooterBit);
  report_.EndColumn();
  if (stop_request_) return;
  bool last = current_column_ >= report_.Columns() || all_data_traversed_ ||
              (state_ & (kStateTitlePage | kStateSummaryPage)) != 0;
  if (!last) last = !ColumnFitsAt(ColumnLeftOf(current_column_));
  if (last) EndPage();
}

bool TppEngine::ColumnStarted(int32_t index) const {
  return index >= 0 && static_cast<size_t>(index) < column_started_.size() &&
         column_started_[static_cast<size_t>(index)] != 0;
}

void TppEngine::SetColumnStarted(int32_t index, bool value) {
  if (index >= 0 && static_cast<size_t>(index) < column_started_.size())
    column_started_[static_cast<size_t>(index)] = value ? 1 : 0;
}

bool TppEngine::ColumnFinished(int32_t index) const {
  return index >= 0 && static_cast<size_t>(index) < column_finished_.size() &&
         column_finished_[static_cast<size_t>(index)] != 0;
}

void TppEngine::SetColumnFinished(int32_t index, bool value) {
  if (index >= 0 && static_cast<size_t>(index) < column_finished_.size())
    column_finished_[static_cast<size_t>(index)] = value ? 1 : 0;
}

TppEngine::TppColumnBands TppEngine::GenerateColumnBands(int list, int32_t index) {
  const TppPrintRect saved = print_position_;
  const int32_t left = ColumnLeftOf(index);
  print_position_.left = left;
  print_position_.right = left + report_.mmColumnWidth();
  const uint16_t bit = list == blColumnHeader ? kColumnHeaderBit : kColumnFooterBit;
  const bool had_bit = (print_condition_ & bit) != 0;
  print_condition_ |= bit;
  const int32_t saved_column = current_column_;
  current_column_ = index;
  if (list == blColumnHeader) report_.StartColumn();
  TppColumnBands result;
  for (TppBand* band : lists_[static_cast<size_t>(list)]) {
    TppBandEngine* engine = BandEngineOf(band);
    if (engine == nullptr || engine->Band() == nullptr || stop_request_) continue;
    engine->Generate();
    page_space_used_ = std::max(page_space_used_, print_position_.bottom);
    if (engine->OutOfSpace()) {
      result.out_of_space = true;
      break;
    }
  }
  if (list == blColumnFooter) report_.EndColumn();
  current_column_ = saved_column;
  result.space_used = std::max(print_position_.top - saved.top, 0);
  print_position_ = saved;
  if (!had_bit) print_condition_ &= static_cast<uint16_t>(~bit);
  return result;
}

void TppEngine::GenerateList(int list, int position, bool remember, bool mayClose) {
  const std::vector<TppBand*> bands = lists_[static_cast<size_t>(list)];
  bool out = false;
  int index = position;
  for (; index < static_cast<int>(bands.size()) && !stop_request_; ++index) {
    TppBandEngine* engine = BandEngineOf(bands[static_cast<size_t>(index)]);
    if (engine == nullptr || engine->Band() == nullptr) continue;
    engine->Generate();
    const bool header_list = list == blPageHeader || list == blTitle || list == blColumnHeader;
    if (!page_has_content_ && engine->UsedSpace() && !header_list) page_has_content_ = true;
    page_space_used_ = std::max(page_space_used_, print_position_.bottom);
    out = engine->OutOfSpace();
    if (all_data_traversed_ && engine->Band() == last_band_ && !out) last_band_generated_ = true;
    report_.PumpMessages();
    if (out) break;
  }
  if (list == blGroupHeader && !out) {
    print_condition_ &= static_cast<uint16_t>(~(kTitleBit | kPageHeaderBit | kColumnHeaderBit));
  }
  if (remember) list_position_ = out ? index : std::max(static_cast<int>(bands.size()) - 1, 0);
  if (mayClose && out && (print_condition_ & kPageFooterBit) == 0 && !stop_request_ && !page_complete_)
    CloseOnOutOfSpace();
}

void TppEngine::EndPage() {
  page_complete_ = true;
  const bool traversed_before = all_data_traversed_;
  TakeCheckpoint();
  if (calcs_out_of_sync_ && master_ != nullptr && master_->Active() && !master_->BOF()) {
    // The footer shows the last record printed; the next page starts from the checkpoint.
    master_->Prior();
    checkpoint_state_read_ = true;
  }
  for (auto& engine : band_engines_) engine->EndPage();
  if (columnar_) {
    // The page footer spans the page, whichever column the page ended in.
    const TppPageDef& def = report_.PrinterSetup().PageDef();
    print_position_.left = def.mmMarginLeft();
    print_position_.right = def.mmMarginLeft() + def.mmPrintableWidth();
  }
  if ((print_condition_ & kPageFooterBit) == 0) {
    print_condition_ |= kPageFooterBit;
    GenerateList(blPageFooter, 0, false);
  }
  page_space_used_ = std::max(page_space_used_, GetPageBottom());
  if (PageEnded && PageEnded()) PageLimitReached();
  if (stop_request_) return;  // a cancelled page goes to no device
  if (!traversed_before && all_data_traversed_ && !last_band_generated_) {
    // Stopped while the page ended: when the detail band is the last band and stands whole on
    // this page, nothing is left to print and this page is the last.
    const TppBandEngine* last = last_band_ != nullptr ? BandEngineOf(last_band_) : nullptr;
    if (last != nullptr && BandListOf(*last_band_) == blDetail && !last->Continuing()) {
      last_band_generated_ = true;
    }
  }
  if (page_drawn_ && report_.OutlineEnabled()) {
    page_.Add(std::make_unique<TppOutlineDrawCommand>());
  }
  if ((state_ & kStateFirstPass) != 0 && all_data_traversed_ && last_band_generated_ &&
      !first_pass_complete_) {
    first_pass_complete_ = true;
    report_.SendEvent(this, kEngineFirstPassEndEvent);
  }
  if (first_pass_complete_ && absolute_page_no_ == absolute_page_count_ && page_drawn_) LastPageCorrection();
  if (!HasData() && page_space_used_ != 0) NoDataEnd();
  HandOver();
  if (RequestDoneAtPageEnd(cursor_, PageState())) done_printing_ = true;
  report_.SendEvent(this, kEnginePageEndEvent);
  print_condition_ &= static_cast<uint16_t>(~kPageFooterBit);
  state_ &= static_cast<uint16_t>(~kStateSummaryPage);
}

void TppEngine::LastPageCorrection() {
  int32_t header_space = 0;
  std::vector<TppCommunicator*> hidden;
  for (TppBand* band : lists_[blPageHeader]) {
    const auto* header = static_cast<const TppPageBand*>(band);
    if (header->PrintOnLastPage()) continue;
    const TppBandEngine* engine = BandEngineOf(band);
    // A header the rule already skipped left nothing to take back.
    if (engine == nullptr || engine->Count() == 0) continue;
    hidden.push_back(band);
    header_space = std::max(header_space, engine->SpaceUsed());
  }
  int32_t footer_space = 0;
  for (TppBand* band : lists_[blPageFooter]) {
    const auto* footer = static_cast<const TppPageBand*>(band);
    const TppBandEngine* engine = BandEngineOf(band);
    if (footer->PrintOnLastPage() || engine == nullptr || engine->Count() == 0) continue;
    hidden.push_back(band);
    footer_space = std::max(footer_space, engine->SpaceUsed() > 0 ? engine->SpaceUsed() : band->mmHeight());
  }
  if (hidden.empty()) return;
  for (int i = page_.DrawCommandCount() - 1; i >= 0; --i) {
    TppDrawCommand* command = page_.DrawCommands(i);
    TppCommunicator* source = command->SourceBand();
    if (std::find(hidden.begin(), hidden.end(), source) != hidden.end()) {
      page_.RemoveDrawCommand(command);
      delete command;
      continue;
    }
    const auto* band = dynamic_cast<const TppBand*>(source);
    if (band == nullptr) continue;
    if (band->BandType() == btColumnFooter) {
      command->SetTop(command->Top() + footer_space);
    } else if (band->BandType() != btTitle && band->BandType() != btFooter) {
      command->SetTop(command->Top() - header_space);
    }
  }
}

void TppEngine::Stamp() {
  page_.SetAbsolutePageNo(absolute_page_no_);
  page_.SetAbsolutePageCount(absolute_page_count_);
  page_.SetDocumentName(report_.PrinterSetup().DocumentName());
  page_.SetFirstPage(absolute_page_no_ == 1);
  page_.SetLanguageIndex(report_.LanguageIndex());
  page_.SetLastPage(last_band_generated_ && absolute_page_no_ == absolute_page_count_);
  page_.SetPassSetting(report_.PassSetting());
  page_.SetPageNo(PageNo());
  page_.SetPageCount(PageCount());
  page_.SetPrintDateTime(print_date_time_);
  page_.SetFinal((report_.PassSetting() == psOnePass && FirstPass()) ||
                 (report_.PassSetting() == psTwoPass && SecondPass() && page_drawn_));
  page_.SetCalculation(!page_drawn_);
}

void TppEngine::HandOver() {
  Stamp();
  if (PageReady) {
    PageReady(page_);
  } else if (publisher_ != nullptr) {
    publisher_->ReceivePage(page_);
  }
}

// ---- no data

void TppEngine::NoDataStart() {
  const TppNoDataBehaviors behaviors = report_.NoDataBehaviors();
  if ((behaviors & NoDataBit(ndBlankPage)) == 0) return;
  done_printing_ = true;
  last_band_generated_ = true;
  main_report_started_ = false;
  bool show = (behaviors & NoDataBit(ndMessageDialog)) != 0 && !second_pass_started_;
  if (report_.OnNoData) report_.OnNoData(report_);
  if (show) {
    platform::ShowMessageBox(platform::MessageKind::Information, report_.PrinterSetup().DocumentName(),
                             LoadLanguageString(1034), platform::mbOK);
  }
  if (report_.PassSetting() == psTwoPass) second_pass_started_ = true;
}

void TppEngine::NoDataEnd() {
  const TppNoDataBehaviors behaviors = report_.NoDataBehaviors();
  if ((behaviors & NoDataBit(ndBlankReport)) == 0) return;
  if ((behaviors & NoDataBit(ndMessageDialog)) != 0 && !second_pass_started_) {
    platform::ShowMessageBox(platform::MessageKind::Information, report_.PrinterSetup().DocumentName(),
                             LoadLanguageString(1034), platform::mbOK);
  }
  if (report_.OnNoData) report_.OnNoData(report_);
  if ((behaviors & NoDataBit(ndMessageOnPage)) == 0) return;
  auto text = std::make_unique<TppDrawText>();
  text->SetText(LoadLanguageString(1034));
  const int32_t height = UnitsToMMThousandths(18, utScreenPixels, dirVertical);
  const int32_t width = UnitsToMMThousandths(110, utScreenPixels, dirHorizontal);
  const TppPageDef& def = report_.PrinterSetup().PageDef();
  text->SetLeft((def.mmPrintableWidth() - width) / 2);
  text->SetTop((page_space_used_ - height) / 2);
  text->SetWidth(width);
  text->SetHeight(height);
  page_.Add(std::move(text));
}

// ---- data

bool TppEngine::HasData() const {
  if (stop_request_) return false;
  return master_ == nullptr || (master_->PositionFlags() & ppdaNoRecords) == 0;
}

void TppEngine::OpenPipeline(TppDataPipeline& pipeline) {
  const std::string message = LoadLanguageString(40) + ": " + pipeline.UserName();
  try {
    pipeline.Open();
  } catch (const EDataError&) {
    Fail(message);
  }
  if (!pipeline.Active()) Fail(message);
}

void TppEngine::OpenPipelines() {
  ForgetPipeline(master_);
  TppDataPipeline* pipeline = report_.DataPipeline();
  // A detail band's own pipeline drives the records of a report that has none.
  if (pipeline == nullptr) {
    if (auto* detail = dynamic_cast<TppDetailBand*>(report_.GetBand(btDetail)))
      pipeline = detail->DataPipeline();
  }
  records_moved_ = 0;
  traversed_master_ = false;
  if (pipeline == nullptr) return;
  master_ = pipeline;
  pipeline->AddEventListener(this);
  opened_master_ = !pipeline->Active();
  OpenPipeline(*pipeline);
  start_bookmark_ = pipeline->GetBookmark();
  pipeline->First();
  traversed_master_ = true;
}

void TppEngine::ClosePipelines() { ForgetPipeline(master_); }

void TppEngine::ForgetPipeline(TppDataPipeline* pipeline) {
  if (pipeline == nullptr || pipeline != master_) return;
  FreeState(pipeline, checkpoint_state_);
  for (TppBookmark bookmark : checkpoint_bookmarks_) pipeline->FreeBookmark(bookmark);
  checkpoint_bookmarks_.clear();
  if (start_bookmark_ != 0) pipeline->FreeBookmark(start_bookmark_);
  start_bookmark_ = 0;
  FreeState(pipeline, restore_state_);
  pipeline->RemoveEventListener(this);
  // A pipeline the engine opened itself is closed again; one the application opened stays open.
  if (opened_master_ && !pipeline->IsDestroying()) pipeline->Close();
  opened_master_ = false;
  master_ = nullptr;
}

void TppEngine::SynchronizeData() {
  if (!advance_record_ && !calcs_out_of_sync_) return;
  if (advance_record_) {
    advance_record_ = false;
    calcs_out_of_sync_ = false;
    MoveOn();
  } else {
    calcs_out_of_sync_ = false;
  }
  if (traversed_master_ && master_ != nullptr) master_->Traversal();
  traversed_master_ = false;
  report_.SendEvent(this, kEngineTraversalEvent);
}

void TppEngine::MoveOn() {
  if (master_ == nullptr) return;
  master_->Next();
  ++records_moved_;
  traversed_master_ = true;
  if (master_->Eof()) {
    Stop();
    master_->Last();
  } else {
    calcs_out_of_sync_ = true;
  }
}

void TppEngine::RecordPrinted() {
  print_condition_ &= static_cast<uint16_t>(~(kPageHeaderBit | kColumnHeaderBit | kGroupHeaderBit));
  print_condition_ |= kDetailBit;
  if (all_data_traversed_) return;
  if (master_ == nullptr) {
    calcs_out_of_sync_ = true;
    return;
  }
  MoveOn();
}

void TppEngine::Stop() {
  all_data_traversed_ = true;
  print_condition_ |= kSummaryBit | kGroupFooterBit;
  // A page that has taken its checkpoint is ending (its footer prints, OnEndPage runs): the next
  // page restores that checkpoint, which must not bring the data back.
  if (busy_ && page_complete_ && absolute_page_no_ > 0) stopped_at_page_end_ = absolute_page_no_;
}

void TppEngine::PageLimitReached() {
  Stop();
  last_band_generated_ = true;
}

// ---- pipeline states and checkpoints

TppPipelineState TppEngine::SaveState(TppDataPipeline* pipeline) {
  TppPipelineState state;
  if (pipeline == nullptr) return state;
  state.flags = pipeline->PositionFlags();
  state.traversal_count = pipeline->TraversalCount();
  if ((state.flags & ppdaLastRecord) != 0) state.record_no = pipeline->RecordNo();
  if (pipeline->Active()) {
    state.bookmark = pipeline->GetBookmark();
    state.bookmark_held = 1;
    state.record_no = pipeline->RecordNo();
  }
  return state;
}

void TppEngine::RestoreState(TppDataPipeline* pipeline, TppPipelineState& state, bool release) {
  if (pipeline == nullptr) return;
  if ((state.flags & ppdaFirstRecord) != 0) {
    pipeline->First();
  } else if ((state.flags & ppdaLastRecord) != 0) {
    pipeline->SetRecordNo(state.record_no);
    pipeline->Last();
  } else if (state.bookmark_held != 0 && pipeline->Active()) {
    pipeline->SetRecordNo(state.record_no);
    pipeline->GotoBookmark(state.bookmark);
  }
  pipeline->SetPositionFlags(state.flags);
  pipeline->SetTraversalCount(state.traversal_count);
  if (release) FreeState(pipeline, state);
}

void TppEngine::FreeState(TppDataPipeline* pipeline, TppPipelineState& state) {
  if (state.bookmark_held != 0 && pipeline != nullptr) {
    // A bookmark a checkpoint holds stays until the checkpoints go.
    if (std::find(checkpoint_bookmarks_.begin(), checkpoint_bookmarks_.end(), state.bookmark) ==
        checkpoint_bookmarks_.end()) {
      pipeline->FreeBookmark(state.bookmark);
    }
  }
  state.bookmark_held = 0;
  state.bookmark = 0;
}

void TppEngine::TakeCheckpoint() {
  if (first_pass_complete_) return;
  checkpoint_state_ = SaveState(master_);
  if (checkpoint_state_.bookmark_held != 0) checkpoint_bookmarks_.push_back(checkpoint_state_.bookmark);
  checkpoint_state_saved_ = true;
  if (PageNeedsCheckpoint() && SaveCheckpoint) SaveCheckpoint(absolute_page_no_);
  checkpoint_state_saved_ = false;
}

void TppEngine::SaveToCache(int32_t page) {
  Record record{};
  record.advance_record = advance_record_ ? 1 : 0;
  record.all_data_traversed = all_data_traversed_ ? 1 : 0;
  record.calcs_out_of_sync = calcs_out_of_sync_ ? 1 : 0;
  record.traversed_master = traversed_master_ ? 1 : 0;
  record.current_list = current_list_;
  record.list_position = list_position_;
  record.report_band_count = report_band_count_;
  record.state = state_ & (kStateInitialised | kStateNoData | kStateTitlePage | kStateSummaryPage | 64 | 128);
  record.print_condition = print_condition_;
  if (checkpoint_state_saved_) {
    record.master = checkpoint_state_;
  } else {
    record.master = SaveState(master_);
    if (record.master.bookmark_held != 0) checkpoint_bookmarks_.push_back(record.master.bookmark);
  }
  WriteCacheRecord(page, &record);
}

void TppEngine::RestoreFromCache(int32_t page) {
  Record record{};
  if (!ReadCacheRecord(page, &record)) return;
  advance_record_ = record.advance_record != 0;
  all_data_traversed_ = record.all_data_traversed != 0;
  calcs_out_of_sync_ = record.calcs_out_of_sync != 0;
  traversed_master_ = record.traversed_master != 0;
  current_list_ = record.current_list;
  list_position_ = record.list_position;
  report_band_count_ = record.report_band_count;
  constexpr uint16_t kSaved =
      kStateInitialised | kStateNoData | kStateTitlePage | kStateSummaryPage | 64 | 128;
  state_ = static_cast<uint16_t>((state_ & ~kSaved) | (record.state & kSaved));
  print_condition_ = record.print_condition;
  if (page == stopped_at_page_end_ && page > 0) {
    all_data_traversed_ = true;
    print_condition_ |= kSummaryBit | kGroupFooterBit;
  }
  checkpoint_state_ = record.master;
  checkpoint_state_read_ = master_ != nullptr;
}

void TppEngine::ReleaseCache(int32_t /*page*/) {
  // Checkpoint bookmarks are freed together when the checkpoints go (StartGeneration, Reset).
}

}  // namespace parvel::report
