// One virtual X display (Xvfb) for one window of the desktop program, watched
// through the X protocol: which top-level windows are shown, and the pixels of
// a part of one. The pointer moves and clicks through the XTEST extension, as
// a mouse would; the keys of the file dialog go through xdotool.
#pragma once
#include "Child.h"
#include <QByteArray>
#include <QPoint>
#include <QRect>
#include <QStringList>
#include <cstdint>
#include <vector>

struct xcb_connection_t;

namespace stopbench {

class XScreen {
public:
    XScreen() = default;
    XScreen(const XScreen&) = delete;
    XScreen& operator=(const XScreen&) = delete;
    ~XScreen();

    bool Start(QString& why);
    QString Display() const { return m_display; }
    // Shown top-level windows, menus and tool tips left out, in stacking order.
    std::vector<std::uint32_t> Windows();
    // The pixels of `r` inside window `w`; empty when it could not be read.
    QByteArray Grab(std::uint32_t w, const QRect& r);
    // A point inside window `w` on the screen.
    QPoint OnScreen(std::uint32_t w, const QPoint& inside);
    // Moves the pointer (screen coordinates) and, with `click`, presses and
    // releases the left button there; returns once the X server has taken it.
    bool Pointer(const QPoint& at, bool click = false);
    // Runs `xdotool args` on this display and waits for it (ten seconds at most).
    bool Xdotool(const QStringList& args);

private:
    Child m_server;
    QString m_display;
    xcb_connection_t* m_c = nullptr;
    std::uint32_t m_root = 0;
};

}  // namespace stopbench
