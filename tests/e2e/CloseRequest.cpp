// Asks a window on $DISPLAY to close the way a window manager's close button does: a
// WM_DELETE_WINDOW message. The roads' display has no window manager, and xdotool can only
// destroy a window or kill its client, which no person ever does.
// Usage: tarnwick-close-request WINDOW_ID (decimal or 0x hex, as xdotool prints it)
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static xcb_atom_t Atom(xcb_connection_t* connection, const char* name)
{
    const auto length = static_cast<uint16_t>(std::strlen(name));
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, length, name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : XCB_ATOM_NONE;
    std::free(reply);
    return atom;
}

int main(int argc, char* argv[])
{
    const unsigned long window = argc == 2 ? std::strtoul(argv[1], nullptr, 0) : 0;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (window == 0 || xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "usage: %s WINDOW_ID, with $DISPLAY naming a display that answers\n", argv[0]);
        return 2;
    }
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = static_cast<xcb_window_t>(window);
    event.type = Atom(connection, "WM_PROTOCOLS");
    event.data.data32[0] = Atom(connection, "WM_DELETE_WINDOW");
    // A window that is already gone is an error the caller must hear about.
    xcb_generic_error_t* error = xcb_request_check(
        connection, xcb_send_event_checked(connection, 0, event.window, XCB_EVENT_MASK_NO_EVENT,
                                           reinterpret_cast<const char*>(&event)));
    const bool sent = error == nullptr && event.type != XCB_ATOM_NONE;
    std::free(error);
    xcb_disconnect(connection);
    return sent ? 0 : 1;
}
