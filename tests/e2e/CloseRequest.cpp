// Asks a window on $DISPLAY to close the way a window manager's close button does: a
// WM_DELETE_WINDOW message. The roads' display has no window manager, and xdotool can only
// destroy a window or kill its client, which no person ever does.
// Usage: tarnwick-close-request WINDOW_ID (decimal or 0x hex, as xdotool prints it)
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    Display* display = XOpenDisplay(nullptr);
    const Window window = argc == 2 ? std::strtoul(argv[1], nullptr, 0) : 0;
    if (display == nullptr || window == 0) {
        std::fprintf(stderr, "usage: %s WINDOW_ID, with $DISPLAY naming a display that answers\n", argv[0]);
        return 2;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    XSendEvent(display, window, False, NoEventMask, &event);
    // A window that is already gone is an error the caller must hear about: Xlib's own handler
    // reports it when the request is answered and ends the program with status 1.
    XSync(display, False);
    XCloseDisplay(display);
    return 0;
}
