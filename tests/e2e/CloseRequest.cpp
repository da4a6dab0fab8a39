// Asks a window on $DISPLAY to close the way a window manager's close button does: a
// WM_DELETE_WINDOW message. The display of the end-to-end roads has no window manager, and
// xdotool can only destroy a window or kill its client, which no person ever does.
// Usage: tarnwick-close-request WINDOW_ID (decimal or 0x hex, as xdotool prints it)
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

using Reply = std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)>;

xcb_atom_t Atom(xcb_connection_t* connection, const char* name)
{
    const Reply reply(xcb_intern_atom_reply(connection,
                                            xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
                                            nullptr),
                      &std::free);
    return reply ? reply->atom : XCB_ATOM_NONE;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s WINDOW_ID\n", argv[0]);
        return 2;
    }
    char* end = nullptr;
    const unsigned long window = std::strtoul(argv[1], &end, 0);
    if (end == argv[1] || *end != '\0' || window == 0) {
        std::fprintf(stderr, "not a window id: %s\n", argv[1]);
        return 2;
    }
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "cannot open the display\n");
        xcb_disconnect(connection);
        return 1;
    }
    const xcb_atom_t protocols = Atom(connection, "WM_PROTOCOLS");
    const xcb_atom_t deleteWindow = Atom(connection, "WM_DELETE_WINDOW");

    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = static_cast<xcb_window_t>(window);
    event.type = protocols;
    event.data.data32[0] = deleteWindow;
    event.data.data32[1] = XCB_CURRENT_TIME;
    const xcb_void_cookie_t sent = xcb_send_event_checked(connection, 0, event.window, XCB_EVENT_MASK_NO_EVENT,
                                                          reinterpret_cast<const char*>(&event));
    // A window that is already gone is an error the caller must hear about.
    std::unique_ptr<xcb_generic_error_t, decltype(&std::free)> error(xcb_request_check(connection, sent), &std::free);
    xcb_disconnect(connection);
    if (protocols == XCB_ATOM_NONE || deleteWindow == XCB_ATOM_NONE || error) {
        std::fprintf(stderr, "the close request could not be sent to %s\n", argv[1]);
        return 1;
    }
    return 0;
}
