// Messages shown on a terminal, made safe from the names they quote.
#pragma once
#include <cstddef>

// Where a byte stream stands in a UTF-8 sequence, across writes.
struct printable_state {
    bool after_c2;          // the last byte was 0xC2, held back
    unsigned continuations;  // bytes still due in the current sequence
};

// Copies n bytes to out with every control character but line feed and
// tab shown as '?': C0 bytes, DEL, and C1 characters whether encoded in
// UTF-8 (0xC2 0x80-0x9F) or raw. A trailing 0xC2 is held in state until the
// next call decides it; pass n = 0 at the end to let it out. out needs room
// for n + 1 bytes. Returns the count written.
size_t make_printable(const char *in, size_t n, char *out, printable_state &state);

// File names may hold escape sequences, which a terminal would obey. When
// standard output is a terminal, it is replaced by a stream that shows
// them as above; redirected output stays byte for byte.
void guard_terminal_output(void);

// On a terminal, a copy of name with every line feed shown as '?': a name
// could otherwise start a line of its own that passes for a message. The
// copy lasts until the fourth call after. Elsewhere, name itself.
const char *shown_name(const char *name);
