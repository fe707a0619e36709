// Threads that leave signals to the thread that called the library.
#pragma once
#include <cstddef>
#include <functional>
#include <pthread.h>

namespace lzx {

// A joinable worker thread. Its stack is small: a span's compression needs
// a few tens of KiB of it, and the usual 8 MiB per thread would count
// against an address-space limit as much as everything else the library uses.
class quiet_thread {
  public:
    quiet_thread() = default;
    quiet_thread(quiet_thread &&other) noexcept;
    quiet_thread &operator=(quiet_thread &&) = delete;
    quiet_thread(const quiet_thread &) = delete;
    quiet_thread &operator=(const quiet_thread &) = delete;
    ~quiet_thread();  // joins a thread not yet joined

    void join();

  private:
    friend quiet_thread start_quiet_thread(std::function<void()> body);
    pthread_t id_{};
    void *stack_ = nullptr;  // mapped by the library, unmapped when joined
    size_t stack_length_ = 0;
    bool joinable_ = false;
};

// Starts body on a thread that blocks every signal but those raised by its
// own faults, so a program that handles signals keeps handling them on its
// own thread. Throws std::system_error or std::bad_alloc when it cannot.
quiet_thread start_quiet_thread(std::function<void()> body);

}  // namespace lzx
