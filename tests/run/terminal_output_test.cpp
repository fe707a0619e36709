#include "run/terminal_output.h"

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {
// Feeds the pieces one call each, then the end.
std::string shown(std::initializer_list<std::string> pieces) {
    printable_state state = {false, 0};
    std::string result;
    char out[64];
    for (const std::string &piece : pieces) result.append(out, make_printable(piece.data(), piece.size(), out, state));
    result.append(out, make_printable(nullptr, 0, out, state));
    return result;
}

// Runs kelto on a terminal of its own and collects what the terminal gets;
// false when the system has no terminal to give.
bool kelto_on_terminal(const std::string &input, const std::string &cwd, std::string &output) {
    int terminal = -1;
    pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child < 0) return false;
    if (child == 0) {
        if (chdir(cwd.c_str()) == 0) execl(KELTO_BINARY, KELTO_BINARY, input.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    char buffer[4096];
    for (;;) {
        pollfd ready = {terminal, POLLIN, 0};
        if (poll(&ready, 1, 60000) <= 0) break;
        ssize_t got = read(terminal, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;  // EIO once the child has gone
        output.append(buffer, static_cast<size_t>(got));
    }
    close(terminal);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    return true;
}
}  // namespace

TEST(terminal_output, ControlCharactersShowAsQuestionMarks) {
    EXPECT_EQ(shown({"a\x1b[2Jb\rc\bd\x07" "e\x7f" "f"}), "a?[2Jb?c?d?e?f");
    EXPECT_EQ(shown({"line\tone\n"}), "line\tone\n");
    // C1 controls: encoded in UTF-8, raw, and an encoded one split between writes.
    EXPECT_EQ(shown({"x\xc2\x9b" "31m"}), "x?31m");
    EXPECT_EQ(shown({"x\x9b" "31m\x85"}), "x?31m?");
    EXPECT_EQ(shown({"x\xc2", "\x9b" "y"}), "x?y");
}

TEST(terminal_output, PrintableUtf8AndStrayBytesPassUnchanged) {
    const std::string text = "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x99\x82 \xc2\xa0nbsp \xc2\xa9";
    EXPECT_EQ(shown({text}), text);
    EXPECT_EQ(shown({"\xc2", "\xa9"}), "\xc2\xa9");
    // A lone 0xC2 before an ASCII byte or at the very end is kept as it is.
    EXPECT_EQ(shown({"\xc2" "a"}), "\xc2" "a");
    EXPECT_EQ(shown({"a\xc2"}), "a\xc2");
    // Continuations of a longer sequence in the C1 range are not controls.
    EXPECT_EQ(shown({"\xe2\x80\x94"}), "\xe2\x80\x94");
}

TEST(terminal_output, NamesOnATerminalCannotSendEscapes) {
    temp_dir work;
    // A line feed would start a line that passes for a message.
    const std::string name = "a\x1b]0;title\x07" "b\nERROR: forged.txt";
    write_file(work / ("in/" + name), "contents\n");

    std::string seen;
    if (!kelto_on_terminal("in", work.path(), seen)) GTEST_SKIP() << "no pseudo-terminal here";
    EXPECT_NE(seen.find("Reading a?]0;title?b?ERROR: forged.txt ... done"), std::string::npos) << seen;
    EXPECT_EQ(seen.find('\x1b'), std::string::npos);
    EXPECT_EQ(seen.find('\x07'), std::string::npos);

    // Redirected, as in a build pipeline, the name stays byte for byte.
    process_result piped = run_kelto({"in"}, work.path());
    EXPECT_EQ(piped.status, 0);
    EXPECT_NE(piped.output.find("Reading " + name + " ... done"), std::string::npos) << piped.output;
}
