#pragma once
// A pop-up menu: a QMenu that knows whether it pops up by itself on a right click and which
// component popped it up last.
#include <QMenu>

namespace parvel::report {
class TComponent;
}

namespace parvel::tray {

class TPopupMenu : public QMenu {
 public:
  explicit TPopupMenu(QWidget* parent = nullptr) : QMenu(parent) {}

  bool AutoPopup() const { return auto_popup_; }
  void SetAutoPopup(bool value) { auto_popup_ = value; }

  // The component whose click showed the menu; its handlers can tell where they were called from.
  report::TComponent* PopupComponent() const { return popup_component_; }
  void SetPopupComponent(report::TComponent* component) { popup_component_ = component; }

 private:
  bool auto_popup_ = true;
  report::TComponent* popup_component_ = nullptr;
};

}  // namespace parvel::tray
