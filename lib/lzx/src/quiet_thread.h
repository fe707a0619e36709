// Threads that leave signals to the thread that called the library.
#pragma once
#include <functional>
#include <thread>

namespace lzx {

// Starts body on a thread that blocks every signal but those raised by its
// own faults, so a program that handles signals keeps handling them on its
// own thread. Throws std::system_error or std::bad_alloc as std::thread does.
std::thread start_quiet_thread(std::function<void()> body);

}  // namespace lzx
