#include "app/tray/tray_icon.h"

#include <QAction>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <span>
#include <utility>
#include <vector>

#include "app/tray/animation_worker.h"
#include "platform/services.h"
#include "report/base/stream.h"

namespace parvel::tray {

QString ShortHint(const QString& hint) {
  QString tip = hint.section(QLatin1Char('|'), 0, 0);
  if (tip.size() > kMaxTipLength) {
    // Never leave half of a surrogate pair at the end.
    int length = kMaxTipLength;
    if (tip.at(length - 1).isHighSurrogate()) --length;
    tip.truncate(length);
  }
  return tip;
}

TRxTrayIcon::TRxTrayIcon(report::TComponent* owner)
    : report::TComponent(owner),
      window_(std::make_unique<TTrayWindow>(
          [this](uint32_t message, TTrayMouseMessage mouse) { WndProc(message, mouse); })),
      step_context_(std::make_unique<QObject>()) {
  icon_.OnChange = [this] { RefreshTray(); };
  icons_.OnChange = [this] { RefreshTray(); };
}

TRxTrayIcon::~TRxTrayIcon() {
  enabled_ = false;
  icon_.OnChange = nullptr;
  icons_.OnChange = nullptr;
  StopAnimation();
  RemoveFromTray();
  if (popup_menu_ && popup_menu_->PopupComponent() == this) popup_menu_->SetPopupComponent(nullptr);
  window_.reset();
}

NotificationArea& TRxTrayIcon::Area() const { return platform::Get<NotificationArea>(); }

void TRxTrayIcon::Loaded() {
  report::TComponent::Loaded();
  if (std::exchange(read_animated_, false)) SetAnimated(true);
  if (active_) AddToTray();
}

void TRxTrayIcon::WriteProperties(report::TWriter& writer) const {
  report::TComponent::WriteProperties(writer);
  if (!active_) {
    writer.WritePropName("Active");
    writer.WriteBoolean(false);
  }
  if (animated_) {
    writer.WritePropName("Animated");
    writer.WriteBoolean(true);
  }
  if (!enabled_) {
    writer.WritePropName("Enabled");
    writer.WriteBoolean(false);
  }
  if (!hint_.isEmpty()) {
    writer.WritePropName("Hint");
    writer.WriteString(hint_.toStdString());
  }
  auto bytes = [](const QByteArray& data) {
    return std::span(reinterpret_cast<const uint8_t*>(data.constData()), static_cast<size_t>(data.size()));
  };
  if (!icon_.Empty()) {
    writer.WritePropName("Icon.Data");
    writer.WriteBinary(bytes(icon_.Data()));
  }
  if (interval_ != 150) {
    writer.WritePropName("Interval");
    writer.WriteInteger(interval_);
  }
  if (icons_.Count() > 0) {
    const QByteArray stored = icons_.WriteData();
    writer.WritePropName("Icons");
    writer.WriteBinary(bytes(stored));
  }
}

bool TRxTrayIcon::ReadProperty(const std::string& name, report::TReader& reader) {
  auto bytes = [](const std::vector<uint8_t>& data) {
    return QByteArray(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
  };
  // A bad image or icon list is reported at its line, like any other malformed value.
  auto at_line = [&reader](const auto& read) {
    const int line = reader.Line();
    try {
      read();
    } catch (const EInvalidGraphic& e) {
      reader.ErrorAt(line, e.what());
    } catch (const EListError& e) {
      reader.ErrorAt(line, e.what());
    }
  };
  if (name == "Active") {
    SetActive(reader.ReadBoolean());
  } else if (name == "Animated") {
    // Icons may come later in the stream: the value waits for the end of loading.
    read_animated_ = reader.ReadBoolean();
  } else if (name == "Enabled") {
    SetEnabled(reader.ReadBoolean());
  } else if (name == "Hint") {
    SetHint(QString::fromStdString(reader.ReadString()));
  } else if (name == "Icon.Data") {
    at_line([&] { icon_.LoadFromData(bytes(reader.ReadBinary())); });
  } else if (name == "Icons") {
    at_line([&] { icons_.ReadData(bytes(reader.ReadBinary())); });
  } else if (name == "Interval") {
    const int line = reader.Line();
    const int64_t value = reader.ReadInt64();
    if (value < 0 || value > 0xFFFF)
      reader.ErrorAt(line, "Interval " + std::to_string(value) + " is out of range");
    SetInterval(static_cast<uint16_t>(value));
  } else {
    return report::TComponent::ReadProperty(name, reader);
  }
  return true;
}

void TRxTrayIcon::SetActive(bool value) {
  if (value == active_) return;
  active_ = value;
  if (IsLoading()) return;
  if (active_) {
    AddToTray();
  } else {
    RemoveFromTray();
  }
}

void TRxTrayIcon::SetHint(const QString& value) {
  if (value == hint_) return;
  hint_ = value;
  RefreshTray();
}

void TRxTrayIcon::SetAnimated(bool value) {
  if (value && icons_.Count() == 0) value = false;
  if (value == animated_) return;
  animated_ = value;
  if (animated_) {
    worker_ = std::make_unique<TAnimationWorker>(
        step_context_.get(), [this] { AnimationStep(); }, std::chrono::milliseconds(interval_));
    if (added_) worker_->Run();
  } else {
    worker_.reset();
  }
  frame_index_ = 0;
  RefreshTray();
}

void TRxTrayIcon::SetInterval(uint16_t value) {
  interval_ = value;
  if (worker_) worker_->SetInterval(std::chrono::milliseconds(interval_));
}

void TRxTrayIcon::StopAnimation() {
  animated_ = false;
  worker_.reset();
}

void TRxTrayIcon::AnimationStep() {
  if (!animated_ || icons_.Count() == 0) return;
  frame_index_ = frame_index_ + 1 >= icons_.Count() ? 0 : frame_index_ + 1;
  RefreshTray();
}

const TIcon* TRxTrayIcon::CurrentIcon() const {
  if (icons_.Count() > 0 && animated_) {
    return &icons_.Get(std::clamp(frame_index_, 0, icons_.Count() - 1));
  }
  return &icon_;
}

void TRxTrayIcon::FillNotifyData() {
  const TIcon* icon = CurrentIcon();
  const bool has_icon = icon != nullptr && !icon->Empty();
  notify_data_.cbSize = 88;
  notify_data_.Wnd = window_.get();
  notify_data_.uID = 0;
  notify_data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  notify_data_.uCallbackMessage = kTrayCallbackMessage;
  notify_data_.hIcon = has_icon ? icon->Handle() : kNoIconHandle;
  notify_data_.Icon = has_icon ? icon->Images() : QIcon();
  notify_data_.szTip = ShortHint(hint_);
}

void TRxTrayIcon::AddToTray() {
  RemoveFromTray();
  const TIcon* icon = CurrentIcon();
  if (icon == nullptr || icon->Empty()) return;
  clicked_left_ = clicked_right_ = false;
  FillNotifyData();
  added_ = Area().Add(notify_data_);
  if (ShortHint(hint_).isEmpty() && added_) Area().Modify(notify_data_);
  if (animated_ && worker_) worker_->Run();
}

void TRxTrayIcon::RemoveFromTray() {
  FillNotifyData();
  Area().Delete(notify_data_);
  added_ = false;
  clicked_left_ = clicked_right_ = false;
  if (animated_ && worker_) worker_->Hold();
}

void TRxTrayIcon::RefreshTray() {
  if (icons_.Count() == 0 && animated_) {
    StopAnimation();
    frame_index_ = 0;
  }
  if (added_) {
    const TIcon* icon = CurrentIcon();
    if (icon == nullptr || icon->Empty()) {
      RemoveFromTray();
    } else {
      FillNotifyData();
      Area().Modify(notify_data_);
    }
  } else if (active_) {
    // A form designer would also add it with ShowDesign; there is none at run time.
    AddToTray();
  }
}

bool TRxTrayIcon::PopupAtCursor(int x, int y) {
  if (!active_ || !popup_menu_ || !popup_menu_->AutoPopup()) return false;
  NotificationArea& area = Area();
  const auto alive = Liveness();
  popup_menu_->SetPopupComponent(this);
  area.CancelMouseMode();
  if (area.IsWindowEnabled(*window_)) area.SetForegroundWindow(*window_);
  area.ProcessMessages();
  // The pending messages may have freed the menu, or this icon with its owner.
  if (alive.expired()) return true;
  if (!popup_menu_) return false;
  struct RestoreForeground {
    const std::weak_ptr<const void>& alive;
    NotificationArea& area;
    TTrayWindow* window;
    ~RestoreForeground() {
      if (!alive.expired()) area.SetForegroundWindow(*window);
    }
  } restore{alive, area, window_.get()};
  area.PopupMenu(*popup_menu_, QPoint(x, y));
  return true;
}

void TRxTrayIcon::DoDblClick() {
  if (popup_menu_) {
    QAction* default_item = popup_menu_->defaultAction();
    for (QAction* item : popup_menu_->actions()) {
      if (item == default_item && item->isEnabled()) {
        item->trigger();
        return;
      }
    }
  }
  if (OnDblClick) OnDblClick(this);
}

void TRxTrayIcon::DoClick(TMouseButton button, TShiftState shift, int x, int y) {
  if (button == mbRight && PopupAtCursor(x, y)) return;
  if (OnClick) OnClick(this, button, shift, x, y);
}

void TRxTrayIcon::DoMouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
}

void TRxTrayIcon::DoMouseMove(TShiftState shift, int x, int y) {
  if (OnMouseMove) OnMouseMove(this, shift, x, y);
}

void TRxTrayIcon::DoMouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
}

void TRxTrayIcon::WndProc(uint32_t message, TTrayMouseMessage mouse) {
  // Anything else gets the default processing, which for this window is none.
  if (message != kTrayCallbackMessage || !enabled_) return;
  try {
    HandleMouse(mouse);
  } catch (const std::exception& e) {
    ReportError(e.what());
  } catch (...) {
    ReportError("Unknown failure in a tray icon handler");
  }
}

void TRxTrayIcon::ReportError(const std::string& message) {
  if (error_report_) {
    error_report_(message);
  } else {
    std::fprintf(stderr, "%s\n", message.c_str());
  }
}

void TRxTrayIcon::HandleMouse(TTrayMouseMessage mouse) {
  NotificationArea& area = Area();
  const QPoint at = area.CursorPos();
  const int x = at.x();
  const int y = at.y();
  const TShiftState keys = area.KeyState() & (ssShift | ssAlt | ssCtrl);
  // A click or a double click can run a menu command that frees this icon.
  const auto alive = Liveness();
  switch (mouse) {
    case TTrayMouseMessage::Move:
      DoMouseMove(keys, x, y);
      break;
    case TTrayMouseMessage::LeftDown:
      DoMouseDown(mbLeft, keys | ssLeft, x, y);
      clicked_left_ = true;
      break;
    case TTrayMouseMessage::LeftUp:
      if (clicked_left_) {
        clicked_left_ = false;
        DoClick(mbLeft, keys, x, y);
        if (alive.expired()) return;
      }
      DoMouseUp(mbLeft, keys, x, y);
      break;
    case TTrayMouseMessage::LeftDouble:
      DoDblClick();
      if (alive.expired()) return;
      DoMouseDown(mbLeft, keys | ssDouble, x, y);
      break;
    case TTrayMouseMessage::RightDown:
      DoMouseDown(mbRight, keys | ssRight, x, y);
      clicked_right_ = true;
      break;
    case TTrayMouseMessage::RightUp:
      if (clicked_right_) {
        clicked_right_ = false;
        DoClick(mbRight, keys, x, y);
        if (alive.expired()) return;
      }
      DoMouseUp(mbRight, keys, x, y);
      break;
    case TTrayMouseMessage::RightDouble:
      DoMouseDown(mbRight, keys | ssDouble, x, y);
      break;
    case TTrayMouseMessage::MiddleDown:
      DoMouseDown(mbMiddle, keys | ssMiddle, x, y);
      break;
    case TTrayMouseMessage::MiddleUp:
      DoMouseUp(mbMiddle, keys | ssMiddle, x, y);
      break;
    case TTrayMouseMessage::MiddleDouble:
      DoMouseDown(mbMiddle, keys | ssDouble, x, y);
      break;
  }
}

namespace {
const bool kTrayIconRegistered = (report::RegisterClass<TRxTrayIcon>("TRxTrayIcon"), true);
}  // namespace

}  // namespace parvel::tray
