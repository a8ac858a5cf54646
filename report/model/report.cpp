#include "report/model/report.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "report/base/errors.h"
#include "report/base/stream.h"
#include "report/engine/engine.h"
#include "report/model/text.h"
#include "report/output/publisher.h"

namespace parvel::report {

namespace {

constexpr std::array<const char*, 5> kUnitNames = {"utScreenPixels", "utInches", "utMillimeters",
                                                   "utPrinterPixels", "utMMThousandths"};
constexpr std::array<const char*, 4> kNoDataNames = {"ndMessageDialog", "ndMessageOnPage", "ndBlankPage",
                                                     "ndBlankReport"};

template <size_t N>
int IdentIndex(const std::array<const char*, N>& names, const std::string& ident) {
  for (size_t i = 0; i < N; ++i) {
    if (SameText(names[i], ident)) return static_cast<int>(i);
  }
  return -1;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

TppCustomReport::TppCustomReport(TComponent* owner) : TppProducer(owner) {
  auto engine = std::make_unique<TppEngine>(*this);
  engine->PageReady = [this](TppPage& page) { Publisher().ReceivePage(page); };
  engine_ = std::move(engine);
}

TppCustomReport::~TppCustomReport() {
  Destroying();
  SendGenerationEnd();
  SetDataPipeline(nullptr);
  // The engine goes first, letting go of the bands and the data; then the bands, while the
  // report is whole: each leaves the band list on its way.
  engine_.reset();
  while (!bands_.empty()) delete bands_.back();
}

TppBand* TppCustomReport::Bands(int index) const {
  if (index < 0 || index >= BandCount()) return nullptr;
  return bands_[static_cast<size_t>(index)];
}

void TppCustomReport::InsertBand(TppBand* band) {
  band->report_ = this;
  bands_.push_back(band);
  TppProducer::InsertChild(ChildCount(), band);
  SortBands();
  band->caption_ = band->KindName();
  band->SetUnits(units_);
  modified_ = true;
  ResetEngine();
}

void TppCustomReport::RemoveChild(TppRelative* child) {
  if (IndexOfChild(child) < 0) return;
  if (auto* band = dynamic_cast<TppBand*>(child)) {
    std::erase(bands_, band);
    band->report_ = nullptr;
    modified_ = true;
  }
  TppProducer::RemoveChild(child);
  ResetEngine();
}

bool TppCustomReport::AddStreamedChild(TComponent& child) {
  if (auto* band = dynamic_cast<TppBand*>(&child)) {
    band->SetReport(this);
    return band->Report() == this;
  }
  return TppProducer::AddStreamedChild(child);
}

void TppCustomReport::SortBands() {
  std::stable_sort(bands_.begin(), bands_.end(),
                   [](const TppBand* a, const TppBand* b) { return Lower(a->Rank()) < Lower(b->Rank()); });
  // The children, which stream the bands, follow the band order.
  for (size_t i = 0; i < bands_.size(); ++i) TppProducer::InsertChild(static_cast<int>(i), bands_[i]);
}

TppBand* TppCustomReport::GetBand(int32_t bandType, int32_t /*groupIndex*/) const {
  // Group bands belong to groups, which this program does not build.
  if (bandType == btGroupHeader || bandType == btGroupFooter) return nullptr;
  for (TppBand* band : bands_) {
    if (band->BandType() == bandType) return band;
  }
  return nullptr;
}

std::set<int32_t> TppCustomReport::DefaultBands() const {
  std::set<int32_t> set = {btHeader, btDetail, btFooter};
  if (columns_ >= 2) {
    set.insert(btColumnHeader);
    set.insert(btColumnFooter);
  }
  return set;
}

namespace {

std::unique_ptr<TppBand> NewBand(int32_t code) {
  switch (code) {
    case btHeader:
      return std::make_unique<TppHeaderBand>();
    case btTitle:
      return std::make_unique<TppTitleBand>();
    case btColumnHeader:
      return std::make_unique<TppColumnHeaderBand>();
    case btDetail:
      return std::make_unique<TppDetailBand>();
    case btColumnFooter:
      return std::make_unique<TppColumnFooterBand>();
    case btSummary:
      return std::make_unique<TppSummaryBand>();
    case btFooter:
      return std::make_unique<TppFooterBand>();
    case btPageStyle:
      return std::make_unique<TppPageStyle>();
    default:
      return nullptr;
  }
}

}  // namespace

void TppCustomReport::CreateDefaultBands() {
  if (bands_.empty()) {
    for (int32_t code : DefaultBands()) AddBand(NewBand(code));
  }
  if (GetBand(btDetail) == nullptr) AddBand(NewBand(btDetail));
}

void TppCustomReport::SetEngine(std::unique_ptr<TppReportEngine> engine) { engine_ = std::move(engine); }

void TppCustomReport::ResetEngine() {
  if (!engine_ || IsReading() || IsLoading() || IsDestroying() || Printing()) return;
  engine_->Reset();
}

void TppCustomReport::Reset() {
  TppProducer::Reset();
  ResetEngine();
}

void TppCustomReport::Cancel() {
  TppProducer::Cancel();
  if (engine_) engine_->Cancel();
}

void TppCustomReport::GeneratePages(TComponent& sender, TppPageRequest& request) {
  DoOnPageRequest(sender, request);
  if (!engine_) return;
  SetPrinting(true);
  try {
    // Pages generated for another paper are of no use: the publisher drops them and the engine
    // starts again.
    if (TppPage* page = engine_->CurrentPage()) {
      const bool same = page->PrinterSetup().IsSamePaper(PrinterSetup());
      page->SetPrinterSetup(&PrinterSetup());
      page->SetSourceReport(this);
      if (!same && !engine_->Initial()) {
        Publisher().InvalidatePages();
        SetPrinting(false);
        engine_->Reset();
        SetPrinting(true);
      }
    }
    engine_->GenerateRequest(Publisher(), request);
  } catch (...) {
    SetPrinting(false);
    engine_->Reset();
    HandlePrintError(std::current_exception());
    return;
  }
  SetPrinting(false);
  if (engine_->StopRequested()) engine_->Reset();
}

void TppCustomReport::HandlePrintError(const std::exception_ptr& failure) {
  TppProducer::HandlePrintError(failure);
  if (engine_ && engine_->Generating()) engine_->Cancel();
  if (engine_ && engine_->QuietErrors()) return;
  std::string message;
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "unknown failure";
  }
  throw EPrintError(LoadLanguageString(1023) + "\r\n\r\n" + message);
}

void TppCustomReport::PrinterSetupChanged() { ResetEngine(); }

void TppCustomReport::PageDefChanged() {
  for (TppBand* band : bands_) band->FitObjectsToParent();
  ResetEngine();
}

void TppCustomReport::SetPrinterSetup(const TppPrinterSetup& setup) {
  if (IsReading() || IsLoading()) {
    TppProducer::SetPrinterSetup(setup);
    return;
  }
  const TppPageDef page_before = PrinterSetup().PageDef();
  const TPrinterOrientation orientation_before = PrinterSetup().Orientation();
  TppProducer::SetPrinterSetup(setup);
  PrinterSetup().SetUnits(units_);
  if (PrinterSetup().PageDef() == page_before && PrinterSetup().Orientation() == orientation_before) {
    PrinterSetupChanged();
  } else {
    PageDefChanged();
  }
}

void TppCustomReport::SetUnits(TppUnitType value) {
  units_ = value;
  PrinterSetup().SetUnits(value);
  for (TppBand* band : bands_) band->SetUnits(value);
}

void TppCustomReport::SetDataPipeline(TppDataPipeline* pipeline) {
  if (pipeline == data_pipeline_) return;
  if (data_pipeline_ != nullptr) data_pipeline_->RemoveEventListener(this);
  data_pipeline_ = pipeline;
  data_pipeline_name_ = pipeline != nullptr ? pipeline->Name() : "";
  if (pipeline != nullptr) pipeline->AddEventListener(this);
  if (IsReading() || IsLoading() || IsDestroying()) return;
  auto_stop_ = pipeline == nullptr;
  ResetEngine();
}

void TppCustomReport::LinkNotify(TppCommunicator* sender, TppOperationType operation) {
  TppProducer::LinkNotify(sender, operation);
  if (operation == ppopRemove && sender != nullptr && sender == data_pipeline_) {
    data_pipeline_ = nullptr;
    data_pipeline_name_.clear();
    auto_stop_ = true;
    ResetEngine();
  }
}

void TppCustomReport::SetColumns(int32_t value) {
  columns_ = value <= 0 ? 1 : value;
  ResetEngine();
}

void TppCustomReport::SetmmColumnWidth(int32_t value) {
  mm_column_width_ = value;
  ResetEngine();
}

float TppCustomReport::ColumnWidth() const {
  return MMThousandthsToUnits(mm_column_width_, units_, dirHorizontal);
}

void TppCustomReport::SetColumnWidth(float value) {
  SetmmColumnWidth(UnitsToMMThousandths(value, units_, dirHorizontal));
}

void TppCustomReport::SetPageLimit(int32_t value) {
  page_limit_ = value;
  ResetEngine();
}

void TppCustomReport::SetPassSetting(TppPassSettingType value) {
  pass_setting_ = value;
  modified_ = true;
  ResetEngine();
}

void TppCustomReport::SetNoDataBehaviors(TppNoDataBehaviors value) {
  no_data_behaviors_ = value;
  ResetEngine();
}

// ---- engine steps

void TppCustomReport::Step(const TNotifyEvent& handler, int event) {
  if (handler) handler(*this);
  SendEvent(this, event);
}

void TppCustomReport::StartOfReport() {
  for (TppBand* band : bands_) band->StartOfReport();
}

void TppCustomReport::StartOfGeneration() {
  for (TppBand* band : bands_) band->StartOfGeneration();
}

void TppCustomReport::EndOfReport() {
  for (TppBand* band : bands_) band->EndOfReport();
}

void TppCustomReport::StartPage() { Step(OnStartPage, kStartPageEvent); }

bool TppCustomReport::EndPage() {
  Step(OnEndPage, kEndPageEvent);
  for (TppBand* band : bands_) band->EndOfPage();
  return page_limit_ > 0 && AbsolutePageNo() >= page_limit_;
}

void TppCustomReport::StartColumn() { Step(OnStartColumn, kStartColumnEvent); }
void TppCustomReport::EndColumn() { Step(OnEndColumn, kEndColumnEvent); }
void TppCustomReport::StartFirstPass() { Step(OnStartFirstPass, kStartFirstPassEvent); }
void TppCustomReport::EndFirstPass() { Step(OnEndFirstPass, kEndFirstPassEvent); }
void TppCustomReport::StartSecondPass() { Step(OnStartSecondPass, kStartSecondPassEvent); }
void TppCustomReport::EndSecondPass() { Step(OnEndSecondPass, kEndSecondPassEvent); }

// ---- streaming

void TppCustomReport::Loaded() {
  if (data_pipeline_ == nullptr && !data_pipeline_name_.empty() && Owner() != nullptr) {
    if (auto* pipeline = dynamic_cast<TppDataPipeline*>(Owner()->FindComponent(data_pipeline_name_))) {
      SetDataPipeline(pipeline);
    }
  }
  PrinterSetup().SetUnits(units_);
  TppProducer::Loaded();
}

void TppCustomReport::WriteProperties(TWriter& writer) const {
  TppProducer::WriteProperties(writer);
  if (!auto_stop_) {
    writer.WritePropName("AutoStop");
    writer.WriteBoolean(false);
  }
  if (columns_ != 1) {
    writer.WritePropName("Columns");
    writer.WriteInteger(columns_);
  }
  if (!column_positions_.empty()) {
    writer.WritePropName("ColumnPositions");
    writer.WriteStringList(column_positions_);
  }
  if (data_pipeline_ != nullptr) {
    writer.WritePropName("DataPipelineName");
    writer.WriteString(data_pipeline_->Name());
  }
  if (no_data_behaviors_ != NoDataBit(ndBlankPage)) {
    std::vector<std::string> members;
    for (size_t i = 0; i < kNoDataNames.size(); ++i) {
      if ((no_data_behaviors_ & (1u << i)) != 0) members.emplace_back(kNoDataNames[i]);
    }
    writer.WritePropName("NoDataBehaviors");
    writer.WriteSet(members);
  }
  if (page_limit_ != 0) {
    writer.WritePropName("PageLimit");
    writer.WriteInteger(page_limit_);
  }
  if (pass_setting_ != psOnePass) {
    writer.WritePropName("PassSetting");
    writer.WriteIdent("psTwoPass");
  }
  writer.WritePropName("Units");
  writer.WriteIdent(kUnitNames[units_]);
  writer.WritePropName("mmColumnWidth");
  writer.WriteInteger(mm_column_width_);
}

bool TppCustomReport::ReadProperty(const std::string& name, TReader& reader) {
  if (name == "AutoStop") {
    auto_stop_ = reader.ReadBoolean();
  } else if (name == "Columns") {
    SetColumns(reader.ReadInteger());
  } else if (name == "ColumnPositions") {
    column_positions_ = reader.ReadStringList();
  } else if (name == "DataPipelineName") {
    data_pipeline_name_ = reader.ReadString();
  } else if (name == "NoDataBehaviors") {
    TppNoDataBehaviors set = 0;
    for (const std::string& member : reader.ReadSet()) {
      const int index = IdentIndex(kNoDataNames, member);
      if (index < 0) reader.Error("unknown no-data behaviour " + member);
      set |= NoDataBit(static_cast<TppNoDataBehaviorType>(index));
    }
    no_data_behaviors_ = set;
  } else if (name == "PageLimit") {
    page_limit_ = reader.ReadInteger();
  } else if (name == "PassSetting") {
    const std::string ident = reader.ReadIdent();
    if (ident == "psOnePass") {
      pass_setting_ = psOnePass;
    } else if (ident == "psTwoPass") {
      pass_setting_ = psTwoPass;
    } else {
      reader.Error("unknown pass setting " + ident);
    }
  } else if (name == "Units") {
    const std::string ident = reader.ReadIdent();
    const int index = IdentIndex(kUnitNames, ident);
    if (index < 0) reader.Error("unknown unit " + ident);
    SetUnits(static_cast<TppUnitType>(index));
  } else if (name == "RulerUnits") {
    static const std::array<const char*, 3> kRuler = {"utPixels", "utInches", "utMillimeters"};
    const int index = IdentIndex(kRuler, reader.ReadIdent());
    if (index >= 0) SetUnits(static_cast<TppUnitType>(index));
  } else if (name == "mmColumnWidth") {
    mm_column_width_ = ReadMMValue(reader);
  } else if (name == "UserName") {
    reader.SkipValue();
  } else {
    return TppProducer::ReadProperty(name, reader);
  }
  return true;
}

TppReport::TppReport(TComponent* owner)
    : TppBandedReport(owner), cache_manager_(std::make_unique<TppCacheManager>()) {
  auto* engine = dynamic_cast<TppEngine*>(Engine());
  TppCacheManager& manager = *cache_manager_;
  engine->LastCheckpointedPage = [&manager] { return manager.CachePageCount(); };
  engine->ClearCheckpoints = [&manager] { manager.ClearCache(); };
  engine->RestoreCheckpoint = [&manager](int32_t page) { manager.RestoreFromCache(page); };
  engine->SaveCheckpoint = [&manager](int32_t page) { manager.SaveToCache(page); };
  engine->RegisterCacheable = [&manager](TppCacheable& cacheable) { manager.RegisterCacheable(&cacheable); };
  manager.StopEngine = [this] {
    if (TppReportEngine* current = Engine()) current->Cancel();
  };
}

TppReport::~TppReport() {
  // The engine goes before the checkpoint store it registered with.
  SetEngine(nullptr);
}

namespace {

// A name stored as an identifier or, in some older streams, as a text.
std::string ReadName(TReader& reader) {
  return reader.NextValue() == TValueType::vaString ? reader.ReadString() : reader.ReadIdent();
}

}  // namespace

void TppReport::Print() {
  in_print_ = true;
  const bool go_on = !show_auto_search_dialog_ || ShowSearchDialog();
  if (go_on && Engine() != nullptr && Engine()->Initial() && !search_fields_.empty()) {
    if (OnGetAutoSearchValues) OnGetAutoSearchValues(*this);
    SendEvent(this, kGetAutoSearchValuesEvent);
  }
  in_print_ = false;
  if (go_on) TppBandedReport::Print();
}

void TppReport::WriteProperties(TWriter& writer) const {
  TppBandedReport::WriteProperties(writer);
  if (cache_pages_) {
    writer.WritePropName("CachePages");
    writer.WriteBoolean(true);
  }
  const TppOutlineSettings defaults;
  auto outline = [&](const char* name, bool value, bool fallback) {
    if (value == fallback) return;
    writer.WritePropName(std::string("OutlineSettings.") + name);
    writer.WriteBoolean(value);
  };
  outline("CreateNode", outline_settings_.CreateNode, defaults.CreateNode);
  outline("CreatePageNodes", outline_settings_.CreatePageNodes, defaults.CreatePageNodes);
  outline("Enabled", outline_settings_.Enabled, defaults.Enabled);
  if (show_auto_search_dialog_) {
    writer.WritePropName("ShowAutoSearchDialog");
    writer.WriteBoolean(true);
  }
}

bool TppReport::ReadProperty(const std::string& name, TReader& reader) {
  if (name == "CachePages") {
    cache_pages_ = reader.ReadBoolean();
  } else if (name == "OutlineSettings.CreateNode") {
    outline_settings_.CreateNode = reader.ReadBoolean();
  } else if (name == "OutlineSettings.CreatePageNodes") {
    outline_settings_.CreatePageNodes = reader.ReadBoolean();
  } else if (name == "OutlineSettings.Enabled") {
    outline_settings_.Enabled = reader.ReadBoolean();
  } else if (name == "ShowAutoSearchDialog") {
    show_auto_search_dialog_ = reader.ReadBoolean();
  } else if (name == "DataSource") {
    data_source_name_ = ReadName(reader);
  } else if (name == "OnPrintingComplete") {
    printing_complete_name_ = ReadName(reader);
  } else if (name == "OnAutoSearchDialogCreate") {
    before_search_dialog_name_ = ReadName(reader);
  } else if (name == "Orientation") {
    stored_orientation_ = ReadName(reader) == "poLandscape" ? poLandscape : poPortrait;
  } else if (name == "NoDataPages") {
    SetPageLimit(reader.ReadInteger());
  } else if (name == "RowSpacing") {
    row_spacing_ = reader.ReadFloat();
  } else if (name == "AllowPrintCancel" || name == "PreviewPages" || name == "SuppressFormFeed" ||
             name == "Viewer") {
    reader.SkipValue();
  } else {
    return TppBandedReport::ReadProperty(name, reader);
  }
  return true;
}

void TppReport::ConvertFromVersion(int32_t version) {
  TppBandedReport::ConvertFromVersion(version);
  // Reports older than 1.27 kept the orientation on the report, not in the printer setup.
  if (version < 1270) PrinterSetup().SetOrientation(stored_orientation_);
  if (version < 6100) outline_settings_.Enabled = false;
}

void TppReport::PrintToDevices() {
  if (Engine() != nullptr && Engine()->Initial() && !Engine()->StopRequested())
    Publisher().SetCachePages(cache_pages_);
  TppBandedReport::PrintToDevices();
}

void TppBandedReport::StartPrintJob() {
  CreateDefaultBands();
  TppProducer::StartPrintJob();
}

void RegisterReportClasses() {
  RegisterClass<TppReport>("TppReport");
  RegisterClass<TppHeaderBand>("TppHeaderBand");
  RegisterClass<TppTitleBand>("TppTitleBand");
  RegisterClass<TppColumnHeaderBand>("TppColumnHeaderBand");
  RegisterClass<TppDetailBand>("TppDetailBand");
  RegisterClass<TppColumnFooterBand>("TppColumnFooterBand");
  RegisterClass<TppSummaryBand>("TppSummaryBand");
  RegisterClass<TppFooterBand>("TppFooterBand");
  RegisterClass<TppPageStyle>("TppPageStyle");
  RegisterClass<TppLabel>("TppLabel");
}

}  // namespace parvel::report
