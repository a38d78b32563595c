// The operating system's side of interrupt.h.
#include "interrupt.h"

#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#endif

namespace kelsys {

namespace {

// Constant-initialized, so a handler never finds it half made.
constinit Interruption processInterruption;

#if defined(_WIN32)

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    return processInterruption.Defer(event == CTRL_C_EVENT ? kInterrupted : kTerminated) ? TRUE : FALSE;
}

#else

extern "C" void OnSignal(int number) {
    if (processInterruption.Defer(number == SIGTERM ? kTerminated : kInterrupted)) return;
    // No call runs: end as if there were no handler (the signal stays blocked
    // until this returns).
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(number, &fallback, nullptr);
    raise(number);
}

#endif

}  // namespace

Interruption& ProcessInterruption() { return processInterruption; }

void InstallInterruptHandlers() {
#if defined(_WIN32)
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    for (const int number : {SIGINT, SIGTERM}) {
        struct sigaction previous {};
        // What the shell set to be ignored (a background job's SIGINT) stays ignored.
        if (sigaction(number, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        // The library's file calls go on as if nothing had come.
        action.sa_flags = SA_RESTART;
        sigaction(number, &action, nullptr);
    }
#endif
}

void ExitInterrupted(int code) {
    std::fflush(nullptr);
    std::exit(code);
}

}  // namespace kelsys
