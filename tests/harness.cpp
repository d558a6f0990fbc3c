#include "harness.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

const std::string contact_banner =
    "---[ CONTACT ]----------------------------------------------------------------\n"
    "  bramtools: carry PC Engine backup memory files out by hand\n"
    "  Maintainers: see the README.md that comes with bramtools for how to reach us\n"
    "  About the backup memory (BRAM): see the notes in that same README.md\n"
    "  Greetings to everyone who keeps their old saves alive!\n";

const std::string worked_save("\x14\x00\x07\xFE\x00\x00SAVE      \x01\x02\x03\x04", 20);

scratch_dir::scratch_dir()
{
    char name[] = "/tmp/bramtools-test-XXXXXX";
    if (!mkdtemp(name))
        abort();
    path = name;
}

scratch_dir::~scratch_dir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string read_file(const std::string &path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream stream(path, std::ios::binary);
    stream << bytes;
}

void write_files(const scratch_dir &dir, const std::map<std::string, std::string> &files)
{
    for (const auto &[name, bytes] : files) {
        std::filesystem::create_directories(std::filesystem::path(dir / name).parent_path());
        write_file(dir / name, bytes);
    }
}

bool file_exists(const std::string &path)
{
    return std::filesystem::exists(std::filesystem::symlink_status(path));
}

static void redirect(const std::string &path, int flags, int target)
{
    int fd = open(path.c_str(), flags, 0644);
    if (fd < 0 || dup2(fd, target) < 0)
        _exit(126);
    close(fd);
}

run_result run_program(const std::string &program, const std::vector<std::string> &args,
                       const std::string &stdin_text, const std::string &cwd)
{
    scratch_dir io;
    write_file(io / "stdin", stdin_text);
    pid_t child = fork();
    if (child == 0) {
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        redirect(io / "stdin", O_RDONLY, 0);
        redirect(io / "stdout", O_WRONLY | O_CREAT | O_TRUNC, 1);
        redirect(io / "stderr", O_WRONLY | O_CREAT | O_TRUNC, 2);
        std::vector<char *> argv{const_cast<char *>(program.c_str())};
        for (const std::string &arg : args)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        alarm(60);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int wait_status = 0;
    waitpid(child, &wait_status, 0);
    int status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    return {read_file(io / "stdout"), read_file(io / "stderr"), status};
}

std::string random_bytes(size_t count, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char &byte : bytes)
        byte = static_cast<char>(generator() & 0xFF);
    return bytes;
}

std::string typed_dump(const std::string &bytes)
{
    static const char *const separators[] = {" ", "-", ":", "", "  ", "\t", ", "};
    static const char *const line_ends[] = {"\n", "\r\n", " \n"};
    char pair[8];
    std::string text;
    snprintf(pair, sizeof pair, "%04X", static_cast<unsigned>(bytes.size()));
    text += std::string("00 ") + pair + "\n";
    for (size_t k = 0; k < bytes.size(); k++) {
        if ((k / 8) % 2)
            snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(bytes[k]));
        else
            snprintf(pair, sizeof pair, "%02X", static_cast<unsigned char>(bytes[k]));
        text += pair;
        bool line_ends_here = k % 8 == 7 || k + 1 == bytes.size();
        text += line_ends_here ? line_ends[(k / 8) % 3] : separators[(k + k / 8) % 7];
    }
    return text;
}

bool needs_posix(const std::vector<std::string> &args)
{
    for (const std::string &arg : args)
        if (arg.find("/dev/") != std::string::npos)
            return true;
    return false;
}

std::string test_name(const char *row_name)
{
    std::string name = row_name;
    for (char &c : name)
        if (!isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

std::string array_text(const std::string &bytes)
{
    std::string text = "const char bram_data[] = {\n";
    for (size_t k = 0; k < bytes.size(); k++) {
        char element[8];
        snprintf(element, sizeof element, "0X%02X, ", static_cast<unsigned char>(bytes[k]));
        text += element;
        if (k % 8 == 7)
            text += "\n";
    }
    return text + "\n0X00, 0X00\n};\n";
}

std::string utf16_bytes(const std::u16string &text, bool mark)
{
    std::string bytes = mark ? "\xFF\xFE" : "";
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}
