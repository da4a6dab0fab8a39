// Times a download as the user meets it, from outside the process: the real window on an X
// server without a window manager (Xvfb), driven by key presses, and the files as the folder
// shows them.
//   tarnwick-bench-arrival window <folder> <list> <timeout ms> <program> [arguments...]
//     Starts the program, waits for its window, presses Return (Next) on the welcome page,
//     waits until the check has ended with Next enabled again, presses Return once more and
//     stops the clock when every file of <list> has its full size under its own name as a file
//     other than the one there before the press. Prints welcome_kib (peak resident memory on
//     the welcome page), arrived_ms and peak_kib, then ends the program.
//   tarnwick-bench-arrival process <folder> <timeout ms> <program> [arguments...]
//     The reference: runs the program in <folder> and prints exit_ms, its whole run.
// <list> holds one "size name" line per file, name relative to <folder>.
#include "driver/ProcessMemory.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <dlfcn.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using tarnwick::bench::PeakResidentKiB;

const char kTitle[] = "Tarnwick Updater";

double NowMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

void SleepMs(int ms)
{
    timespec pause{ms / 1000, (ms % 1000) * 1'000'000L};
    nanosleep(&pause, nullptr);
}

struct Target {
    std::string path;
    off_t size = 0;
    ino_t before = 0;  // the file under that name before the press; 0: none
};

std::vector<Target> ReadList(const std::string& folder, const std::string& list)
{
    std::vector<Target> targets;
    std::ifstream in(list);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Target target;
        std::string name;
        fields >> target.size;
        fields.get();
        std::getline(fields, name);
        if (name.empty())
            continue;
        target.path = folder + "/" + name;
        targets.push_back(target);
    }
    return targets;
}

void NoteBefore(std::vector<Target>& targets)
{
    for (Target& target : targets) {
        struct stat info {};
        target.before = ::stat(target.path.c_str(), &info) == 0 ? info.st_ino : 0;
    }
}

// The updater writes under a name of its own and renames: the file counts once the name holds
// a new file of the full size.
bool HasArrived(const Target& target)
{
    struct stat info {};
    return ::stat(target.path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == target.size &&
           info.st_ino != target.before;
}

pid_t Start(const std::string& folder, char** argv)
{
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(folder.c_str()) != 0)
            _exit(126);
        execv(argv[0], argv);
        std::perror("arrival: exec");
        _exit(127);
    }
    return child;
}

int Ignore(Display*, XErrorEvent*)
{
    return 0;  // a window may vanish between its map event and a query
}

std::string WindowTitle(Display* display, Window window)
{
    char* name = nullptr;
    std::string title;
    if (XFetchName(display, window, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

// The page as the screen shows it. Places in pixels of the window's client area, from the
// window's layout (twips, 15 to a pixel).
struct Screen {
    Display* display;
    Window window;
    Visual* visual;

    struct Rgb {
        int r, g, b;
    };

    static int Channel(unsigned long pixel, unsigned long mask)
    {
        if (!mask)
            return 0;
        int shift = 0;
        while (!(mask & 1)) {
            mask >>= 1;
            ++shift;
        }
        return static_cast<int>(((pixel >> shift) & mask) * 255 / mask);
    }

    // The darkest luma in the rectangle, 0..255; -1 when the window cannot be read.
    int Darkest(int x, int y, int w, int h) const
    {
        XImage* image = XGetImage(display, window, x, y, unsigned(w), unsigned(h), AllPlanes, ZPixmap);
        if (!image)
            return -1;
        int darkest = 255;
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i) {
                const unsigned long pixel = XGetPixel(image, i, j);
                const int r = Channel(pixel, visual->red_mask), g = Channel(pixel, visual->green_mask),
                          b = Channel(pixel, visual->blue_mask);
                darkest = std::min(darkest, (2126 * r + 7152 * g + 722 * b) / 10000);
            }
        XDestroyImage(image);
        return darkest;
    }

    bool Pixel(int x, int y, Rgb& rgb) const
    {
        XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
        if (!image)
            return false;
        const unsigned long pixel = XGetPixel(image, 0, 0);
        rgb = {Channel(pixel, visual->red_mask), Channel(pixel, visual->green_mask), Channel(pixel, visual->blue_mask)};
        XDestroyImage(image);
        return true;
    }

    // Next (4320 5160 1335 375 twips) draws its caption black when enabled, grey when not.
    bool NextEnabled() const
    {
        const int x = 288, y = 344, w = 89, h = 25;
        const int darkest = Darkest(x + 20, y + 7, w - 40, h - 14);
        return darkest >= 0 && darkest < 128;
    }

    // The check's bar (2880 4440 4215 255 twips) shows its colour in the middle once full.
    bool CheckBarFull() const
    {
        Rgb middle{};
        return Pixel(192 + 281 / 2, 296 + 17 / 2, middle) && middle.b > middle.r + 60;
    }
};

template <typename Condition>
bool WaitFor(double deadline, Condition done, int stepMs = 10)
{
    while (!done()) {
        if (NowMs() > deadline)
            return false;
        SleepMs(stepMs);
    }
    return true;
}

// XTEST from the runtime library, so that building needs no extension headers.
using FakeKeyEvent = int (*)(Display*, unsigned int, int, unsigned long);

FakeKeyEvent LoadFakeKey()
{
    void* library = dlopen("libXtst.so.6", RTLD_NOW);
    return library ? reinterpret_cast<FakeKeyEvent>(dlsym(library, "XTestFakeKeyEvent")) : nullptr;
}

void PressReturn(Display* display, Window window, FakeKeyEvent fake)
{
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XSync(display, False);
    const KeyCode code = XKeysymToKeycode(display, XK_Return);
    fake(display, code, True, 0);
    fake(display, code, False, 0);
    XFlush(display);
}

int Fail(pid_t child, const char* why)
{
    std::fprintf(stderr, "arrival: %s\n", why);
    if (child > 0) {
        kill(child, SIGTERM);
        waitpid(child, nullptr, 0);
    }
    return 1;
}

int RunWindow(const std::string& folder, std::vector<Target>& targets, double timeoutMs, char** program)
{
    const FakeKeyEvent fake = LoadFakeKey();
    if (!fake)
        return Fail(0, "XTEST is not available (libXtst.so.6)");
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return Fail(0, "no X display");
    XSetErrorHandler(Ignore);
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);
    NoteBefore(targets);

    const double start = NowMs();
    const pid_t child = Start(folder, program);
    Window window = 0;
    while (!window) {
        while (XPending(display) && !window) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && WindowTitle(display, event.xmap.window) == kTitle)
                window = event.xmap.window;
        }
        if (window)
            break;
        if (waitpid(child, nullptr, WNOHANG) == child)
            return Fail(0, "the program ended before its window showed");
        if (NowMs() - start > timeoutMs)
            return Fail(child, "no window");
        SleepMs(5);
    }
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, window, &attributes);
    const Screen screen{display, window, attributes.visual};

    // The welcome page, drawn: Next enabled.
    if (!WaitFor(start + timeoutMs, [&] { return screen.NextEnabled(); }))
        return Fail(child, "the welcome page never showed Next enabled");
    const long welcomeKiB = PeakResidentKiB(child);
    // Next starts the check and is disabled while it runs (two steps of 700 ms); a press the
    // window did not take yet is repeated.
    bool checking = false;
    for (int press = 0; press < 5 && !checking; ++press) {
        PressReturn(display, window, fake);
        checking = WaitFor(NowMs() + 1000, [&] { return !screen.NextEnabled(); });
    }
    if (!checking)
        return Fail(child, "Next did not start the check");
    if (!WaitFor(NowMs() + timeoutMs, [&] { return screen.NextEnabled() && screen.CheckBarFull(); }))
        return Fail(child, "the check did not end with Next enabled");

    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    inotify_add_watch(watch, folder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE | IN_CREATE);
    const double pressed = NowMs();
    PressReturn(display, window, fake);
    size_t pending = 0;
    char events[64 * 1024];
    for (;;) {
        while (pending < targets.size() && HasArrived(targets[pending]))
            ++pending;
        if (pending == targets.size())
            break;
        if (NowMs() - pressed > timeoutMs)
            return Fail(child, ("not every file arrived; first missing: " + targets[pending].path).c_str());
        // Woken by the folder's changes, and every millisecond in any case.
        pollfd wake{watch, POLLIN, 0};
        if (poll(&wake, 1, 1) > 0)
            while (read(watch, events, sizeof events) > 0) {
            }
    }
    const double arrived = NowMs() - pressed;
    const long peakKiB = PeakResidentKiB(child);
    std::printf("welcome_kib=%ld\narrived_ms=%.3f\npeak_kib=%ld\n", welcomeKiB, arrived, peakKiB);
    close(watch);
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    XCloseDisplay(display);
    return 0;
}

int RunProcess(const std::string& folder, double timeoutMs, char** program)
{
    const double start = NowMs();
    const pid_t child = Start(folder, program);
    // Woken by the program's end itself, so the figure has no polling step.
    const int ending = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
    pollfd wake{ending, POLLIN, 0};
    if (ending < 0 || poll(&wake, 1, static_cast<int>(timeoutMs)) != 1)
        return Fail(child, "the program did not end in time");
    const double ended = NowMs() - start;
    int status = 0;
    waitpid(child, &status, 0);
    close(ending);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return Fail(0, "the program failed");
    std::printf("exit_ms=%.3f\n", ended);
    return 0;
}

}  // namespace

int main(int argc, char* argv[])
{
    const bool window = argc >= 6 && std::strcmp(argv[1], "window") == 0;
    const bool process = argc >= 5 && std::strcmp(argv[1], "process") == 0;
    if (!window && !process) {
        std::fprintf(stderr,
                     "usage: %s window <folder> <list> <timeout ms> <program> [arguments...]\n"
                     "       %s process <folder> <timeout ms> <program> [arguments...]\n",
                     argv[0], argv[0]);
        return 2;
    }
    const std::string folder = argv[2];
    int result = 0;
    if (window) {
        std::vector<Target> targets = ReadList(folder, argv[3]);
        result = RunWindow(folder, targets, std::atof(argv[4]), argv + 5);
    } else {
        result = RunProcess(folder, std::atof(argv[3]), argv + 4);
    }
    std::fflush(stdout);
    return result;
}
