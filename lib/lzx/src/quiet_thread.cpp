#include "quiet_thread.h"

#include <limits.h>
#include <signal.h>

#include <memory>
#include <system_error>
#include <utility>

namespace lzx {

namespace {

// Room for the deepest call chain several times over, sanitizers included.
constexpr size_t worker_stack_size = size_t(1) << 20;

void *run_body(void *body) {
    std::unique_ptr<std::function<void()>> owned(static_cast<std::function<void()> *>(body));
    (*owned)();
    return nullptr;
}

// Creates the thread with the calling thread's signal mask, which it inherits.
int create_thread(pthread_t &id, std::function<void()> *body) {
    pthread_attr_t attributes;
    int error = pthread_attr_init(&attributes);
    if (error != 0) return error;
    size_t stack = worker_stack_size < size_t(PTHREAD_STACK_MIN) ? size_t(PTHREAD_STACK_MIN) : worker_stack_size;
    error = pthread_attr_setstacksize(&attributes, stack);
    if (error == 0) error = pthread_create(&id, &attributes, run_body, body);
    pthread_attr_destroy(&attributes);
    return error;
}

}  // namespace

quiet_thread::quiet_thread(quiet_thread &&other) noexcept
    : id_(other.id_), joinable_(std::exchange(other.joinable_, false)) {}

quiet_thread::~quiet_thread() { join(); }

void quiet_thread::join() {
    if (!joinable_) return;
    pthread_join(id_, nullptr);
    joinable_ = false;
}

quiet_thread start_quiet_thread(std::function<void()> body) {
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    sigset_t blocked;
    sigfillset(&blocked);
    // Blocking these would hide a crash instead of reporting it.
    for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS}) sigdelset(&blocked, fault);
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &blocked, &before);
    quiet_thread thread;
    const int error = create_thread(thread.id_, owned.get());
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (error != 0) throw std::system_error(error, std::generic_category(), "cannot start a worker thread");
    owned.release();  // the thread owns it now
    thread.joinable_ = true;
    return thread;
}

}  // namespace lzx
