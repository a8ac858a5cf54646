#include "app/program/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QString>

#include "app/agent/error_report.h"
#include "app/agent/timer.h"
#include "app/tray/popup_menu.h"
#include "app/tray/tray_icon.h"

namespace parvel::agent {

TMainWindow::TMainWindow(bool desktop, const std::filesystem::path& config_file) : desktop_(desktop) {
  setObjectName("Form1");
  setWindowTitle("Form1");
  setGeometry(138, 100, 468, 208);

  PopupMenu1 = std::make_unique<tray::TPopupMenu>();
  QAction* fechar = PopupMenu1->addAction(QString::fromUtf8("&Fechar"));
  fechar->setObjectName("Fechar1");
  QObject::connect(fechar, &QAction::triggered, this, [this] { Fechar1Click(); });

  if (desktop_) {
    RxTrayIcon1 = std::make_unique<tray::TRxTrayIcon>();
    // Set up whole before it goes into the area, so the tray docks one icon once.
    RxTrayIcon1->SetActive(false);
    RxTrayIcon1->SetName("RxTrayIcon1");
    RxTrayIcon1->SetErrorReport(ShowErrorReport);
    RxTrayIcon1->Icon().LoadFromFile(":/tray/parvel-16.png");
    RxTrayIcon1->SetPopupMenu(PopupMenu1.get());
    RxTrayIcon1->SetHint(QString::fromUtf8("Gerenciador de Impressão"));
    RxTrayIcon1->SetActive(true);
  }

  form_ = std::make_unique<TForm1>(std::make_unique<TQtTimer>(), std::make_unique<TQtTimer>(), print_);
  // Start-up runs before the message loop: the end is queued so the loop ends as soon as it starts.
  form_->OnTerminate = [] {
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
  };
  form_->OnHideMainForm = [this] {
    if (isVisible()) hide();
  };
  form_->FormCreate(config_file);
}

TMainWindow::~TMainWindow() {
  // The form's timer and report go before the tray icon and its menu.
  form_.reset();
  RxTrayIcon1.reset();
}

void TMainWindow::ShowMainForm() {
  if (desktop_) show();
}

void TMainWindow::Fechar1Click() { QCoreApplication::quit(); }

void TMainWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  QCoreApplication::quit();
}

void TMainWindow::contextMenuEvent(QContextMenuEvent* event) { PopupMenu1->exec(event->globalPos()); }

}  // namespace parvel::agent
