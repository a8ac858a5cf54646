#pragma once
// Whether the agent has a desktop to show windows, boxes and a tray icon on.
namespace parvel::agent {

// Decides before the application starts: with QT_QPA_PLATFORM set, it holds ("offscreen" and
// "minimal" have no desktop); otherwise an X display must answer. Without one, Qt is told to use
// its offscreen platform, so the agent runs headless instead of failing to start.
bool PrepareDisplay();

}  // namespace parvel::agent
