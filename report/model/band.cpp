#include "report/model/band.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "report/base/stream.h"
#include "report/model/data_pipeline.h"
#include "report/model/report.h"
#include "report/output/printer.h"

namespace parvel::report {

std::string RankField(long value) {
  char field[32];
  std::snprintf(field, sizeof field, "%8ld", value);
  return field;
}

TppBand::TppBand(TComponent* owner) : TppCacheable(owner) {}

TppBand::~TppBand() {
  // Objects go last to first while the band is whole; then the band leaves its report.
  while (ChildCount() > 0) delete Children(ChildCount() - 1);
  if (report_ != nullptr) report_->RemoveChild(this);
}

TppComponent* TppBand::Objects(int index) const { return dynamic_cast<TppComponent*>(Children(index)); }

void TppBand::SetReport(TppCustomReport* report) {
  if (report == report_) return;
  if (report_ != nullptr) report_->RemoveChild(this);
  if (report != nullptr) report->InsertBand(this);
}

void TppBand::SetParent(TppRelative* parent) {
  if (parent == nullptr) {
    SetReport(nullptr);
  } else if (auto* report = dynamic_cast<TppCustomReport*>(parent)) {
    SetReport(report);
  }
}

bool TppBand::AddStreamedChild(TComponent& child) {
  auto* component = dynamic_cast<TppComponent*>(&child);
  if (component == nullptr) return false;
  component->SetBand(this);
  return component->Band() == this;
}

void TppBand::InsertChild(int index, TppRelative* child) {
  auto* component = dynamic_cast<TppComponent*>(child);
  if (component == nullptr || child->Parent() == this) {
    TppCacheable::InsertChild(index, child);
    return;
  }
  // An object joins the owner of the band, so both go with the same form.
  if (component->Owner() != Owner()) component->ChangeOwner(Owner());
  TppCacheable::InsertChild(index, child);
  component->AttachedTo(this);
  if (IsReading() || IsLoading() || component->IsReading() || component->IsLoading()) return;
  if (component->UserName().empty()) component->SetUserName(component->DefaultUserName());
  component->FitToParent();
  ResetReportEngine();
}

void TppBand::RemoveChild(TppRelative* child) {
  if (IndexOfChild(child) < 0) return;
  if (auto* component = dynamic_cast<TppComponent*>(child)) component->AttachedTo(nullptr);
  TppCacheable::RemoveChild(child);
  ResetReportEngine();
}

void TppBand::BringToFront(TppComponent* object) {
  if (IndexOfChild(object) >= 0) MoveObject(IndexOfChild(object), ObjectCount() - 1);
}

void TppBand::SendToBack(TppComponent* object) {
  if (IndexOfChild(object) >= 0) MoveObject(IndexOfChild(object), 0);
}

void TppBand::MoveObject(int from, int to) {
  TppRelative* object = Children(from);
  if (object == nullptr) return;
  TppCacheable::InsertChild(std::clamp(to, 0, ObjectCount() - 1), object);
  ResetReportEngine();
}

void TppBand::ResetReportEngine() {
  if (report_ != nullptr && !IsReading() && !IsDestroying()) report_->ResetEngine();
}

const TppResolutionSource* TppBand::ConversionPrinter() const {
  if (units_ != utPrinterPixels) return nullptr;
  return report_ != nullptr ? report_->Printer() : nullptr;
}

float TppBand::ToUnits(int32_t value) const {
  return MMThousandthsToUnits(value, units_, dirVertical, ConversionPrinter());
}

int32_t TppBand::FromUnits(float value) const {
  return UnitsToMMThousandths(value, units_, dirVertical, ConversionPrinter());
}

int32_t TppBand::mmWidth() const {
  if (report_ == nullptr) return 0;
  if (report_->Columns() > 1 && PerColumn()) return report_->mmColumnWidth();
  return report_->PrinterSetup().PageDef().mmPrintableWidth();
}

void TppBand::SetmmHeight(int32_t value) {
  if (IsReading() || IsLoading()) {
    mm_height_ = value;
    return;
  }
  if (value <= 0 && ObjectCount() > 0 && report_ != nullptr) return;
  if (report_ != nullptr && value != mm_height_ && print_height_ == phStatic) {
    const int32_t page = report_->PrinterSetup().PageDef().mmPrintableHeight();
    if (page > 0 && value > page) return;
  }
  mm_height_ = std::max(value, 0);
  for (int i = 0; i < ObjectCount(); ++i) {
    TppComponent* object = Objects(i);
    if (object == nullptr || object->mmTop() + object->mmHeight() <= mm_height_) continue;
    ConvertTop(*object, mm_height_ < object->mmHeight() ? 0 : mm_height_ - object->mmHeight());
  }
  FitObjectsToParent();
  ResetReportEngine();
}

void TppBand::ConvertTop(TppComponent& object, int32_t top) {
  // Through the object's Top in the band's unit, as a designer would move it.
  object.SetTop(MMThousandthsToUnits(top, units_, dirVertical, ConversionPrinter()));
}

float TppBand::Height() const { return ToUnits(mm_height_); }

void TppBand::SetHeight(float value) {
  if (IsReading()) {
    mm_height_ = static_cast<int32_t>(value);
    return;
  }
  SetmmHeight(FromUnits(value));
}

void TppBand::SetmmBottomOffset(int32_t value) {
  if (value == mm_bottom_offset_) return;
  mm_bottom_offset_ = value;
  ResetReportEngine();
}

float TppBand::BottomOffset() const { return ToUnits(mm_bottom_offset_); }
void TppBand::SetBottomOffset(float value) { SetmmBottomOffset(FromUnits(value)); }

void TppBand::SetmmPrintPosition(int32_t value) {
  if (value == mm_print_position_) return;
  mm_print_position_ = value;
  ResetReportEngine();
}

float TppBand::PrintPosition() const { return ToUnits(mm_print_position_); }
void TppBand::SetPrintPosition(float value) { SetmmPrintPosition(FromUnits(value)); }

void TppBand::SetPrintHeight(TppPrintHeightType value) {
  print_height_ = value;
  ResetReportEngine();
}

void TppBand::SetVisible(bool value) {
  visible_ = value;
  ResetReportEngine();
}

void TppBand::SetSave(bool value) {
  save_ = value;
  ResetReportEngine();
}

void TppBand::SetUnits(TppUnitType value) {
  units_ = value;
  for (int i = 0; i < ObjectCount(); ++i) {
    if (TppComponent* object = Objects(i)) object->SetUnits(value);
  }
}

void TppBand::FitObjectsToParent() {
  for (int i = 0; i < ObjectCount(); ++i) {
    if (TppComponent* object = Objects(i)) object->FitToParent();
  }
}

void TppBand::StartOfReport() {
  for (int i = 0; i < ObjectCount(); ++i) Objects(i)->StartOfReport();
}

void TppBand::StartOfGeneration() {
  for (int i = 0; i < ObjectCount(); ++i) Objects(i)->StartOfGeneration();
}

void TppBand::EndOfReport() {
  for (int i = 0; i < ObjectCount(); ++i) Objects(i)->EndOfReport();
}

void TppBand::DoBeforeGenerate() {
  if (BeforeGenerate) BeforeGenerate(*this);
  SendEvent(this, kBandBeforeGenerateEvent);
}

void TppBand::DoAfterGenerate() {
  if (AfterGenerate) AfterGenerate(*this);
  SendEvent(this, kBandAfterGenerateEvent);
}

void TppBand::DoBeforePrint() {
  if (BeforePrint) BeforePrint(*this);
  SendEvent(this, kBandBeforePrintEvent);
}

void TppBand::DoAfterPrint() {
  if (AfterPrint) AfterPrint(*this);
  SendEvent(this, kBandAfterPrintEvent);
}

void TppBand::WriteProperties(TWriter& writer) const {
  TppCacheable::WriteProperties(writer);
  writer.WritePropName("mmBottomOffset");
  writer.WriteInteger(mm_bottom_offset_);
  writer.WritePropName("mmHeight");
  writer.WriteInteger(mm_height_);
  writer.WritePropName("mmPrintPosition");
  writer.WriteInteger(mm_print_position_);
  if (print_height_ != phStatic) {
    writer.WritePropName("PrintHeight");
    writer.WriteIdent("phDynamic");
  }
  if (save_) {
    writer.WritePropName("Save");
    writer.WriteBoolean(true);
  }
  if (!visible_) {
    writer.WritePropName("Visible");
    writer.WriteBoolean(false);
  }
}

bool TppBand::ReadProperty(const std::string& name, TReader& reader) {
  if (name == "mmBottomOffset") {
    mm_bottom_offset_ = ReadMMValue(reader);
  } else if (name == "mmHeight") {
    SetmmHeight(ReadMMValue(reader));
  } else if (name == "mmPrintPosition") {
    mm_print_position_ = ReadMMValue(reader);
  } else if (name == "Height") {
    SetHeight(static_cast<float>(reader.ReadFloat()));
  } else if (name == "PrintHeight") {
    const std::string ident = reader.ReadIdent();
    if (ident == "phStatic") {
      print_height_ = phStatic;
    } else if (ident == "phDynamic") {
      print_height_ = phDynamic;
    } else {
      reader.Error("unknown print height " + ident);
    }
  } else if (name == "Save") {
    save_ = reader.ReadBoolean();
  } else if (name == "Visible") {
    visible_ = reader.ReadBoolean();
  } else if (name == "OnSaveLineEnd" || name == "OnSaveLineStart" || name == "Left" || name == "Top" ||
             name == "OnPrint") {
    reader.SkipValue();
  } else {
    return TppCacheable::ReadProperty(name, reader);
  }
  return true;
}

// ---- band kinds

void TppPageBand::SetPrintOnFirstPage(bool value) {
  print_on_first_page_ = value;
  ResetReportEngine();
}

void TppPageBand::SetPrintOnLastPage(bool value) {
  print_on_last_page_ = value;
  ResetReportEngine();
}

void TppPageBand::WriteProperties(TWriter& writer) const {
  TppBand::WriteProperties(writer);
  if (!print_on_first_page_) {
    writer.WritePropName("PrintOnFirstPage");
    writer.WriteBoolean(false);
  }
  if (!print_on_last_page_) {
    writer.WritePropName("PrintOnLastPage");
    writer.WriteBoolean(false);
  }
}

bool TppPageBand::ReadProperty(const std::string& name, TReader& reader) {
  if (name == "PrintOnFirstPage") {
    print_on_first_page_ = reader.ReadBoolean();
  } else if (name == "PrintOnLastPage") {
    print_on_last_page_ = reader.ReadBoolean();
  } else {
    return TppBand::ReadProperty(name, reader);
  }
  return true;
}

void TppReportBand::SetNewPage(bool value) {
  new_page_ = value;
  ResetReportEngine();
}

void TppReportBand::WriteProperties(TWriter& writer) const {
  TppCustomBand::WriteProperties(writer);
  if (new_page_) {
    writer.WritePropName("NewPage");
    writer.WriteBoolean(true);
  }
}

bool TppReportBand::ReadProperty(const std::string& name, TReader& reader) {
  if (name != "NewPage") return TppCustomBand::ReadProperty(name, reader);
  new_page_ = reader.ReadBoolean();
  return true;
}

TppDetailBand::~TppDetailBand() { SetDataPipeline(nullptr); }

void TppDetailBand::SetPrintHeight(TppPrintHeightType value) {
  if (value == phDynamic && column_traversal_ == ctLeftToRight) return;
  TppCustomBand::SetPrintHeight(value);
}

void TppDetailBand::SetPrintCount(int32_t value) {
  print_count_ = value;
  ResetReportEngine();
}

void TppDetailBand::SetBandsPerRecord(int32_t value) {
  bands_per_record_ = value < 1 ? 1 : value;
  ResetReportEngine();
}

void TppDetailBand::SetColumnTraversal(TppColumnTraversalType value) {
  column_traversal_ = value;
  if (value == ctLeftToRight && PrintHeight() == phDynamic) TppCustomBand::SetPrintHeight(phStatic);
  ResetReportEngine();
}

void TppDetailBand::SetDataPipeline(TppDataPipeline* pipeline) {
  if (pipeline == data_pipeline_) return;
  if (data_pipeline_ != nullptr) data_pipeline_->RemoveEventListener(this);
  data_pipeline_ = pipeline;
  data_pipeline_name_ = pipeline != nullptr ? pipeline->Name() : "";
  if (pipeline != nullptr) pipeline->AddEventListener(this);
  ResetReportEngine();
}

void TppDetailBand::LinkNotify(TppCommunicator* sender, TppOperationType operation) {
  TppCustomBand::LinkNotify(sender, operation);
  if (operation == ppopRemove && sender != nullptr && sender == data_pipeline_) {
    data_pipeline_ = nullptr;
    data_pipeline_name_.clear();
    ResetReportEngine();
  }
}

void TppDetailBand::WriteProperties(TWriter& writer) const {
  TppCustomBand::WriteProperties(writer);
  if (bands_per_record_ != 1) {
    writer.WritePropName("BandsPerRecord");
    writer.WriteInteger(bands_per_record_);
  }
  if (column_traversal_ != ctTopToBottom) {
    writer.WritePropName("ColumnTraversal");
    writer.WriteIdent("ctLeftToRight");
  }
  if (data_pipeline_ != nullptr) {
    writer.WritePropName("DataPipeline");
    writer.WriteString(data_pipeline_->Name());
  }
  if (print_count_ != 0) {
    writer.WritePropName("PrintCount");
    writer.WriteInteger(print_count_);
  }
}

bool TppDetailBand::ReadProperty(const std::string& name, TReader& reader) {
  if (name == "BandsPerRecord") {
    const int32_t value = reader.ReadInteger();
    bands_per_record_ = value < 1 ? 1 : value;
  } else if (name == "ColumnTraversal") {
    const std::string ident = reader.ReadIdent();
    if (ident == "ctTopToBottom") {
      column_traversal_ = ctTopToBottom;
    } else if (ident == "ctLeftToRight") {
      column_traversal_ = ctLeftToRight;
    } else {
      reader.Error("unknown column traversal " + ident);
    }
  } else if (name == "DataPipeline") {
    data_pipeline_name_ = reader.ReadString();
  } else if (name == "PrintCount") {
    print_count_ = reader.ReadInteger();
  } else if (name == "DataSource") {
    data_source_ = reader.ReadString();
  } else if (name == "NoRecordsAction" || name == "SkipWhenNoRecords") {
    reader.SkipValue();
  } else {
    return TppCustomBand::ReadProperty(name, reader);
  }
  return true;
}

bool TppPageStyle::Frozen() const { return Report() != nullptr && Report()->Generating(); }

void TppPageStyle::SetPageSetting(TppPageSettingType value) {
  if (!Frozen()) page_setting_ = value;
}

void TppPageStyle::SetPageList(const std::vector<std::string>& value) {
  if (!Frozen()) page_list_ = value;
}

void TppPageStyle::SetSinglePage(int32_t value) {
  if (!Frozen()) single_page_ = value;
}

void TppPageStyle::SetStartPage(int32_t value) {
  if (!Frozen()) start_page_ = value;
}

void TppPageStyle::SetEndPage(int32_t value) {
  if (!Frozen()) end_page_ = value;
}

void TppPageStyle::SetValidPages(const std::string& text) {
  if (Frozen()) return;
  std::vector<std::string> pages;
  std::string item;
  auto flush = [&] {
    if (item.empty()) return;
    const size_t dash = item.find('-');
    if (dash != std::string::npos && dash > 0 && dash + 1 < item.size()) {
      const long from = std::strtol(item.substr(0, dash).c_str(), nullptr, 10);
      const long to = std::strtol(item.substr(dash + 1).c_str(), nullptr, 10);
      // A range is capped so that a typing slip cannot make a list of millions.
      for (long page = from; page <= to && page - from < 10000; ++page) pages.push_back(std::to_string(page));
    } else {
      pages.push_back(item);
    }
    item.clear();
  };
  for (char c : text) {
    if (c == ',' || c == ' ' || c == ';') {
      flush();
    } else {
      item += c;
    }
  }
  flush();
  page_list_ = pages;
  page_setting_ = psPageList;
}

std::string TppPageStyle::ValidPages() const {
  std::string text;
  for (const std::string& page : page_list_) text += (text.empty() ? "" : ",") + page;
  return text;
}

}  // namespace parvel::report
