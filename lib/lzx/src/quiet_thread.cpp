#include "quiet_thread.h"

#include <pthread.h>
#include <signal.h>

namespace lzx {

std::thread start_quiet_thread(std::function<void()> body) {
    sigset_t blocked;
    sigfillset(&blocked);
    // Blocking these would hide a crash instead of reporting it.
    for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS}) sigdelset(&blocked, fault);
    sigset_t before;
    // A new thread inherits the mask of the thread that creates it.
    pthread_sigmask(SIG_BLOCK, &blocked, &before);
    try {
        std::thread thread(std::move(body));
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        return thread;
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        throw;
    }
}

}  // namespace lzx
