#include "run/terminal_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
printable_state terminal_state = {false, 0};
bool on_terminal = false;
// Bytes filtered per write; a held 0xC2 may add one more.
constexpr size_t chunk_size = 512;

bool is_control(unsigned char c) { return (c < 0x20 && c != '\n' && c != '\t') || c == 0x7F; }

bool write_all(const char *bytes, size_t n) {
    while (n > 0) {
        ssize_t written = write(STDOUT_FILENO, bytes, n);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        n -= static_cast<size_t>(written);
    }
    return true;
}

ssize_t write_printable(void *, const char *buffer, size_t size) {
    char shown[chunk_size + 1];
    size_t done = 0;
    do {
        size_t take = size - done < chunk_size ? size - done : chunk_size;
        size_t count = make_printable(buffer + done, take, shown, terminal_state);
        if (!write_all(shown, count)) return done > 0 ? static_cast<ssize_t>(done) : -1;
        done += take;
    } while (done < size);
    return static_cast<ssize_t>(size);
}

int close_printable(void *) {
    char held[1];
    size_t count = make_printable(nullptr, 0, held, terminal_state);
    return write_all(held, count) ? 0 : EOF;
}
}  // namespace

size_t make_printable(const char *in, size_t n, char *out, printable_state &state) {
    size_t count = 0;
    if (n == 0 && state.after_c2) {
        out[count++] = '\xC2';
        state.after_c2 = false;
    }
    for (size_t i = 0; i < n; i++) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        if (state.after_c2) {
            state.after_c2 = false;
            if (c >= 0x80 && c <= 0x9F) {
                out[count++] = '?';
                continue;
            }
            // A printable character or a stray lead byte: let it out, and
            // take what follows as its continuation.
            out[count++] = '\xC2';
            state.continuations = 1;
        }
        if (c >= 0x80 && c <= 0xBF) {
            // A continuation byte outside a sequence is a raw C1 character
            // to a terminal that does not decode UTF-8.
            if (state.continuations > 0) {
                state.continuations--;
                out[count++] = static_cast<char>(c);
            } else {
                out[count++] = c <= 0x9F ? '?' : static_cast<char>(c);
            }
            continue;
        }
        if (c == 0xC2) {
            state.after_c2 = true;
            state.continuations = 0;
            continue;
        }
        state.continuations = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        out[count++] = is_control(c) ? '?' : static_cast<char>(c);
    }
    return count;
}

const char *shown_name(const char *name) {
    if (!on_terminal || !strchr(name, '\n')) return name;
    // Messages quote up to three names at once.
    static char *copies[4];
    static unsigned next;
    char *&copy = copies[next++ % 4];
    free(copy);
    copy = strdup(name);
    if (!copy) return "?";
    for (char *c = copy; (c = strchr(c, '\n')) != nullptr;) *c = '?';
    return copy;
}

void guard_terminal_output(void) {
    if (!isatty(STDOUT_FILENO)) return;
    on_terminal = true;
    cookie_io_functions_t functions = {nullptr, write_printable, nullptr, close_printable};
    FILE *shown = fopencookie(nullptr, "w", functions);
    if (!shown) return;  // the names then reach the terminal as they are
    setvbuf(shown, nullptr, _IOLBF, BUFSIZ);
    fflush(stdout);
    stdout = shown;
}
