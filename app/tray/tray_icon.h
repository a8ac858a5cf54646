#pragma once
// TRxTrayIcon: puts an icon into the notification area, keeps its tooltip and image up to date,
// turns mouse activity on it into events and shows a pop-up menu on a right click.
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/tray/icon.h"
#include "app/tray/icon_list.h"
#include "app/tray/notification_area.h"
#include "app/tray/popup_menu.h"
#include "report/base/component.h"

namespace parvel::tray {

class TAnimationWorker;

using TNotifyEvent = std::function<void(report::TComponent* sender)>;
using TMouseEvent =
    std::function<void(report::TComponent* sender, TMouseButton button, TShiftState shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(report::TComponent* sender, TShiftState shift, int x, int y)>;
// The application's error report: shows a failure that escaped the icon's mouse work.
using TErrorReport = std::function<void(const std::string& message)>;

// The part of a hint before its first "|", cut to the record's 63 characters.
QString ShortHint(const QString& hint);

class TRxTrayIcon : public report::TComponent {
 public:
  // Reaches the notification area through the installed NotificationArea service.
  explicit TRxTrayIcon(report::TComponent* owner = nullptr);
  ~TRxTrayIcon() override;

  std::string ClassName() const override { return "TRxTrayIcon"; }
  // After the owner has been loaded: the icon goes into the area when Active.
  void Loaded() override;
  // Published properties that differ from their defaults: Active, Animated, Enabled, Hint,
  // Icon.Data, Icons (the icon list's stored form) and Interval. The pop-up menu is a Qt object,
  // not a component of the stream: its owner assigns it.
  void WriteProperties(report::TWriter& writer) const override;
  bool ReadProperty(const std::string& name, report::TReader& reader) override;

  bool Active() const { return active_; }
  void SetActive(bool value);
  // When false, mouse activity on the icon is ignored.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value) { enabled_ = value; }
  const QString& Hint() const { return hint_; }
  void SetHint(const QString& value);
  // The image shown when not animating; changing it in place refreshes the area.
  TIcon& Icon() { return icon_; }
  void SetIcon(const TIcon& value) { icon_.Assign(value); }
  TIconList& Icons() { return icons_; }
  void SetIcons(const TIconList& value) { icons_.Assign(value); }
  // Can only become true while Icons holds something.
  bool Animated() const { return animated_; }
  void SetAnimated(bool value);
  uint16_t Interval() const { return interval_; }
  void SetInterval(uint16_t value);
  TPopupMenu* PopupMenu() const { return popup_menu_; }
  // Not owned; unassigned by itself when the menu is freed first.
  void SetPopupMenu(TPopupMenu* value) { popup_menu_ = value; }
  // Shows the icon while a form is designed; there is no designer, so it has no effect.
  bool ShowDesign() const { return show_design_; }
  void SetShowDesign(bool value) { show_design_ = value; }

  TMouseEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;

  // Without one, a failure is written as one line on standard error.
  void SetErrorReport(TErrorReport report) { error_report_ = std::move(report); }

  void AddToTray();
  void RemoveFromTray();
  // Brings the area up to date after a change of the icon, the icons or the hint.
  void RefreshTray();
  // The icon to show now; nullptr or an empty icon means none.
  const TIcon* CurrentIcon() const;
  // Shows the pop-up menu at (x, y) and waits until it closes; false when it may not be shown.
  bool PopupAtCursor(int x, int y);

  // State the area and tests look at.
  bool Added() const { return added_; }
  int FrameIndex() const { return frame_index_; }
  TTrayWindow& Window() { return *window_; }
  const TNotifyIconData& NotifyData() const { return notify_data_; }

 protected:
  virtual void FillNotifyData();

  virtual void DoDblClick();
  virtual void DoClick(TMouseButton button, TShiftState shift, int x, int y);
  virtual void DoMouseDown(TMouseButton button, TShiftState shift, int x, int y);
  virtual void DoMouseMove(TShiftState shift, int x, int y);
  virtual void DoMouseUp(TMouseButton button, TShiftState shift, int x, int y);

 private:
  NotificationArea& Area() const;
  void WndProc(uint32_t message, TTrayMouseMessage mouse);
  void HandleMouse(TTrayMouseMessage mouse);
  void ReportError(const std::string& message);
  void StopAnimation();
  void AnimationStep();

  bool active_ = true;
  bool enabled_ = true;
  QString hint_;
  TIcon icon_;
  TIconList icons_;
  bool animated_ = false;
  uint16_t interval_ = 150;
  QPointer<TPopupMenu> popup_menu_;
  bool show_design_ = false;
  TErrorReport error_report_;

  std::unique_ptr<TTrayWindow> window_;
  TNotifyIconData notify_data_;
  bool added_ = false;
  bool clicked_left_ = false;
  bool clicked_right_ = false;
  int frame_index_ = -1;
  // Animated as read from a stream: applied once loading is over, when Icons has been read too.
  bool read_animated_ = false;
  // The animation's frame steps arrive through the message loop, addressed to this object.
  std::unique_ptr<QObject> step_context_;
  std::unique_ptr<TAnimationWorker> worker_;
};

}  // namespace parvel::tray
