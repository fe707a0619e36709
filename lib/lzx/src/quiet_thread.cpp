#include "quiet_thread.h"

#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

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

// The stack is the library's own mapping, with a guard page below it, and
// is unmapped as soon as the thread is joined: glibc keeps the stacks it
// makes for reuse, and under an address-space limit a joined worker's stack
// would go on taking room that the caller's thread needs to finish alone.
struct thread_stack {
    void *mapping = nullptr;
    size_t length = 0;
};

size_t page_size() { return size_t(sysconf(_SC_PAGESIZE)); }

// Creates the thread with the calling thread's signal mask, which it inherits.
int create_thread(pthread_t &id, thread_stack &stack, std::function<void()> *body) {
    const size_t guard = page_size();
    const size_t usable = worker_stack_size < size_t(PTHREAD_STACK_MIN) ? size_t(PTHREAD_STACK_MIN) : worker_stack_size;
    void *mapping =
        mmap(nullptr, guard + usable, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (mapping == MAP_FAILED) return errno;
    if (mprotect(mapping, guard, PROT_NONE) != 0) {
        const int error = errno;
        munmap(mapping, guard + usable);
        return error;
    }
    pthread_attr_t attributes;
    int error = pthread_attr_init(&attributes);
    if (error == 0) {
        error = pthread_attr_setstack(&attributes, static_cast<char *>(mapping) + guard, usable);
        if (error == 0) error = pthread_create(&id, &attributes, run_body, body);
        pthread_attr_destroy(&attributes);
    }
    if (error != 0) {
        munmap(mapping, guard + usable);
        return error;
    }
    stack = {mapping, guard + usable};
    return 0;
}

}  // namespace

quiet_thread::quiet_thread(quiet_thread &&other) noexcept
    : id_(other.id_), stack_(std::exchange(other.stack_, nullptr)), stack_length_(other.stack_length_),
      joinable_(std::exchange(other.joinable_, false)) {}

quiet_thread::~quiet_thread() { join(); }

void quiet_thread::join() {
    if (!joinable_) return;
    pthread_join(id_, nullptr);
    joinable_ = false;
    munmap(stack_, stack_length_);
    stack_ = nullptr;
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
    thread_stack stack;
    const int error = create_thread(thread.id_, stack, owned.get());
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (error != 0) throw std::system_error(error, std::generic_category(), "cannot start a worker thread");
    owned.release();  // the thread owns it now
    thread.stack_ = stack.mapping;
    thread.stack_length_ = stack.length;
    thread.joinable_ = true;
    return thread;
}

}  // namespace lzx
