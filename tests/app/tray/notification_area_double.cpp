#include "tests/app/tray/notification_area_double.h"

#include <QAction>
#include <QMenu>

namespace parvel::doubles {

namespace {

std::string Describe(const char* call, const tray::TNotifyIconData& data) {
  return std::string(call) + " tip=" + data.szTip.toStdString() +
         " icon=" + (data.hIcon == tray::kNoIconHandle ? "no" : "yes");
}

}  // namespace

bool NotificationAreaDouble::Add(const tray::TNotifyIconData& data) {
  calls.push_back(Describe("add", data));
  if (refuse_add || icons_.contains({data.Wnd, data.uID})) return false;
  icons_[{data.Wnd, data.uID}] = data;
  return true;
}

bool NotificationAreaDouble::Modify(const tray::TNotifyIconData& data) {
  calls.push_back(Describe("modify", data));
  auto it = icons_.find({data.Wnd, data.uID});
  if (it == icons_.end()) return false;
  it->second = data;
  return true;
}

bool NotificationAreaDouble::Delete(const tray::TNotifyIconData& data) {
  calls.push_back("delete");
  return icons_.erase({data.Wnd, data.uID}) == 1;
}

void NotificationAreaDouble::SetForegroundWindow(tray::TTrayWindow&) { calls.push_back("foreground"); }

void NotificationAreaDouble::PopupMenu(QMenu& menu, QPoint at) {
  std::string line = "popup " + std::to_string(at.x()) + "," + std::to_string(at.y()) + " [";
  QAction* chosen = nullptr;
  for (QAction* item : menu.actions()) {
    if (line.back() != '[') line += "|";
    line += item->text().toStdString();
    if (!choose.isEmpty() && item->text() == choose) chosen = item;
  }
  calls.push_back(line + "]");
  if (chosen != nullptr) chosen->trigger();
}

bool NotificationAreaDouble::Mouse(tray::TTrayMouseMessage mouse) {
  const tray::TNotifyIconData* shown = Shown();
  if (shown == nullptr) return false;
  shown->Wnd->Perform(shown->uCallbackMessage, mouse);
  return true;
}

const tray::TNotifyIconData* NotificationAreaDouble::Shown() const {
  return icons_.size() == 1 ? &icons_.begin()->second : nullptr;
}

}  // namespace parvel::doubles
