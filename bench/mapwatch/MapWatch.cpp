// Starts a program and prints, in milliseconds, how long it took from the start until the X
// server mapped a top-level window with the given title; then ends the program and reports its
// peak resident memory at that moment. Events, not polling, so the figure has no sampling step:
//   tarnwick-bench-mapwatch <title> <timeout ms> <program> [arguments...]
// Needs a window manager-less X server (Xvfb): top-level windows are then children of the root.
#include "driver/ProcessMemory.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using tarnwick::bench::PeakResidentKiB;

double NowMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The window's _NET_WM_NAME (UTF-8), else its WM_NAME.
std::string WindowTitle(Display* display, Window window)
{
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &count, &after, &data) ==
            Success &&
        data) {
        title.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
    }
    if (title.empty()) {
        char* name = nullptr;
        if (XFetchName(display, window, &name) && name) {
            title = name;
            XFree(name);
        }
    }
    return title;
}

int Ignore(Display*, XErrorEvent*)
{
    return 0;  // a window may vanish between its map event and the title query
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <title> <timeout ms> <program> [arguments...]\n", argv[0]);
        return 2;
    }
    const std::string wanted = argv[1];
    const double timeoutMs = std::atof(argv[2]);
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "mapwatch: no X display\n");
        return 2;
    }
    XSetErrorHandler(Ignore);
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    const double start = NowMs();
    const pid_t child = fork();
    if (child == 0) {
        execv(argv[3], argv + 3);
        std::perror("mapwatch: exec");
        _exit(127);
    }

    int result = 1;
    pollfd connection{ConnectionNumber(display), POLLIN, 0};
    while (result == 1) {
        while (XPending(display) && result == 1) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && WindowTitle(display, event.xmap.window) == wanted) {
                std::printf("mapped_ms=%.3f\n", NowMs() - start);
                std::printf("mapped_kib=%ld\n", PeakResidentKiB(child));
                result = 0;
            }
        }
        if (result == 0)
            break;
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) {
            std::fprintf(stderr, "mapwatch: the program ended before mapping its window\n");
            XCloseDisplay(display);
            return 1;
        }
        const double left = timeoutMs - (NowMs() - start);
        if (left <= 0) {
            std::fprintf(stderr, "mapwatch: no window \"%s\" within %.0f ms\n", wanted.c_str(), timeoutMs);
            break;
        }
        // Short waits so that a program that ends without a window is noticed promptly.
        poll(&connection, 1, static_cast<int>(left < 50 ? left : 50) + 1);
    }
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    XCloseDisplay(display);
    return result;
}
