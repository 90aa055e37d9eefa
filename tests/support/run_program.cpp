#include "run_program.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace korvex::test {

namespace {

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

#ifdef _WIN32
// Quotes one argument the way the C runtime's command-line parser reads it.
std::string quoted(const std::string& argument) {
    std::string result = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') result.append(backslashes * 2 + 1, '\\');
        else result.append(backslashes, '\\');
        backslashes = 0;
        result += c;
    }
    result.append(backslashes * 2, '\\');
    return result + "\"";
}

std::map<unsigned, HANDLE>& children() {
    static std::map<unsigned, HANDLE> handles;
    return handles;
}
#else
std::map<unsigned, pid_t>& children() {
    static std::map<unsigned, pid_t> ids;
    return ids;
}
#endif

}  // namespace

ProgramResult run_program(const std::string& program, const std::vector<std::string>& arguments) {
    TempDir dir;
    const auto out_path = dir.path() / "out";
    const auto err_path = dir.path() / "err";
    ProgramResult result;
#ifdef _WIN32
    std::string command = quoted(program);
    for (const auto& argument : arguments) command += " " + quoted(argument);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(out_path.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE err = CreateFileA(err_path.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION child{};
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &child)) {
        WaitForSingleObject(child.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(child.hProcess, &code);
        result.exit_code = static_cast<int>(code);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
    }
    CloseHandle(out);
    CloseHandle(err);
#else
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(child, &status, 0);
        result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
#endif
    result.out = slurp(out_path);
    result.err = slurp(err_path);
    return result;
}

unsigned current_process_id() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned>(getpid());
#endif
}

unsigned start_sleeping_child() {
#ifdef _WIN32
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string command = quoted(path) + " --sleep-child";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &child))
        return 0;
    CloseHandle(child.hThread);
    children()[child.dwProcessId] = child.hProcess;
    return child.dwProcessId;
#else
    const pid_t child = fork();
    if (child == 0) {
        sleep(60);
        _exit(7);
    }
    children()[static_cast<unsigned>(child)] = child;
    return static_cast<unsigned>(child);
#endif
}

int end_child(unsigned id, bool force) {
#ifdef _WIN32
    HANDLE process = children()[id];
    if (force) TerminateProcess(process, 9);
    WaitForSingleObject(process, 30000);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    children().erase(id);
    return static_cast<int>(code);
#else
    const pid_t child = children()[id];
    if (force) kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    children().erase(id);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
}

}  // namespace korvex::test
