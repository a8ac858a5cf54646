#include "report/output/page.h"

#include <algorithm>

#include "report/base/errors.h"
#include "report/base/language.h"
#include "report/base/stream.h"
#include "report/output/draw_command.h"

namespace parvel::report {

namespace {

constexpr const char* kPrinterSetupPrefix = "PrinterSetup.";

void WriteInt(TWriter& writer, const char* name, int64_t value) {
  writer.WritePropName(name);
  writer.WriteInteger(value);
}

void WriteBool(TWriter& writer, const char* name, bool value) {
  writer.WritePropName(name);
  writer.WriteBoolean(value);
}

}  // namespace

TppPage::TppPage(TComponent* owner)
    : TppRelative(owner), printer_setup_(std::make_unique<TppPrinterSetup>(this)) {}

TppPage::~TppPage() {
  BeginDestruction();
  // The commands leave through RemoveDrawCommand, which needs this page's lists still alive.
  FreeDrawCommands();
}

void TppPage::LinkNotify(TppCommunicator* sender, TppOperationType operation) {
  TppRelative::LinkNotify(sender, operation);
  if (operation == ppopRemove && sender == source_report_) source_report_ = nullptr;
}

void TppPage::SetSourceReport(TppCommunicator* report) {
  if (report == source_report_) return;
  if (source_report_ != nullptr) Unlink(source_report_);
  source_report_ = report;
  if (report != nullptr) Link(report);
}

void TppPage::SetPrinterSetup(const TppPrinterSetup* setup) {
  if (setup != nullptr && setup != printer_setup_.get()) printer_setup_->Assign(*setup);
}

TppDrawCommand* TppPage::DrawCommands(int index) const {
  return static_cast<TppDrawCommand*>(Children(index));
}

void TppPage::Append(std::unique_ptr<std::vector<TppDrawCommand*>>& list, TppDrawCommand* command) {
  if (!list) list = std::make_unique<std::vector<TppDrawCommand*>>();
  list->push_back(command);
}

void TppPage::Drop(std::unique_ptr<std::vector<TppDrawCommand*>>& list, TppDrawCommand* command) {
  if (!list) return;
  std::erase(*list, command);
  if (list->empty()) list.reset();
}

void TppPage::InsertChild(int index, TppRelative* child) {
  auto* command = dynamic_cast<TppDrawCommand*>(child);
  if (command == nullptr) throw EReportError("TppPage: only draw commands can be placed on a page");
  if (command->page_ != this) {
    AddDrawCommand(command);
    return;
  }
  TppRelative::InsertChild(index, child);
}

void TppPage::RemoveChild(TppRelative* child) {
  auto* command = dynamic_cast<TppDrawCommand*>(child);
  if (command != nullptr && command->page_ == this) {
    RemoveDrawCommand(command);
    return;
  }
  TppRelative::RemoveChild(child);
}

void TppPage::AddDrawCommand(TppDrawCommand* aDrawCommand) {
  if (aDrawCommand == nullptr || aDrawCommand->page_ == this) return;
  if (dynamic_cast<TppOutlineDrawCommand*>(aDrawCommand) != nullptr) {
    for (int i = 0; i < DrawCommandCount(); ++i) {
      if (dynamic_cast<TppOutlineDrawCommand*>(DrawCommands(i)) != nullptr) {
        throw EOutlineError(
            "TppPage.AddDrawCommand: Cannot add more than one draw outline command per page.");
      }
    }
  }
  if (aDrawCommand->page_ != nullptr) aDrawCommand->page_->RemoveDrawCommand(aDrawCommand);
  // Ownership moves first: a move the new owner refuses leaves the command off every page.
  aDrawCommand->ChangeOwner(this);
  TppRelative::InsertChild(ChildCount(), aDrawCommand);
  aDrawCommand->page_ = this;
  if (aDrawCommand->IsUpdateable()) Append(updateable_, aDrawCommand);
  if (aDrawCommand->Clickable()) Append(clickable_, aDrawCommand);
}

void TppPage::RemoveDrawCommand(TppDrawCommand* aDrawCommand) {
  if (aDrawCommand == nullptr || aDrawCommand->page_ != this) return;
  TppRelative::RemoveChild(aDrawCommand);
  // Clickable may have changed since the command arrived: drop it from both lists regardless.
  Drop(clickable_, aDrawCommand);
  Drop(updateable_, aDrawCommand);
  aDrawCommand->page_ = nullptr;
  if (aDrawCommand->Owner() == this && !IsDestroying()) RemoveComponent(aDrawCommand);
}

void TppPage::FreeDrawCommands() {
  while (ChildCount() > 0) delete DrawCommands(ChildCount() - 1);
}

void TppPage::UpdateCommands() {
  if (!updateable_) return;
  const std::vector<TppDrawCommand*> commands = *updateable_;
  for (TppDrawCommand* command : commands) command->Update();
}

void TppPage::Assign(const TppPage& source) {
  if (&source == this) return;
  absolute_page_no_ = source.absolute_page_no_;
  absolute_page_count_ = source.absolute_page_count_;
  calculation_ = source.calculation_;
  color_ = source.color_;
  control_group_break_no_ = source.control_group_break_no_;
  document_name_ = source.document_name_;
  final_ = source.final_;
  first_page_ = source.first_page_;
  language_index_ = source.language_index_;
  last_page_ = source.last_page_;
  pass_setting_ = source.pass_setting_;
  page_count_ = source.page_count_;
  page_no_ = source.page_no_;
  print_date_time_ = source.print_date_time_;
  SetSourceReport(source.source_report_);
  printer_setup_->Assign(*source.printer_setup_);
  FreeDrawCommands();
  for (int i = 0; i < source.DrawCommandCount(); ++i) {
    const TppDrawCommand* original = source.DrawCommands(i);
    std::unique_ptr<TppDrawCommand> copy = original->CreateSameClass();
    copy->Assign(*original);
    Add(std::move(copy));
  }
}

void TppPage::Clear() {
  FreeDrawCommands();
  absolute_page_no_ = 0;
  absolute_page_count_ = 0;
  calculation_ = false;
  control_group_break_no_ = 0;
  document_name_.clear();
  final_ = false;
  // The engine reuses one page for every page: a first-page flag left standing would mark the
  // next page as the first as well.
  first_page_ = false;
  language_index_ = 0;
  last_page_ = false;
  page_count_ = 0;
  page_no_ = 0;
}

std::string TppPage::PageDescription() const {
  return LoadLanguageString(18) + " " + std::to_string(absolute_page_no_) + " " + LoadLanguageString(16) +
         " " + std::to_string(absolute_page_count_);
}

std::string TppPage::PageNoText() const {
  return LoadLanguageString(18) + " " + std::to_string(absolute_page_no_);
}

void TppPage::WriteProperties(TWriter& writer) const {
  TppRelative::WriteProperties(writer);
  WriteInt(writer, "AbsolutePageCount", absolute_page_count_);
  WriteInt(writer, "AbsolutePageNo", absolute_page_no_);
  WriteBool(writer, "Calculation", calculation_);
  WriteInt(writer, "Color", color_);
  WriteInt(writer, "ControlGroupBreakNo", control_group_break_no_);
  writer.WritePropName("DocumentName");
  writer.WriteString(document_name_);
  WriteBool(writer, "Final", final_);
  WriteBool(writer, "FirstPage", first_page_);
  WriteInt(writer, "LanguageIndex", language_index_);
  WriteBool(writer, "LastPage", last_page_);
  WriteInt(writer, "PageCount", page_count_);
  WriteInt(writer, "PageNo", page_no_);
  writer.WritePropName("PassSetting");
  writer.WriteIdent(pass_setting_ == psTwoPass ? "psTwoPass" : "psOnePass");
  writer.WritePropName("PrintDateTime");
  writer.WriteFloat(print_date_time_);
  printer_setup_->WriteProperties(writer, kPrinterSetupPrefix);
}

bool TppPage::ReadProperty(const std::string& name, TReader& reader) {
  if (name.starts_with(kPrinterSetupPrefix)) {
    return printer_setup_->ReadProperty(name.substr(std::char_traits<char>::length(kPrinterSetupPrefix)),
                                        reader);
  }
  if (name == "AbsolutePageCount") {
    absolute_page_count_ = reader.ReadInteger();
  } else if (name == "AbsolutePageNo") {
    absolute_page_no_ = reader.ReadInteger();
  } else if (name == "Calculation") {
    calculation_ = reader.ReadBoolean();
  } else if (name == "Color") {
    color_ = static_cast<TColor>(reader.ReadInt64());
  } else if (name == "ControlGroupBreakNo") {
    control_group_break_no_ = reader.ReadInteger();
  } else if (name == "DocumentName") {
    document_name_ = reader.ReadString();
  } else if (name == "Final") {
    final_ = reader.ReadBoolean();
  } else if (name == "FirstPage") {
    first_page_ = reader.ReadBoolean();
  } else if (name == "LanguageIndex") {
    language_index_ = reader.ReadInteger();
  } else if (name == "LastPage") {
    last_page_ = reader.ReadBoolean();
  } else if (name == "PageCount") {
    page_count_ = reader.ReadInteger();
  } else if (name == "PageNo") {
    page_no_ = reader.ReadInteger();
  } else if (name == "PassSetting") {
    pass_setting_ = SameText(reader.ReadIdent(), "psTwoPass") ? psTwoPass : psOnePass;
  } else if (name == "PrintDateTime") {
    print_date_time_ = reader.ReadFloat();
  } else {
    return TppRelative::ReadProperty(name, reader);
  }
  return true;
}

bool TppPage::AddStreamedChild(TComponent& child) {
  auto* command = dynamic_cast<TppDrawCommand*>(&child);
  if (command == nullptr) return false;
  AddDrawCommand(command);
  return command->Page() == this;
}

namespace {
const bool kPageRegistered = (RegisterClass<TppPage>("TppPage"), true);
}  // namespace

}  // namespace parvel::report
