#include "run_program.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
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
        if (c == '"')
            result.append(backslashes * 2 + 1, '\\');
        else
            result.append(backslashes, '\\');
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

ProgramResult run_program(const std::string& program, const std::vector<std::string>& arguments,
                          const RunOptions& options) {
    TempDir dir;
    const auto out_path = dir.path() / "out";
    const auto err_path = dir.path() / "err";
    const std::string in_path = dir.write("in", {options.input.begin(), options.input.end()});
    ProgramResult result;
    std::string launch_failure;
#ifdef _WIN32
    std::string command = quoted(program);
    for (const auto& argument : arguments) command += " " + quoted(argument);
    std::wstring wide_command(command.size() + 1, L'\0');
    wide_command.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, command.c_str(), -1, wide_command.data(),
                            static_cast<int>(wide_command.size())) -
        1));
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const auto open = [&](const std::string& path, DWORD access, DWORD disposition) {
        return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE in = open(in_path, GENERIC_READ, OPEN_EXISTING);
    HANDLE out = INVALID_HANDLE_VALUE;
    if (options.output_pipe_closed) {
        HANDLE reader = nullptr;
        CreatePipe(&reader, &out, &inherit, 0);
        CloseHandle(reader);
    } else {
        out = options.output_path.empty() ? open(out_path.string(), GENERIC_WRITE, CREATE_ALWAYS)
                                          : open(options.output_path, GENERIC_WRITE, OPEN_ALWAYS);
    }
    HANDLE err = open(err_path.string(), GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION child{};
    const std::wstring folder = std::filesystem::path(options.working_directory).wstring();
    // Under load Wine now and then fails to start a process; what a test
    // checks is the program, so the start is tried again, and a start that
    // never happens says why.
    bool started = false;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        started = CreateProcessW(nullptr, wide_command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                 folder.empty() ? nullptr : folder.c_str(), &startup, &child);
        if (!started) {
            launch_failure = "CreateProcessW failed, error " + std::to_string(GetLastError());
            Sleep(250);
        }
    }
    if (started) {
        launch_failure.clear();
        // A program that never ends (a Wine process wedged under load, or a
        // fault) fails its test with the command named, rather than holding
        // the whole test program until ctest's limit.
        if (WaitForSingleObject(child.hProcess, 300000) == WAIT_TIMEOUT) {
            TerminateProcess(child.hProcess, 124);
            WaitForSingleObject(child.hProcess, 30000);
            launch_failure = "did not end within 300 s: " + command;
        }
        DWORD code = 0;
        GetExitCodeProcess(child.hProcess, &code);
        result.exit_code = static_cast<int>(code);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
    }
    for (HANDLE handle : {in, out, err}) CloseHandle(handle);
#else
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in_path.c_str(), O_RDONLY, 0);
    if (!options.working_directory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.working_directory.c_str());
    int terminal = -1, terminal_side = -1, pipe_ends[2] = {-1, -1};
    if (options.on_terminal && openpty(&terminal, &terminal_side, nullptr, nullptr, nullptr) == 0) {
        posix_spawn_file_actions_adddup2(&actions, terminal_side, 1);
        posix_spawn_file_actions_adddup2(&actions, terminal_side, 2);
    } else {
        if (options.output_pipe_closed && pipe(pipe_ends) == 0) {
            close(pipe_ends[0]);  // closed before the child starts, so its first write fails
            posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 1);
        } else {
            const std::string out =
                options.output_path.empty() ? out_path.string() : options.output_path;
            posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                             0600);
        }
        posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    const std::string launcher = current_program();
    const std::string peak_path = (dir.path() / "peak").string();
    std::vector<char*> argv;
    if (options.measure_memory)
        argv = {const_cast<char*>(launcher.c_str()), const_cast<char*>(peak_memory_flag),
                const_cast<char*>(peak_path.c_str())};
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    const bool started = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    for (int fd : {terminal_side, pipe_ends[1]})
        if (fd >= 0) close(fd);
    if (terminal >= 0) {
        char chunk[4096];
        for (ssize_t n; (n = read(terminal, chunk, sizeof chunk)) > 0;) result.out.append(chunk, n);
        close(terminal);
    }
    if (started) {
        int status = 0;
        waitpid(child, &status, 0);
        result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (options.measure_memory) std::ifstream(peak_path) >> result.peak_memory_kb;
    }
    posix_spawn_file_actions_destroy(&actions);
#endif
    if (!options.on_terminal) result.out = slurp(out_path);
    result.err = slurp(err_path) + launch_failure;
    return result;
}

#ifndef _WIN32
int measure_peak_memory(char** file_program_and_arguments) {
    char** program_and_arguments = file_program_and_arguments + 1;
    const pid_t child = fork();
    if (child == 0) {
        execv(program_and_arguments[0], program_and_arguments);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child) return 127;
    std::ofstream(file_program_and_arguments[0]) << usage.ru_maxrss;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
#endif

std::string linux_path(const std::string& path) {
#ifdef _WIN32
    using Convert = char*(__cdecl*)(const wchar_t*);
    const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (convert == nullptr) return path;
    char* converted = convert(std::wstring(path.begin(), path.end()).c_str());
    if (converted == nullptr) return path;
    std::string result = converted;
    HeapFree(GetProcessHeap(), 0, converted);
    return result;
#else
    return path;
#endif
}

ScopedVariable::ScopedVariable(std::string name, const std::string& value)
    : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) had_value_ = true, old_value_ = old;
#ifdef _WIN32
    SetEnvironmentVariableA(name_.c_str(), value.c_str());
#else
    setenv(name_.c_str(), value.c_str(), 1);
#endif
}

ScopedVariable::~ScopedVariable() {
#ifdef _WIN32
    SetEnvironmentVariableA(name_.c_str(), had_value_ ? old_value_.c_str() : nullptr);
#else
    if (had_value_)
        setenv(name_.c_str(), old_value_.c_str(), 1);
    else
        unsetenv(name_.c_str());
#endif
}

std::string current_program() {
#ifdef _WIN32
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
#else
    return std::filesystem::read_symlink("/proc/self/exe").string();
#endif
}

unsigned current_process_id() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned>(getpid());
#endif
}

unsigned start_sleeping_child(const std::string& program) {
#ifdef _WIN32
    std::string command = quoted(program.empty() ? current_program() : program) + " --sleep-child";
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
    pid_t child = 0;
    if (!program.empty()) {
        char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("--sleep-child"),
                        nullptr};
        if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ) != 0) return 0;
    } else if ((child = fork()) == 0) {
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
