// The programs run with their standard streams closed, redirected onto the user's files,
// into a broken pipe, or onto a full disk: no file is lost, no dump is cut short.
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "harness.h"

namespace {

const std::string typed = "00 0001\nAA\n";
const std::string kept = "a dump of the user's\x01\x02";
const std::string write_failed = "Couldn't write to standard output\n";
const std::string summary_of_typed = "Encoding: 0\nSize of data: 1 bytes\nFull pages: 0\nRemaining full lines: 0\n"
                                     "Remaining bytes: 1\n";
const std::string dump_not_written = summary_of_typed + "Couldn't write file 'kept.bin'\n";
const std::string array_not_written = "Warning: 'kept.bin' has a size field of 8289 bytes but holds 22 and has a checksum "
                                      "that does not hold (stored 0x7564, computed 0xFA51)\n"
                                      "Couldn't write file 'filedata.dat'\n";
// An image made, kept aside, then changed by a run whose one call fails: it must not change.
std::string failing_add(const char *call)
{
    return "printf '\\x10\\0\\x99\\xfe\\1\\0F         ' > f.bin && printf '\\x10\\0\\x98\\xfe\\2\\0F         ' > g.bin"
           " && I add x.sav f.bin > /dev/null && cp x.sav before.sav && FAIL_CALL=" + std::string(call) +
           " L I add x.sav g.bin; status=$?; cmp -s x.sav before.sav || exit 99; exit $status";
}

// Every look at a file (stat, lstat, fstat) made to fail in turn, with each reason a network
// folder gives, in a run that a plain run completes (or refuses) with the files in after.*:
// each run ends as the plain one did with the change made, or with status 1 and a reason and
// nothing changed. Says nothing when all hold.
std::string failing_looks(const std::string &run, const std::string &file)
{
    return "cp " + file + " before; " + run + " > /dev/null 2> plain.err; cp " + file + " after; "
           "for e in EIO ESTALE EACCES; do for n in $(seq 1 16); do cp before " + file + "; "
           "FAIL_CALL=stat FAIL_AT=$n FAIL_ERRNO=$e L " + run + " > /dev/null 2> err; s=$?; "
           "if [ $s = 0 ]; then cmp -s " + file + " after || echo \"$e $n: status 0 without the change\"; "
           "else [ $s = 1 ] && cmp -s " + file + " before && grep -q \"Output file\\|: \" err || "
           "echo \"$e $n: status $s, $(cat err)\"; fi; done; done >&2; cp before " + file + "; ls | grep unfinished >&2; true";
}

// remove stopped by SIGTERM at moments from its start to its end: status 0 exactly when the
// file is gone; a run that ends by the signal leaves the image as it was.
const std::string terminated_removes =
    "I add x.sav f.bin g.bin > /dev/null && cp x.sav before && I remove x.sav 1 > /dev/null && cp x.sav after && "
    "for n in $(seq 1 60); do cp before x.sav; I remove x.sav 1 > /dev/null & p=$!; sleep 0.00$((n % 6)); "
    "kill -TERM $p 2> /dev/null; wait $p; s=$?; if [ $s = 0 ]; then cmp -s x.sav after || echo \"$n: 0, unchanged\"; "
    "elif [ $s = 143 ]; then cmp -s x.sav before || echo \"$n: 143, changed\"; else echo \"$n: $s\"; fi; done >&2; "
    "ls | grep unfinished >&2; true";
const std::string two_files = "printf '\\x10\\0\\x99\\xfe\\1\\0F         ' > f.bin && "
                              "printf '\\x10\\0\\x98\\xfe\\2\\0F         ' > g.bin && ";

const std::string big = random_bytes(65535, 3);

// A row: a bash command (D, A, I and L as with_programs reads them) in a folder that holds
// in.txt and kept.bin, and, where the command names it, big.txt, the typed dump of big; its
// standard output is not looked at.
run_case row(const char *name, const std::string &command, const std::string &err, int status,
             const std::map<std::string, std::optional<std::string>> &after)
{
    static const std::string big_text = typed_dump(big);
    run_case made{name, "sh", {command}, {{"in.txt", typed}, {"kept.bin", kept}}, "", std::nullopt, err, status, after};
    if (command.find("big.txt") != std::string::npos)
        made.files["big.txt"] = big_text;
    return made;
}

const run_case cases[] = {
    row("standard input is the output", "D kept.bin < kept.bin", "Output file 'kept.bin' is also the input file\n", 1,
     {{"kept.bin", kept}}),
    row("output is standard output", "D /dev/stdout in.txt >> kept.bin",
     "Output file '/dev/stdout' is also standard output\n", 1, {{"kept.bin", kept}}),
    row("output is standard error", "D kept.bin in.txt 2>> kept.bin", "", 1,
     {{"kept.bin", kept + "Output file 'kept.bin' is also standard error\n"}}),
    row("filedata.dat is standard output", "cp kept.bin filedata.dat && A kept.bin >> filedata.dat",
     "Output file 'filedata.dat' is also standard output\n", 1, {{"filedata.dat", kept}}),
    row("standard output closed", "D o.bin in.txt >&- 2>/dev/null", "", 0, {{"o.bin", "\xAA"}}),
    row("standard error closed", "D o.bin in.txt 2>&-", "", 0, {{"o.bin", "\xAA"}}),
    row("standard input closed", "D o.bin in.txt <&- 2>/dev/null", "", 0, {{"o.bin", "\xAA"}}),
    row("bramarray with standard output closed", "A kept.bin >&- 2>&-", "", 0,
     {{"filedata.dat", array_text(kept)}}),
    row("broken pipe", "D big.bin big.txt 2>/dev/null | head -c 1 >/dev/null; exit ${PIPESTATUS[0]}", "", 0,
        {{"big.bin", big}}),
    row("bramarray into a broken pipe", "A kept.bin kept.bin kept.bin 2>/dev/null | true; exit ${PIPESTATUS[0]}", "", 0,
     {{"filedata.dat", array_text(kept + kept + kept)}}),
    row("help onto a full disk", "D --help > /dev/full", write_failed, 1, {}),
    row("version onto a full disk", "D --version > /dev/full", write_failed, 1, {}),
    row("usage onto a full disk", "D > /dev/full", write_failed, 1, {}),
    row("bramarray help onto a full disk", "A -h > /dev/full", write_failed, 2, {}),
    row("bramimage version onto a full disk", "I --version > /dev/full", write_failed, 1, {}),
    row("dump file: a failed flush", "FAIL_CALL=fflush L D kept.bin in.txt > /dev/null", dump_not_written, 1,
     {{"kept.bin", kept}}),
    row("dump file: a failed sync", "FAIL_CALL=fsync L D kept.bin in.txt > /dev/null", dump_not_written, 1,
     {{"kept.bin", kept}}),
    row("dump file: failed permission bits", "FAIL_CALL=fchmod L D kept.bin in.txt > /dev/null", dump_not_written, 1,
     {{"kept.bin", kept}}),
    row("dump file: a failed close", "FAIL_CALL=fclose L D kept.bin in.txt > /dev/null", dump_not_written, 1,
     {{"kept.bin", kept}}),
    row("dump file: a failed rename", "FAIL_CALL=rename L D kept.bin in.txt > /dev/null", dump_not_written, 1,
     {{"kept.bin", kept}}),
    row("dump file: no new file beside it", "FAIL_CALL=mkstemp L D kept.bin in.txt > /dev/null",
     "Couldn't open file 'kept.bin' for output: Permission denied\n", 1, {{"kept.bin", kept}}),
    row("filedata.dat: a failed flush", "echo old > filedata.dat && FAIL_CALL=fflush L A kept.bin > /dev/null",
     array_not_written, 2, {{"filedata.dat", "old\n"}}),
    row("filedata.dat: a failed rename", "echo old > filedata.dat && FAIL_CALL=rename L A kept.bin > /dev/null",
     array_not_written, 2, {{"filedata.dat", "old\n"}}),
    row("image: a failed flush", failing_add("fflush"), "Couldn't write file 'x.sav': No space left on device\n", 1, {}),
    row("image: a failed sync", failing_add("fsync"), "Couldn't write file 'x.sav': Input/output error\n", 1, {}),
    row("image: a failed rename", failing_add("rename"), "Couldn't write file 'x.sav': Invalid cross-device link\n", 1,
     {}),
    row("image: no new file beside it", failing_add("mkstemp"), "Couldn't write file 'x.sav': Permission denied\n", 1,
     {}),
    row("standard input that cannot be read", "D out.bin < / > /dev/null", "Couldn't read input\n", 4, {}),
    // Reading a process's memory from address 0 fails as a damaged disk does: EIO.
    row("bramarray: an input that cannot be read", "A /proc/self/mem > /dev/null",
     "Couldn't read file '/proc/self/mem'\n", 1, {{"filedata.dat", std::nullopt}}),
    row("bramimage: an image that cannot be read", "I list /proc/self/mem > /dev/null",
     "Couldn't read file '/proc/self/mem': Input/output error\n", 1, {}),
    row("bramimage: a dump file that cannot be read", "I add x.sav /proc/self/mem > /dev/null",
     "Couldn't read file '/proc/self/mem': Input/output error\n", 1, {{"x.sav", std::nullopt}}),
    row("a long dump onto a full disk", "D /dev/full big.txt > /dev/null",
     "Encoding: 0\nSize of data: 65535 bytes\nFull pages: 511\nRemaining full lines: 15\nRemaining bytes: 7\n"
     "Couldn't write file '/dev/full'\n", 1, {}),
    row("bramimage list onto a full disk", "printf '\\x10\\0\\x99\\xfe\\1\\0F         ' > f.bin && I list f.bin > /dev/full",
     write_failed, 1, {}),
    row("bramimage add onto a full disk", "printf '\\x10\\0\\x99\\xfe\\1\\0F         ' > f.bin && I add x.sav f.bin > /dev/full",
     write_failed, 1, {}),
    row("dumpentry onto a full disk leaves the dump file as it was", "D kept.bin in.txt > /dev/full",
     summary_of_typed + write_failed, 1, {{"kept.bin", kept}}),
    row("bramarray onto a full disk leaves filedata.dat as it was", "echo old > filedata.dat && A kept.bin > /dev/full",
     array_not_written.substr(0, array_not_written.find("Couldn't")) + write_failed, 2, {{"filedata.dat", "old\n"}}),
    row("bramimage remove onto a full disk removes nothing", two_files + "I add x.sav f.bin g.bin > /dev/null && "
     "cp x.sav before && I remove x.sav 2 > /dev/full; s=$?; cmp x.sav before && exit $s", write_failed, 1, {}),
    row("a failed look at an image adds nothing", two_files + "I add x.sav f.bin > /dev/null && " +
     failing_looks("I add x.sav g.bin", "x.sav"), "", 0, {}),
    row("a failed look at the image copied to changes nothing", two_files + "I add x.sav f.bin > /dev/null && "
     "I add y.sav g.bin > /dev/null && " + failing_looks("I copy x.sav y.sav", "y.sav"), "", 0, {}),
    row("a failed look at the dump file changes nothing", failing_looks("D kept.bin in.txt", "kept.bin"), "", 0, {}),
    row("a failed look at a typed text named first changes nothing", "cp in.txt mine.txt && " +
     failing_looks("D mine.txt in.txt", "mine.txt"), "", 0, {}),
    row("a failed look at filedata.dat changes nothing", "echo old > filedata.dat && " +
     failing_looks("A kept.bin", "filedata.dat"), "", 0, {}),
    row("remove stopped at any moment", two_files + terminated_removes, "", 0, {}),
    row("a name of 254 bytes is written: its unfinished file's name is cut to fit",
        "D $(printf 'a%.0s' $(seq 250)).bin in.txt > /dev/null 2>&1 && ls | awk '{ print length($0) }' | sort -n >&2 && "
        "rm aaaa*", "6\n8\n254\n", 0, {}),
    row("extract: a failed sync leaves no file", two_files + "I add x.sav f.bin > /dev/null && FAIL_CALL=fsync L I "
        "extract x.sav out; ls -A out >&2", "Couldn't write file 'out/F.bin': Input/output error; nothing was extracted\n",
        0, {}),
    row("extract stopped at any moment leaves whole files only", two_files +
        "I add x.sav f.bin g.bin > /dev/null && for n in $(seq 1 40); do rm -rf out; I extract x.sav out > /dev/null & "
        "p=$!; sleep 0.00$((n % 6)); kill -TERM $p 2> /dev/null; wait $p; for f in out/*; do [ -e \"$f\" ] || continue; "
        "cmp -s \"$f\" f.bin || cmp -s \"$f\" g.bin || echo \"$n: $f\"; done; done >&2; true", "", 0, {}),
    row("a real-time signal leaves no unfinished file", "mkfifo keys && { D out.bin < keys > /dev/null 2>&1 & p=$!; } && "
        "exec 3> keys && echo '00 0001' >&3 && sleep 0.3 && ls | grep -c unfinished >&2; kill -s RTMIN $p; wait $p 2> /dev/null; "
        "echo $? >&2; exec 3>&-; ls | grep -c unfinished >&2; true", "1\n162\n0\n", 0, {{"out.bin", std::nullopt}}),
    row("a file too large for the limit leaves nothing", "echo old > filedata.dat; head -c 30000 /dev/zero > big.bin; "
        "{ (ulimit -f 20; exec A big.bin > /dev/null); } 2> /dev/null", "", 128 + SIGXFSZ, {{"filedata.dat", "old\n"}}),
    row("new files get 0666 less the umask", two_files + "umask 077 && D new.bin in.txt > /dev/null 2>&1 && "
        "A f.bin > /dev/null 2>&1 && I add new.sav f.bin > /dev/null && I extract new.sav out > /dev/null && "
        "stat -c '%a %n' new.bin filedata.dat new.sav out out/F.bin >&2",
        "600 new.bin\n600 filedata.dat\n600 new.sav\n700 out\n600 out/F.bin\n", 0, {}),
    row("the dump written through to standard output", "D /dev/stdout in.txt 2> /dev/null | od -An -tx1 > dump.od; "
        "s=${PIPESTATUS[0]}; grep -q ' aa' dump.od && exit $s", "", 0, {}),
    row("the dump written through to a named pipe", "mkfifo pipe.bin && { cat pipe.bin > got.bin & } && "
        "D pipe.bin in.txt > /dev/null; s=$?; wait; exit $s", summary_of_typed, 0, {{"got.bin", "\xAA"}}),
    row("a prompt is out before the program waits on a pipe", "mkfifo keys && { D out.bin < keys > log 2> /dev/null & } "
        "&& exec 3> keys && echo '00 0001' >&3 && for n in $(seq 200); do grep -q 'Last line' log && break; sleep 0.05; "
        "done; grep -q 'Last line' log || exit 9; echo AA >&3 && exec 3>&- && wait $!", "", 0, {{"out.bin", "\xAA"}}),
    row("the typed text read from a named pipe", "mkfifo typed.txt && { cat in.txt > typed.txt & } && "
        "D out.bin typed.txt > /dev/null; s=$?; wait; exit $s", summary_of_typed, 0, {{"out.bin", "\xAA"}}),
    row("filedata.dat written through to a named pipe", "mkfifo filedata.dat && { cat filedata.dat > got.txt & } && "
        "A kept.bin > /dev/null 2>&1; s=$?; wait; exit $s", "", 0, {{"got.txt", array_text(kept)}}),
    row("a replaced dump file keeps every permission bit", "chmod 757 kept.bin && D kept.bin in.txt > /dev/null 2>&1 && "
        "stat -c %a kept.bin >&2", "757\n", 0, {{"kept.bin", "\xAA"}}),
    row("a dump file that is a link to nowhere", "ln -s nofolder/new.bin out.bin && D out.bin in.txt > /dev/null",
     "Couldn't open file 'out.bin' for output: No such file or directory\n", 1, {}),
    row("a write-protected dump file", "chmod 444 kept.bin && D kept.bin in.txt",
     "Couldn't open file 'kept.bin' for output: Permission denied\n", 1, {{"kept.bin", kept}}),
    row("a write-protected filedata.dat", "echo old > filedata.dat && chmod 444 filedata.dat && A kept.bin",
     "Couldn't open file 'filedata.dat' for output: Permission denied\n", 2, {{"filedata.dat", "old\n"}}),
    row("a write-protected image", two_files + "I add x.sav f.bin > /dev/null && chmod 444 x.sav && I add x.sav g.bin",
     "Couldn't change 'x.sav': it is write-protected\n", 1, {}),
    row("a dump file with a second hard link", "ln kept.bin second.bin && D kept.bin in.txt",
     "Couldn't change 'kept.bin': it has 2 hard links, which a new file would split\n", 1,
     {{"kept.bin", kept}, {"second.bin", kept}}),
    row("filedata.dat with a second hard link", "echo old > filedata.dat && ln filedata.dat second.dat && A kept.bin",
     "Couldn't change 'filedata.dat': it has 2 hard links, which a new file would split\n", 1,
     {{"filedata.dat", "old\n"}, {"second.dat", "old\n"}}),
};

RUN_TABLE(stream_runs, cases)

} // namespace

namespace {

// dumpentry stopped by a signal while it waits for a line: the earlier dump file stays, and
// no unfinished file is left, except after SIGKILL, which nothing can catch. A signal ignored
// when the run starts (SIGHUP under nohup) stays ignored: the run goes on.
struct signal_case {
    const char *name;
    int signal_number;
    bool leftover;
    bool ignored;
};

const signal_case signals[] = {{"INT", SIGINT, false, false},    {"TERM", SIGTERM, false, false},
                               {"HUP", SIGHUP, false, false},    {"QUIT", SIGQUIT, false, false},
                               {"XFSZ", SIGXFSZ, false, false},  {"USR1", SIGUSR1, false, false},
                               {"ALRM", SIGALRM, false, false},  {"KILL", SIGKILL, true, false},
                               {"HUP under nohup", SIGHUP, false, true}};

TABLE_TEST(interrupted, keeps_the_earlier_dump, signal_case, signals)
{
    SKIP_UNDER_WINE_IF(true);
    const signal_case &row = GetParam();
    scratch_dir dir;
    write_file(dir / "out.bin", kept);
    int typed_in[2];
    ASSERT_EQ(pipe(typed_in), 0);
    rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core); // SIGQUIT would leave a core file in the folder
    int null = open("/dev/null", O_WRONLY);
    int streams[3] = {typed_in[0], null, null};
    signal(SIGHUP, row.ignored ? SIG_IGN : SIG_DFL); // inherited, as nohup leaves it
    pid_t child = start_program(DUMPENTRY_PATH, {"out.bin"}, dir.path, streams);
    signal(SIGHUP, SIG_DFL);
    close(typed_in[0]);
    close(null);
    const std::string first_line = "00 0010\n0011223344556677\n", second_line = "8899AABBCCDDEEFF\n";
    ASSERT_EQ(write(typed_in[1], first_line.data(), first_line.size()), static_cast<ssize_t>(first_line.size()));
    for (int tries = 0; tries < 500 && std::distance(std::filesystem::directory_iterator(dir.path), {}) < 2; tries++)
        usleep(10000);
    usleep(100000); // the lines typed are read
    kill(child, row.signal_number);
    if (row.ignored) {
        ASSERT_EQ(write(typed_in[1], second_line.data(), second_line.size()), static_cast<ssize_t>(second_line.size()));
    }
    close(typed_in[1]);
    int status = wait_for_exit(child);
    EXPECT_EQ(status, row.ignored ? 0 : 128 + row.signal_number);
    EXPECT_EQ(read_file(dir / "out.bin"), row.ignored ? std::string("\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA"
                                                                     "\xBB\xCC\xDD\xEE\xFF", 16)
                                                      : kept);
    std::vector<std::string> others;
    for (const auto &entry : std::filesystem::directory_iterator(dir.path))
        if (entry.path().filename() != "out.bin")
            others.push_back(entry.path().filename());
    if (row.leftover) {
        ASSERT_EQ(others.size(), 1u);
        EXPECT_EQ(others[0].rfind("out.bin.unfinished-", 0), 0u) << others[0];
    } else {
        EXPECT_TRUE(others.empty()) << others[0];
    }
}

// The replaced file keeps its owner and group (as root, who may give files away), and a
// link to it stays a link.
TEST(replaced, keeps_owner_group_and_link)
{
    SKIP_UNDER_WINE_IF(true);
    scratch_dir dir;
    write_file(dir / "in.txt", typed);
    write_file(dir / "out.bin", kept);
    std::filesystem::create_symlink("out.bin", dir / "link.bin");
    bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown((dir / "out.bin").c_str(), 65534, 65534), 0);
    }
    run_result result = run_program(DUMPENTRY_PATH, {"link.bin", "in.txt"}, "", dir.path);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.bin"));
    EXPECT_EQ(read_file(dir / "out.bin"), "\xAA");
    struct stat st;
    ASSERT_EQ(stat((dir / "out.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, root ? 65534u : geteuid());
    EXPECT_EQ(st.st_gid, root ? 65534u : getegid());
    if (!root)
        return;
    // Another user may replace a file he may write, though not give the new one away; a member
    // of its group keeps the group, anyone else is told.
    std::filesystem::permissions(dir.path, std::filesystem::perms::all);
    struct shared_case {
        const char *groups;
        gid_t group_after;
        std::string err;
    } shared_cases[] = {{"--groups=60", 60, ""},
                        {"--clear-groups", 65534, "Warning: Couldn't keep the group of 'shared.bin': Operation not permitted\n"}};
    for (const shared_case &shared : shared_cases) {
        write_file(dir / "shared.bin", kept);
        ASSERT_EQ(chown((dir / "shared.bin").c_str(), 1234, 60), 0);
        std::filesystem::permissions(dir / "shared.bin", std::filesystem::perms(0666));
        run_result other = run_program("/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", shared.groups,
                                                            DUMPENTRY_PATH, "shared.bin", "in.txt"}, "", dir.path);
        EXPECT_EQ(other.status, 0) << other.err;
        EXPECT_EQ(other.err.substr(other.err.find("Remaining bytes: 1\n") + 19), shared.err);
        EXPECT_EQ(read_file(dir / "shared.bin"), "\xAA");
        ASSERT_EQ(stat((dir / "shared.bin").c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 65534u);
        EXPECT_EQ(st.st_gid, shared.group_after);
        EXPECT_EQ(st.st_mode & 07777, 0666u);
    }
}

} // namespace
