#pragma once
// A notification area in memory: it records every call in one line of text, holds the icons
// that were added, and sends mouse messages to an icon's window as the desktop would.
#include <QPoint>
#include <QString>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/tray/notification_area.h"

namespace parvel::doubles {

class NotificationAreaDouble : public tray::NotificationArea {
 public:
  bool Add(const tray::TNotifyIconData& data) override;
  bool Modify(const tray::TNotifyIconData& data) override;
  bool Delete(const tray::TNotifyIconData& data) override;
  QPoint CursorPos() override { return cursor; }
  tray::TShiftState KeyState() override { return keys; }
  void SetForegroundWindow(tray::TTrayWindow& window) override;
  bool IsWindowEnabled(const tray::TTrayWindow& window) override { return window.Enabled(); }
  void CancelMouseMode() override { calls.push_back("cancel mouse mode"); }
  void ProcessMessages() override { calls.push_back("process messages"); }
  // Records the menu's item texts; triggers the item whose text is `choose`, when set.
  void PopupMenu(QMenu& menu, QPoint at) override;

  // Sends `mouse` to the one icon shown, as its callback message; false when none is shown.
  bool Mouse(tray::TTrayMouseMessage mouse);
  // The record of the one icon shown, or nullptr.
  const tray::TNotifyIconData* Shown() const;

  // Every call as one line: "add tip=<tip> icon=<yes|no>", "modify ...", "delete",
  // "foreground", "cancel mouse mode", "process messages", "popup <x>,<y> [<items>]".
  std::vector<std::string> calls;
  bool refuse_add = false;
  QPoint cursor{100, 200};
  tray::TShiftState keys = 0;
  QString choose;

 private:
  std::map<std::pair<const tray::TTrayWindow*, uint32_t>, tray::TNotifyIconData> icons_;
};

}  // namespace parvel::doubles
