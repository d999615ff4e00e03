#pragma once

class QWidget;

// Window-manager hints Qt has no words for.
namespace X11WindowState {

// Keeps an unmapped top-level out of the taskbar and the pager (and so the window switchers that follow
// them); Qt keeps these states when it maps the window. Does nothing off X11.
void skipTaskbarAndPager(QWidget* window);

} // namespace X11WindowState
