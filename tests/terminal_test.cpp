#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "harness.h"

namespace {

// dumpentry at a real terminal: each prompt must be on screen before the program waits for
// the answer, so the test types a line only once it has seen the prompt for it.
struct terminal_session {
    int master = -1;
    pid_t child = -1;
    std::string screen;
    size_t seen = 0; // how much of screen has been matched already
};

bool start_at_terminal(terminal_session &session, const std::string &program,
                       const std::string &arg, const std::string &cwd)
{
    session.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (session.master < 0 || grantpt(session.master) != 0 || unlockpt(session.master) != 0)
        return false;
    std::string slave_name = ptsname(session.master);
    session.child = fork();
    if (session.child == 0) {
        setsid();
        int slave = open(slave_name.c_str(), O_RDWR);
        if (slave < 0 || chdir(cwd.c_str()) != 0)
            _exit(126);
        dup2(slave, 0);
        dup2(slave, 1);
        dup2(slave, 2);
        close(slave);
        close(session.master);
        alarm(60);
        execl(program.c_str(), program.c_str(), arg.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    return session.child > 0;
}

// Reads the screen until text appears after what was matched before; false after 10 s.
bool wait_for(terminal_session &session, const std::string &text)
{
    for (;;) {
        size_t found = session.screen.find(text, session.seen);
        if (found != std::string::npos) {
            session.seen = found + text.size();
            return true;
        }
        pollfd ready{session.master, POLLIN, 0};
        if (poll(&ready, 1, 10000) <= 0)
            return false;
        char chunk[512];
        ssize_t count = read(session.master, chunk, sizeof chunk);
        if (count <= 0)
            return false;
        session.screen.append(chunk, static_cast<size_t>(count));
    }
}

void type(terminal_session &session, const std::string &line)
{
    std::string typed = line + "\n";
    ASSERT_EQ(write(session.master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
}

// What the program shows, and what is typed once it is on screen ("": nothing is typed).
using dialogue = std::vector<std::pair<std::string, std::string>>;

void talk(const dialogue &lines, const std::string &dump)
{
    scratch_dir dir;
    terminal_session session;
    ASSERT_TRUE(start_at_terminal(session, DUMPENTRY_PATH, "save.bin", dir.path));
    for (const auto &[shown, answer] : lines) {
        ASSERT_TRUE(wait_for(session, shown)) << "no '" << shown << "' on:\n" << session.screen;
        if (!answer.empty())
            type(session, answer);
    }
    EXPECT_TRUE(wait_for(session, " ** DONE **"));
    int status = -1;
    waitpid(session.child, &status, 0);
    close(session.master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(read_file(dir / "save.bin"), dump);
}

TEST(terminal, prompts_show_before_each_answer)
{
    talk({{"Enter the header of the dump (available on all page) :", "00 00 12"},
          {" -- Last page --", ""},
          {"Line  0: ", "01 23 45 67 89 ab CD ef"},
          {"Line  1: ", "fe-dc-ba-98-76-54-32-10"},
          {"Last line (2 bytes) : ", "A5 5a"}},
         "\x01\x23\x45\x67\x89\xAB\xCD\xEF\xFE\xDC\xBA\x98\x76\x54\x32\x10\xA5\x5A");
}

// A mistyped line is asked again: the right answer replaces it, the same text again stands.
TEST(terminal, second_chance_for_a_mistyped_line)
{
    talk({{"Enter the header of the dump (available on all page) :", "00 00 9"},
          {"Warning: header: 5 hex digits found, 6 expected", ""},
          {"Enter the header of the dump (available on all page) :", "00 00 09"},
          {"Line  0: ", "01 23 45 67 89 ab CD e\x1b[D"},
          {"Warning: last page, line 0: 15 hex digits found, 16 expected", ""},
          {"Line  0: ", "01 23 45 6"},
          {"Warning: last page, line 0: 7 hex digits found, 16 expected", ""},
          {"Line  0: ", "01 23 45 67 89 ab CD ef"},
          {"Last line (1 bytes) : ", "G1"},
          {"Warning: last line: 'G' is not a hex digit", ""},
          {"Last line (1 bytes) : ", "g 1"}},
         std::string("\x01\x23\x45\x67\x89\xAB\xCD\xEF\x00", 9));
}

} // namespace
