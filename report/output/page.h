#pragma once
// A generated page: its numbers and flags, a copy of the printer setup in force when it was
// generated, and its draw commands in drawing order, which it owns.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "report/base/font.h"
#include "report/base/relative.h"
#include "report/output/printer_setup.h"

namespace parvel::report {

class TppDrawCommand;

enum TppPassSettingType : uint8_t { psOnePass, psTwoPass };

using TDateTime = double;

class TppPage : public TppRelative {
 public:
  explicit TppPage(TComponent* owner = nullptr);
  ~TppPage() override;

  std::string ClassName() const override { return "TppPage"; }
  void LinkNotify(TppCommunicator* sender, TppOperationType operation) override;
  void InsertChild(int index, TppRelative* child) override;
  void RemoveChild(TppRelative* child) override;
  void WriteProperties(TWriter& writer) const override;
  bool ReadProperty(const std::string& name, TReader& reader) override;
  bool AddStreamedChild(TComponent& child) override;

  // Copies the numbers, flags and setup, and the draw commands class by class.
  void Assign(const TppPage& source);
  // Frees the draw commands and resets the numbers and flags; keeps Color and the setup.
  void Clear();

  // Throws EOutlineError for a second outline command. A command of another page leaves it.
  void AddDrawCommand(TppDrawCommand* aDrawCommand);
  // The command is not freed: its caller holds it from then on.
  void RemoveDrawCommand(TppDrawCommand* aDrawCommand);
  // Puts a command built by the caller on this page, which holds it from then on, and answers
  // it. A command the page refuses (a second outline) is freed and the error leaves.
  template <class T>
  T& Add(std::unique_ptr<T> command) {
    T& added = *command;
    AddDrawCommand(command.get());
    (void)command.release();  // held by this page from here on
    return added;
  }
  int DrawCommandCount() const { return ChildCount(); }
  TppDrawCommand* DrawCommands(int index) const;
  const std::vector<TppDrawCommand*>* ClickableCommands() const { return clickable_.get(); }
  const std::vector<TppDrawCommand*>* UpdateableCommands() const { return updateable_.get(); }
  void UpdateCommands();

  // "Página 3 de 7" and "Página 3", for outlines and previews.
  std::string PageDescription() const;
  std::string PageNoText() const;

  int32_t AbsolutePageNo() const { return absolute_page_no_; }
  void SetAbsolutePageNo(int32_t v) { absolute_page_no_ = v; }
  int32_t AbsolutePageCount() const { return absolute_page_count_; }
  void SetAbsolutePageCount(int32_t v) { absolute_page_count_ = v; }
  bool Calculation() const { return calculation_; }
  void SetCalculation(bool v) { calculation_ = v; }
  TColor Color() const { return color_; }
  void SetColor(TColor v) { color_ = v; }
  int32_t ControlGroupBreakNo() const { return control_group_break_no_; }
  void SetControlGroupBreakNo(int32_t v) { control_group_break_no_ = v; }
  const std::string& DocumentName() const { return document_name_; }
  void SetDocumentName(const std::string& v) { document_name_ = v; }
  bool Final() const { return final_; }
  void SetFinal(bool v) { final_ = v; }
  bool FirstPage() const { return first_page_; }
  void SetFirstPage(bool v) { first_page_ = v; }
  int32_t LanguageIndex() const { return language_index_; }
  void SetLanguageIndex(int32_t v) { language_index_ = v; }
  bool LastPage() const { return last_page_; }
  void SetLastPage(bool v) { last_page_ = v; }
  int32_t PageNo() const { return page_no_; }
  void SetPageNo(int32_t v) { page_no_ = v; }
  int32_t PageCount() const { return page_count_; }
  void SetPageCount(int32_t v) { page_count_ = v; }
  TppPassSettingType PassSetting() const { return pass_setting_; }
  void SetPassSetting(TppPassSettingType v) { pass_setting_ = v; }
  TDateTime PrintDateTime() const { return print_date_time_; }
  void SetPrintDateTime(TDateTime v) { print_date_time_ = v; }
  TppPrinterSetup& PrinterSetup() { return *printer_setup_; }
  const TppPrinterSetup& PrinterSetup() const { return *printer_setup_; }
  // Copies `setup`; null is ignored.
  void SetPrinterSetup(const TppPrinterSetup* setup);
  const TppPageDef& PageDef() const { return printer_setup_->PageDef(); }
  TppCommunicator* SourceReport() const { return source_report_; }
  void SetSourceReport(TppCommunicator* report);

 private:
  static void Append(std::unique_ptr<std::vector<TppDrawCommand*>>& list, TppDrawCommand* command);
  static void Drop(std::unique_ptr<std::vector<TppDrawCommand*>>& list, TppDrawCommand* command);
  void FreeDrawCommands();

  int32_t absolute_page_no_ = 0;
  int32_t absolute_page_count_ = 0;
  bool calculation_ = false;
  std::unique_ptr<std::vector<TppDrawCommand*>> clickable_;
  TColor color_ = clWhite;
  int32_t control_group_break_no_ = 0;
  std::string document_name_;
  bool final_ = false;
  bool first_page_ = false;
  int32_t language_index_ = 0;
  bool last_page_ = false;
  int32_t page_no_ = 0;
  int32_t page_count_ = 0;
  TppPassSettingType pass_setting_ = psOnePass;
  TDateTime print_date_time_ = 0;
  std::unique_ptr<TppPrinterSetup> printer_setup_;
  std::unique_ptr<std::vector<TppDrawCommand*>> updateable_;
  TppCommunicator* source_report_ = nullptr;  // linked
};

}  // namespace parvel::report
