#include "platform/BusError.h"

#include <mutex>

#include <csetjmp>
#include <csignal>

namespace tarnwick {
namespace {

// The signal's handler is the process's, whatever guards are running; each thread's landing
// place is its own.
thread_local sigjmp_buf* t_landing = nullptr;
struct sigaction g_before {};

void OnBusError(int, siginfo_t*, void*)
{
    if (sigjmp_buf* landing = t_landing)
        siglongjmp(*landing, 1);
    // A fault outside every guard: the handler there was before takes it when the faulting
    // access runs again.
    ::sigaction(SIGBUS, &g_before, nullptr);
}

}  // namespace

bool RunCatchingBusError(const std::function<void()>& work)
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &g_before);
    });
    sigjmp_buf landing;
    if (sigsetjmp(landing, 1) != 0) {
        t_landing = nullptr;
        return false;
    }
    t_landing = &landing;
    work();
    t_landing = nullptr;
    return true;
}

}  // namespace tarnwick
