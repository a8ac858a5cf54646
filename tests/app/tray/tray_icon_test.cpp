#include "app/tray/tray_icon.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/services.h"
#include "report/base/errors.h"
#include "report/base/stream.h"
#include "tests/app/tray/notification_area_double.h"

namespace parvel::tray {
namespace {

using M = TTrayMouseMessage;
using Calls = std::vector<std::string>;

TIcon AgentIcon(int size = 32) {
  TIcon icon;
  icon.LoadFromFile(QString(":/tray/parvel-%1.png").arg(size));
  return icon;
}

std::string Flags(TShiftState shift) {
  std::string text;
  for (auto [flag, name] : {std::pair{ssShift, "Shift"},
                            {ssAlt, "Alt"},
                            {ssCtrl, "Ctrl"},
                            {ssLeft, "L"},
                            {ssRight, "R"},
                            {ssMiddle, "M"},
                            {ssDouble, "D"}}) {
    if (shift & flag) text += text.empty() ? name : std::string(" ") + name;
  }
  return "[" + text + "]";
}

std::string Button(TMouseButton button) {
  return button == mbLeft ? "left" : button == mbRight ? "right" : "middle";
}

// Calls and events of one fixture in one log: events are written into the area's call list.
class TrayIconTest : public ::testing::Test {
 protected:
  TrayIconTest() : install_(&area_) {}

  // An icon as the agent has it: image, hint, a menu with "&Fechar", every handler logging.
  std::unique_ptr<TRxTrayIcon> AgentTrayIcon() {
    auto tray = std::make_unique<TRxTrayIcon>();
    tray->SetHint("Gerenciador de Impressão");
    tray->SetPopupMenu(&menu_);
    tray->SetErrorReport([this](const std::string& message) { errors_.push_back(message); });
    tray->OnClick = [this](report::TComponent*, TMouseButton b, TShiftState s, int x, int y) {
      Log("click " + Button(b) + " " + Flags(s) + " " + std::to_string(x) + "," + std::to_string(y));
    };
    tray->OnDblClick = [this](report::TComponent*) { Log("dblclick"); };
    tray->OnMouseDown = [this](report::TComponent*, TMouseButton b, TShiftState s, int, int) {
      Log("down " + Button(b) + " " + Flags(s));
    };
    tray->OnMouseUp = [this](report::TComponent*, TMouseButton b, TShiftState s, int, int) {
      Log("up " + Button(b) + " " + Flags(s));
    };
    tray->OnMouseMove = [this](report::TComponent*, TShiftState s, int x, int y) {
      Log("move " + Flags(s) + " " + std::to_string(x) + "," + std::to_string(y));
    };
    tray->SetIcon(AgentIcon());
    area_.calls.clear();
    return tray;
  }

  void Log(const std::string& line) { area_.calls.push_back(line); }
  Calls TakeCalls() { return std::exchange(area_.calls, {}); }

  doubles::NotificationAreaDouble area_;
  platform::ScopedInstall<NotificationArea> install_;
  TPopupMenu menu_;
  QAction* fechar_ = menu_.addAction("&Fechar");
  std::vector<std::string> errors_;
};

struct HintCase {
  const char* name;
  QString hint;
  Calls calls;  // what putting the icon into the area sends
};

TEST_F(TrayIconTest, TheTipIsTheHintBeforeItsFirstBarCutTo63Characters) {
  const QString seventy = QString(60, QChar(u'a')) + "bcdefghijk";
  const std::vector<HintCase> cases = {
      {"agent", "Gerenciador de Impressão", {"delete", "add tip=Gerenciador de Impressão icon=yes"}},
      {"seventy", seventy, {"delete", "add tip=" + seventy.left(63).toStdString() + " icon=yes"}},
      {"bar", "Gerenciador|long help", {"delete", "add tip=Gerenciador icon=yes"}},
      // No tip: the icon is added and then sent once more as a modify.
      {"leading bar", "|long help", {"delete", "add tip= icon=yes", "modify tip= icon=yes"}},
      {"empty", "", {"delete", "add tip= icon=yes", "modify tip= icon=yes"}},
  };
  for (const HintCase& c : cases) {
    SCOPED_TRACE(c.name);
    TRxTrayIcon tray;
    tray.SetHint(c.hint);
    TakeCalls();
    tray.SetIcon(AgentIcon());
    EXPECT_EQ(TakeCalls(), c.calls);
    EXPECT_TRUE(tray.Added());
  }
  EXPECT_EQ(ShortHint(QString(62, QChar(u'a')) + QString::fromUcs4(U"\U0001F5A8x")).size(), 62)
      << "a character outside the BMP is not split";
}

TEST_F(TrayIconTest, TheRecordHoldsTheWindowTheFlagsTheCallbackAndTheIcon) {
  auto tray = AgentTrayIcon();
  const TNotifyIconData& data = tray->NotifyData();
  EXPECT_EQ(data.cbSize, 88u);
  EXPECT_EQ(data.Wnd, &tray->Window());
  EXPECT_EQ(data.uID, 0u);
  EXPECT_EQ(data.uFlags, 7u);
  EXPECT_EQ(data.uCallbackMessage, 0xB054u);
  EXPECT_EQ(data.hIcon, tray->Icon().Handle());
  EXPECT_EQ(data.Icon.availableSizes(), QList<QSize>{QSize(32, 32)});
}

TEST_F(TrayIconTest, WithoutAnImageNothingIsAddedAndAnEmptiedIconLeavesTheArea) {
  TRxTrayIcon tray;
  tray.SetHint("Gerenciador de Impressão");
  tray.SetActive(false);
  tray.SetActive(true);
  EXPECT_FALSE(tray.Added());
  EXPECT_EQ(area_.Shown(), nullptr);
  for (const std::string& call : TakeCalls()) EXPECT_EQ(call.rfind("add", 0), std::string::npos) << call;

  tray.SetIcon(AgentIcon());
  EXPECT_TRUE(tray.Added());
  ASSERT_NE(area_.Shown(), nullptr);
  TakeCalls();
  tray.Icon().Clear();
  EXPECT_EQ(TakeCalls(), Calls{"delete"});
  EXPECT_FALSE(tray.Added());
  EXPECT_EQ(area_.Shown(), nullptr);
}

TEST_F(TrayIconTest, ARefusedAddIsTriedAgainOnTheNextChange) {
  area_.refuse_add = true;
  auto tray = AgentTrayIcon();
  EXPECT_FALSE(tray->Added());
  area_.refuse_add = false;
  tray->SetHint("Gerenciador de Impressão");  // unchanged: no refresh
  EXPECT_TRUE(TakeCalls().empty());
  tray->SetHint("Outro");
  EXPECT_EQ(TakeCalls(), (Calls{"delete", "add tip=Outro icon=yes"}));
  EXPECT_TRUE(tray->Added());
}

TEST_F(TrayIconTest, ActiveAddsAndRemovesAndTheEndOfLoadingAddsOnceMore) {
  auto tray = AgentTrayIcon();
  tray->SetActive(false);
  EXPECT_EQ(TakeCalls(), Calls{"delete"});
  EXPECT_EQ(area_.Shown(), nullptr);
  tray->SetActive(true);
  EXPECT_EQ(TakeCalls(), (Calls{"delete", "add tip=Gerenciador de Impressão icon=yes"}));

  TRxTrayIcon loaded;
  loaded.IncludeState(report::csLoading);
  loaded.SetHint("Gerenciador de Impressão");
  loaded.SetIcon(AgentIcon());
  EXPECT_TRUE(loaded.Added()) << "changes while loading already refresh";
  TakeCalls();
  loaded.Loaded();
  EXPECT_EQ(TakeCalls(), (Calls{"delete", "add tip=Gerenciador de Impressão icon=yes"}));
  EXPECT_FALSE(loaded.IsLoading());
}

TEST_F(TrayIconTest, TheStoredDescriptionHoldsWhatDiffersFromTheDefaultsAndReadsBack) {
  TRxTrayIcon defaults;
  defaults.SetName("RxTrayIcon1");
  EXPECT_EQ(report::WriteComponentText(defaults), "object RxTrayIcon1: TRxTrayIcon\nend\n");

  TRxTrayIcon tray;
  tray.SetName("RxTrayIcon1");
  tray.SetHint("Gerenciador de Impressão|ajuda");
  tray.SetIcon(AgentIcon());
  tray.Icons().Add(AgentIcon(16));
  tray.Icons().Add(TIcon());
  tray.SetAnimated(true);
  tray.SetInterval(200);
  tray.SetEnabled(false);
  tray.SetActive(false);
  const std::string stored = report::WriteComponentText(tray);
  for (const char* name :
       {"Active =", "Animated =", "Enabled =", "Hint =", "Icon.Data =", "Icons =", "Interval ="}) {
    EXPECT_NE(stored.find(name), std::string::npos) << name << " in\n" << stored;
  }
  EXPECT_EQ(stored.find("ShowDesign"), std::string::npos);

  std::unique_ptr<report::TComponent> read_back = report::ReadComponentText(stored);
  auto* read = dynamic_cast<TRxTrayIcon*>(read_back.get());
  ASSERT_NE(read, nullptr);
  EXPECT_FALSE(read->Active());
  EXPECT_FALSE(read->Enabled());
  EXPECT_TRUE(read->Animated()) << "Animated is stored before Icons and still holds";
  EXPECT_EQ(read->Hint(), tray.Hint());
  EXPECT_EQ(read->Interval(), 200);
  EXPECT_EQ(read->Icon().Data(), tray.Icon().Data());
  EXPECT_EQ(read->Icons().WriteData(), tray.Icons().WriteData());
  EXPECT_EQ(report::WriteComponentText(*read), stored);
}

TEST_F(TrayIconTest, ReadingTheAgentsIconAddsItOnceItsImageIsReadAndOnceMoreAtTheEnd) {
  TRxTrayIcon source;
  source.SetHint("Gerenciador de Impressão");
  source.SetIcon(AgentIcon());
  const std::string stored = report::WriteComponentText(source);
  TakeCalls();

  std::unique_ptr<report::TComponent> read = report::ReadComponentText(stored);
  const std::string add = "add tip=Gerenciador de Impressão icon=yes";
  // The hint alone adds nothing; the image adds the icon; the end of loading adds it again.
  EXPECT_EQ(TakeCalls(), (Calls{"delete", "delete", add, "delete", add}));
  EXPECT_TRUE(dynamic_cast<TRxTrayIcon&>(*read).Added());
}

TEST_F(TrayIconTest, ABadStoredValueIsAStreamErrorAtItsLine) {
  struct Case {
    const char* name;
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"interval beyond 16 bits", "object T: TRxTrayIcon\n  Interval = 70000\nend\n",
       "line 2: Interval 70000"},
      {"an image no reader takes", "object T: TRxTrayIcon\n  Hint = 'x'\n  Icon.Data = {414243}\nend\n",
       "line 3: Invalid icon image"},
      {"a truncated icon list", "object T: TRxTrayIcon\n  Icons = {0100000010000000}\nend\n",
       "line 2: Icon list data ends early"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      report::ReadComponentText(c.text);
      ADD_FAILURE() << "no error";
    } catch (const report::EStreamError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
  }
  EXPECT_EQ(area_.Shown(), nullptr) << "nothing of a failed read stays in the area";
}

struct MouseCase {
  const char* name;
  TShiftState keys;
  std::vector<M> messages;
  Calls expected;
};

TEST_F(TrayIconTest, EveryMouseMessageDoesItsWorkInOrder) {
  const Calls menu = {"cancel mouse mode", "foreground", "process messages", "popup 100,200 [&Fechar]",
                      "foreground"};
  auto with_menu = [&](Calls before, Calls after) {
    before.insert(before.end(), menu.begin(), menu.end());
    before.insert(before.end(), after.begin(), after.end());
    return before;
  };
  const std::vector<MouseCase> cases = {
      {"move", ssShift, {M::Move}, {"move [Shift] 100,200"}},
      {"left click", 0, {M::LeftDown, M::LeftUp}, {"down left [L]", "click left [] 100,200", "up left []"}},
      {"left double click",
       0,
       {M::LeftDown, M::LeftUp, M::LeftDouble, M::LeftUp},
       {"down left [L]", "click left [] 100,200", "up left []", "dblclick", "down left [D]", "up left []"}},
      {"left up without down", 0, {M::LeftUp}, {"up left []"}},
      {"right click",
       ssCtrl | ssAlt,
       {M::RightDown, M::RightUp},
       with_menu({"down right [Alt Ctrl R]"}, {"up right [Alt Ctrl]"})},
      {"right went down elsewhere", 0, {M::RightUp}, {"up right []"}},
      {"right double click", 0, {M::RightDouble}, {"down right [D]"}},
      {"middle",
       ssShift,
       {M::MiddleDown, M::MiddleUp, M::MiddleDouble},
       {"down middle [Shift M]", "up middle [Shift M]", "down middle [Shift D]"}},
      {"left flag is not the right flag", 0, {M::LeftDown, M::RightUp}, {"down left [L]", "up right []"}},
  };
  for (const MouseCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto tray = AgentTrayIcon();
    area_.keys = c.keys | ssLeft;  // only Shift, Alt and Ctrl are taken from the key state
    for (M message : c.messages) ASSERT_TRUE(area_.Mouse(message));
    EXPECT_EQ(TakeCalls(), c.expected);
  }
}

TEST_F(TrayIconTest, AddingOrRemovingClearsTheClickFlags) {
  auto tray = AgentTrayIcon();
  area_.Mouse(M::RightDown);
  area_.Mouse(M::LeftDown);
  tray->SetHint("Outro");  // a modify keeps them
  tray->SetActive(false);
  tray->SetActive(true);
  TakeCalls();
  area_.Mouse(M::RightUp);
  area_.Mouse(M::LeftUp);
  EXPECT_EQ(TakeCalls(), (Calls{"up right []", "up left []"}));
}

TEST_F(TrayIconTest, DisabledTheIconIgnoresTheMouse) {
  auto tray = AgentTrayIcon();
  tray->SetEnabled(false);
  for (M message : {M::Move, M::RightDown, M::RightUp, M::LeftDown, M::LeftUp, M::LeftDouble}) {
    area_.Mouse(message);
  }
  tray->Window().Perform(0x0200, M::RightUp);  // not the callback message
  EXPECT_TRUE(TakeCalls().empty());
}

TEST_F(TrayIconTest, ARightClickWithoutAutomaticPopupOrMenuIsAClick) {
  auto tray = AgentTrayIcon();
  menu_.SetAutoPopup(false);
  area_.Mouse(M::RightDown);
  area_.Mouse(M::RightUp);
  EXPECT_EQ(TakeCalls(), (Calls{"down right [R]", "click right [] 100,200", "up right []"}));

  menu_.SetAutoPopup(true);
  tray->SetPopupMenu(nullptr);
  area_.Mouse(M::RightDown);
  area_.Mouse(M::RightUp);
  EXPECT_EQ(TakeCalls(), (Calls{"down right [R]", "click right [] 100,200", "up right []"}));
}

TEST_F(TrayIconTest, ChoosingFecharRunsItsHandlerAndTheMenuKnowsWhoShowedIt) {
  auto tray = AgentTrayIcon();
  int closed = 0;
  QObject::connect(fechar_, &QAction::triggered, [&] { ++closed; });
  area_.choose = "&Fechar";
  area_.Mouse(M::RightDown);
  area_.Mouse(M::RightUp);
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(menu_.PopupComponent(), tray.get());
  EXPECT_EQ(QKeySequence::mnemonic(fechar_->text()), QKeySequence(Qt::ALT | Qt::Key_F));

  tray->SetActive(false);
  EXPECT_FALSE(tray->PopupAtCursor(1, 2)) << "an inactive icon shows no menu";
}

TEST_F(TrayIconTest, ADoubleClickClicksTheEnabledDefaultItemInsteadOfTheHandler) {
  auto tray = AgentTrayIcon();
  QAction* open = menu_.addAction("Abrir");
  int opened = 0;
  QObject::connect(open, &QAction::triggered, [&] { ++opened; });
  struct Case {
    const char* name;
    QAction* default_item;
    bool enabled;
    int opened;
    bool handler;
  };
  for (const Case& c : {Case{"no default item (the agent's menu)", nullptr, true, 0, true},
                        Case{"enabled default item", open, true, 1, false},
                        Case{"disabled default item", open, false, 0, true}}) {
    SCOPED_TRACE(c.name);
    menu_.setDefaultAction(c.default_item);
    open->setEnabled(c.enabled);
    opened = 0;
    area_.Mouse(M::LeftDouble);
    EXPECT_EQ(opened, c.opened);
    const Calls expected = c.handler ? Calls{"dblclick", "down left [D]"} : Calls{"down left [D]"};
    EXPECT_EQ(TakeCalls(), expected);
  }
}

TEST_F(TrayIconTest, AFailingHandlerIsReportedOnceAndTheIconStaysUsable) {
  auto tray = AgentTrayIcon();
  tray->OnMouseDown = [](report::TComponent*, TMouseButton, TShiftState, int, int) {
    throw std::runtime_error("falhou");
  };
  area_.Mouse(M::RightDown);
  EXPECT_EQ(errors_, std::vector<std::string>{"falhou"});
  tray->OnMouseMove = [](report::TComponent*, TShiftState, int, int) { throw 42; };
  area_.Mouse(M::Move);
  ASSERT_EQ(errors_.size(), 2u) << "a failure that is no exception class is reported too";
  errors_.pop_back();
  tray->OnMouseDown = nullptr;
  area_.Mouse(M::RightDown);
  area_.Mouse(M::RightUp);
  const Calls calls = TakeCalls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "popup 100,200 [&Fechar]"), calls.end());
  EXPECT_EQ(errors_.size(), 1u);
}

TEST_F(TrayIconTest, AFreedMenuIsUnassignedAndDestructionRemovesTheIcon) {
  auto tray = AgentTrayIcon();
  {
    TPopupMenu other;
    tray->SetPopupMenu(&other);
  }
  EXPECT_EQ(tray->PopupMenu(), nullptr);
  tray.reset();
  EXPECT_EQ(TakeCalls(), Calls{"delete"});
  EXPECT_EQ(area_.Shown(), nullptr);
}

TEST_F(TrayIconTest, TheAnimationCyclesThroughTheIconsOnTheLoopThread) {
  auto tray = AgentTrayIcon();
  tray->SetAnimated(true);
  EXPECT_FALSE(tray->Animated()) << "no icons, no animation";
  EXPECT_EQ(tray->FrameIndex(), -1);

  tray->Icons().BeginUpdate();
  tray->Icons().Add(AgentIcon(16));
  tray->Icons().Add(AgentIcon(32));
  tray->Icons().EndUpdate();
  tray->SetInterval(5);
  tray->SetAnimated(true);
  EXPECT_EQ(tray->FrameIndex(), 0);
  EXPECT_EQ(tray->CurrentIcon(), &tray->Icons().Get(0));

  std::set<int> frames;
  const QDeadlineTimer deadline(10000);
  while (frames.size() < 2 && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    frames.insert(tray->FrameIndex());
    QThread::msleep(1);
  }
  EXPECT_EQ(frames, (std::set<int>{0, 1}));
  EXPECT_EQ(area_.Shown()->hIcon, tray->CurrentIcon()->Handle());

  tray->Icons().Clear();
  EXPECT_FALSE(tray->Animated()) << "emptying the icons ends the animation";
  EXPECT_EQ(area_.Shown()->hIcon, tray->Icon().Handle());
}

}  // namespace
}  // namespace parvel::tray
