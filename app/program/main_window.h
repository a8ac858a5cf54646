#pragma once
// The agent as the desktop sees it: the main window "Form1" (an empty window whose context menu is
// the tray menu), the tray icon with its one command "&Fechar", and the form that polls the spool
// folder. Without a desktop only the form exists: no window, no tray.
#include <QWidget>
#include <filesystem>
#include <memory>

#include "app/agent/card_print.h"
#include "app/agent/form.h"

namespace parvel::tray {
class TPopupMenu;
class TRxTrayIcon;
}  // namespace parvel::tray

namespace parvel::agent {

class TMainWindow : public QWidget {
 public:
  // `desktop`: whether windows, boxes and the tray can be shown. The tray icon goes into the
  // notification area before the form's start-up steps run with `config_file`.
  TMainWindow(bool desktop, const std::filesystem::path& config_file);
  ~TMainWindow() override;
  TMainWindow(const TMainWindow&) = delete;
  TMainWindow& operator=(const TMainWindow&) = delete;

  // Shows the window as the message loop starts (only with a desktop).
  void ShowMainForm();
  TForm1& Form() { return *form_; }
  // Ends the application, as the tray menu's "&Fechar" does.
  void Fechar1Click();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  bool desktop_;
  TReportPrint print_;
  std::unique_ptr<tray::TPopupMenu> PopupMenu1;
  std::unique_ptr<tray::TRxTrayIcon> RxTrayIcon1;
  std::unique_ptr<TForm1> form_;
};

}  // namespace parvel::agent
