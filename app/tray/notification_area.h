#pragma once
// The notification area as the tray icon sees it: icons added, modified and deleted by a record,
// mouse messages sent back to a hidden window of the icon's own, and the few desktop calls that
// showing a pop-up menu from the tray needs. Installed through platform/services.h.
#include <QIcon>
#include <QPoint>
#include <QString>
#include <cstdint>
#include <functional>

class QMenu;

namespace parvel::tray {

enum TMouseButton { mbLeft, mbRight, mbMiddle };

enum TShiftStateFlag : uint32_t {
  ssShift = 1u << 0,
  ssAlt = 1u << 1,
  ssCtrl = 1u << 2,
  ssLeft = 1u << 3,
  ssRight = 1u << 4,
  ssMiddle = 1u << 5,
  ssDouble = 1u << 6,
};
using TShiftState = uint32_t;

// The mouse message that the area puts in the callback's second parameter.
enum class TTrayMouseMessage {
  Move,
  LeftDown,
  LeftUp,
  LeftDouble,
  RightDown,
  RightUp,
  RightDouble,
  MiddleDown,
  MiddleUp,
  MiddleDouble,
};

// The number of the callback message that tray icons ask for.
constexpr uint32_t kTrayCallbackMessage = 0xB054;
// Record flags: which of the callback message, the icon and the tip are valid.
constexpr uint32_t NIF_MESSAGE = 1;
constexpr uint32_t NIF_ICON = 2;
constexpr uint32_t NIF_TIP = 4;
// The icon handle of a record without icon: all bits set.
constexpr uint64_t kNoIconHandle = ~uint64_t{0};
// The longest tip a record holds; the 64th character of its buffer is the terminating zero.
constexpr int kMaxTipLength = 63;

// A window that nobody sees: the area sends the icon's mouse messages to it.
class TTrayWindow {
 public:
  using TWndProc = std::function<void(uint32_t message, TTrayMouseMessage mouse)>;

  explicit TTrayWindow(TWndProc proc) : proc_(std::move(proc)) {}
  TTrayWindow(const TTrayWindow&) = delete;
  TTrayWindow& operator=(const TTrayWindow&) = delete;

  // Delivers one message to the window procedure.
  void Perform(uint32_t message, TTrayMouseMessage mouse) const {
    if (proc_) proc_(message, mouse);
  }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled) { enabled_ = enabled; }

 private:
  TWndProc proc_;
  bool enabled_ = true;
};

// The notification record, in the shape of the first (88-byte) version of the desktop's own.
struct TNotifyIconData {
  uint32_t cbSize = 0;
  TTrayWindow* Wnd = nullptr;
  uint32_t uID = 0;
  uint32_t uFlags = 0;
  uint32_t uCallbackMessage = 0;
  uint64_t hIcon = kNoIconHandle;
  QIcon Icon;  // the image behind hIcon, for the area to draw
  QString szTip;
};

class NotificationArea {
 public:
  virtual ~NotificationArea() = default;

  // Each answers whether the area accepted the call. An icon is known by its window and
  // identifier: adding one that is there, or modifying or deleting one that is not, fails.
  virtual bool Add(const TNotifyIconData& data) = 0;
  virtual bool Modify(const TNotifyIconData& data) = 0;
  virtual bool Delete(const TNotifyIconData& data) = 0;

  // The cursor position in screen coordinates.
  virtual QPoint CursorPos() = 0;
  // Which of Shift, Alt and Ctrl are down now (ssShift, ssAlt, ssCtrl).
  virtual TShiftState KeyState() = 0;
  virtual void SetForegroundWindow(TTrayWindow& window) = 0;
  virtual bool IsWindowEnabled(const TTrayWindow& window) = 0;
  // Ends a mouse capture of the application's windows, so that the menu gets the mouse.
  virtual void CancelMouseMode() = 0;
  // Lets the application's pending messages run.
  virtual void ProcessMessages() = 0;
  // Shows `menu` at `at` and returns when it has closed.
  virtual void PopupMenu(QMenu& menu, QPoint at) = 0;
};

}  // namespace parvel::tray
