#include "XScreen.h"
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <unistd.h>
#include <sys/uio.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

namespace stopbench {

namespace {
constexpr int kServerStartMs = 15000;
constexpr int kXdotoolMs = 10000;

// Reads the display number Xvfb writes to -displayfd.
QString ReadDisplay(int fd, int ms)
{
    QByteArray text;
    const double until = NowMs() + ms;
    while (!text.contains('\n') && NowMs() < until) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        char buffer[64];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, n);
    }
    return text.contains('\n') ? u':' + QString::fromLatin1(text.trimmed()) : QString();
}
// XTEST FakeInput, sent by hand: the build machine has the extension in every
// X server but not always the xcb-xtest headers.
xcb_extension_t g_xtest = {"XTEST", 0};
constexpr uint8_t kFakeInput = 2;
struct FakeInputRequest {
    uint8_t major = 0, minor = 0;
    uint16_t length = 0;
    uint8_t type = 0, detail = 0, pad0[2] = {};
    uint32_t time = 0;
    xcb_window_t root = 0;
    uint8_t pad1[8] = {};
    int16_t rootX = 0, rootY = 0;
    uint8_t pad2[7] = {};
    uint8_t deviceid = 0;
};
static_assert(sizeof(FakeInputRequest) == 36);

void FakeInput(xcb_connection_t* c, xcb_window_t root, uint8_t type, uint8_t detail, const QPoint& at)
{
    static const xcb_protocol_request_t request = {2, &g_xtest, kFakeInput, 1};
    FakeInputRequest out;
    out.type = type;
    out.detail = detail;
    out.root = root;
    out.rootX = int16_t(at.x());
    out.rootY = int16_t(at.y());
    iovec parts[4];
    parts[2].iov_base = &out;
    parts[2].iov_len = sizeof out;
    parts[3].iov_base = nullptr;
    parts[3].iov_len = 0;
    xcb_send_request(c, 0, parts + 2, &request);
}
}  // namespace

XScreen::~XScreen()
{
    if (m_c)
        xcb_disconnect(m_c);
    m_server.End();
}

bool XScreen::Start(QString& why)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        why = QStringLiteral("no pipe");
        return false;
    }
    const bool started =
        m_server.Start({QStringLiteral("Xvfb"), QStringLiteral("-displayfd"), QStringLiteral("3"),
                        QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("800x600x24"),
                        QStringLiteral("-nolisten"), QStringLiteral("tcp")},
                       {}, fds[1]);
    ::close(fds[1]);
    m_display = started ? ReadDisplay(fds[0], kServerStartMs) : QString();
    ::close(fds[0]);
    if (m_display.isEmpty()) {
        why = started ? QStringLiteral("Xvfb did not say its display") : QStringLiteral("Xvfb did not start");
        return false;
    }
    int screenNr = 0;
    m_c = xcb_connect(m_display.toLatin1().constData(), &screenNr);
    if (xcb_connection_has_error(m_c)) {
        why = QStringLiteral("cannot connect to ") + m_display;
        return false;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_c));
    for (int i = 0; i < screenNr; ++i)
        xcb_screen_next(&it);
    m_root = it.data->root;
    return true;
}

std::vector<std::uint32_t> XScreen::Windows()
{
    std::vector<std::uint32_t> shown;
    std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
        xcb_query_tree_reply(m_c, xcb_query_tree(m_c, m_root), nullptr), &std::free);
    if (!tree)
        return shown;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int n = xcb_query_tree_children_length(tree.get());
    std::vector<xcb_get_window_attributes_cookie_t> asked;
    for (int i = 0; i < n; ++i)
        asked.push_back(xcb_get_window_attributes(m_c, children[i]));
    for (int i = 0; i < n; ++i) {
        std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> a(
            xcb_get_window_attributes_reply(m_c, asked[size_t(i)], nullptr), &std::free);
        // Tool tips and menus are override-redirect; boxes and dialogs are not.
        if (a && a->map_state == XCB_MAP_STATE_VIEWABLE && !a->override_redirect)
            shown.push_back(children[i]);
    }
    return shown;
}

QByteArray XScreen::Grab(std::uint32_t w, const QRect& r)
{
    std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> image(
        xcb_get_image_reply(m_c,
                            xcb_get_image(m_c, XCB_IMAGE_FORMAT_Z_PIXMAP, w, qint16(r.x()), qint16(r.y()),
                                          quint16(r.width()), quint16(r.height()), ~0u),
                            nullptr),
        &std::free);
    if (!image)
        return {};
    return QByteArray(reinterpret_cast<const char*>(xcb_get_image_data(image.get())),
                      xcb_get_image_data_length(image.get()));
}

QPoint XScreen::OnScreen(std::uint32_t w, const QPoint& inside)
{
    std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&std::free)> to(
        xcb_translate_coordinates_reply(
            m_c, xcb_translate_coordinates(m_c, w, m_root, int16_t(inside.x()), int16_t(inside.y())), nullptr),
        &std::free);
    return to ? QPoint(to->dst_x, to->dst_y) : inside;
}

bool XScreen::Pointer(const QPoint& at, bool click)
{
    FakeInput(m_c, m_root, XCB_MOTION_NOTIFY, 0, at);
    if (click) {
        FakeInput(m_c, m_root, XCB_BUTTON_PRESS, 1, at);
        FakeInput(m_c, m_root, XCB_BUTTON_RELEASE, 1, at);
    }
    // A round trip: the server has handled everything sent before it.
    std::unique_ptr<xcb_get_input_focus_reply_t, decltype(&std::free)> focus(
        xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr), &std::free);
    return focus != nullptr;
}

bool XScreen::Xdotool(const QStringList& args)
{
    Child tool;
    if (!tool.Start(QStringList{QStringLiteral("xdotool")} + args, {QStringLiteral("DISPLAY=") + m_display}))
        return false;
    if (!tool.Wait(kXdotoolMs))
        return false;  // ended by the destructor
    return tool.exitCode == 0;
}

}  // namespace stopbench
