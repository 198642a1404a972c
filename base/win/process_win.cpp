#include <windows.h>

#include <psapi.h>
#include <shellapi.h>

#include <mutex>
#include <thread>

#include "base/fs.h"
#include "base/process.h"
#include "base/text.h"

namespace zel {

namespace {
uint64_t filetime_value(const FILETIME& f) {
    return (uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime;
}
}  // namespace

uint32_t current_process_id() {
    return uint32_t(::GetCurrentProcessId());
}

std::vector<std::string> utf8_command_line(int, char**) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> args;
    if (!wide) return args;
    for (int i = 0; i < count; ++i) {
        const std::wstring w(wide[i]);
        args.push_back(utf16_to_utf8(std::u16string(w.begin(), w.end())));
    }
    ::LocalFree(wide);
    return args;
}

bool read_cpu_times(CpuTimes& out) {
    FILETIME creation, exit, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &creation, &exit, &kernel, &user)) return false;
    FILETIME idle, sysKernel, sysUser;
    if (!::GetSystemTimes(&idle, &sysKernel, &sysUser)) return false;
    out.process = filetime_value(kernel) + filetime_value(user);
    // System kernel time includes idle time, so this is all processors' time.
    out.system = filetime_value(sysKernel) + filetime_value(sysUser);
    return true;
}

uint64_t working_set_bytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return counters.WorkingSetSize;
}

struct ChildProcess::Impl {
    PROCESS_INFORMATION info{};
    bool started = false;
    bool ended = false;
    int exitCode = -1;
    std::thread outReader, errReader;
    std::mutex lock;
    std::string out, err;

    void startReader(HANDLE h, std::string& sink, std::thread& thread) {
        thread = std::thread([this, h, &sink] {
            char buffer[4096];
            DWORD n = 0;
            while (::ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n > 0) {
                std::lock_guard<std::mutex> g(lock);
                sink.append(buffer, n);
            }
            ::CloseHandle(h);
        });
    }

    void joinReaders() {
        if (outReader.joinable()) outReader.join();
        if (errReader.joinable()) errReader.join();
    }

    bool poll(DWORD timeoutMs) {
        if (!started) return false;
        if (ended) return true;
        if (::WaitForSingleObject(info.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
        DWORD code = 0;
        ::GetExitCodeProcess(info.hProcess, &code);
        exitCode = int(code);
        ended = true;
        return true;
    }
};

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess() {
    if (impl_->started && !impl_->poll(0)) kill();
    impl_->joinReaders();
    if (impl_->started) {
        ::CloseHandle(impl_->info.hProcess);
        ::CloseHandle(impl_->info.hThread);
    }
}

bool ChildProcess::start(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const Options& options) {
    std::string commandLine = options.windowsCommandLine;
    if (commandLine.empty()) {
        commandLine = quote_windows_argument(path_to_utf8(program));
        for (const auto& a : args) commandLine += " " + quote_windows_argument(a);
    }
    std::wstring wide;
    {
        const std::u16string u16 = utf8_to_utf16(commandLine);
        wide.assign(u16.begin(), u16.end());
    }

    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    HANDLE nul =
        ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      &inherit, OPEN_EXISTING, 0, nullptr);
    if (options.captureOutput) {
        if (!::CreatePipe(&outRead, &outWrite, &inherit, 0) ||
            !::CreatePipe(&errRead, &errWrite, &inherit, 0)) {
            error_ = "CreatePipe failed: " + std::to_string(::GetLastError());
            return false;
        }
        ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
        ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    }
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nul;
    si.hStdOutput = options.captureOutput ? outWrite : nul;
    si.hStdError = options.captureOutput ? errWrite : nul;
    const std::wstring dir = options.workingDirectory.wstring();
    const wchar_t* application = options.windowsCommandLine.empty() ? program.c_str() : nullptr;
    const BOOL ok = ::CreateProcessW(application, wide.data(), nullptr, nullptr, TRUE,
                                     options.hideWindow ? CREATE_NO_WINDOW : 0, nullptr,
                                     dir.empty() ? nullptr : dir.c_str(), &si, &impl_->info);
    const DWORD startError = ::GetLastError();
    if (outWrite) ::CloseHandle(outWrite);
    if (errWrite) ::CloseHandle(errWrite);
    if (nul != INVALID_HANDLE_VALUE) ::CloseHandle(nul);
    if (!ok) {
        if (outRead) ::CloseHandle(outRead);
        if (errRead) ::CloseHandle(errRead);
        error_ = "CreateProcessW failed: " + std::to_string(startError);
        return false;
    }
    impl_->started = true;
    if (options.captureOutput) {
        impl_->startReader(outRead, impl_->out, impl_->outReader);
        impl_->startReader(errRead, impl_->err, impl_->errReader);
    }
    return true;
}

bool ChildProcess::running() {
    return impl_->started && !impl_->poll(0);
}

std::optional<int> ChildProcess::wait(int timeoutMs) {
    if (!impl_->started) return std::nullopt;
    if (!impl_->poll(timeoutMs < 0 ? INFINITE : DWORD(timeoutMs))) return std::nullopt;
    impl_->joinReaders();
    return impl_->exitCode;
}

void ChildProcess::kill() {
    if (!impl_->started || impl_->poll(0)) return;
    ::TerminateProcess(impl_->info.hProcess, 1);
    impl_->poll(INFINITE);
}

bool ChildProcess::terminate(int waitMs) {
    if (!impl_->started || impl_->poll(0)) return true;
    ::TerminateProcess(impl_->info.hProcess, 0);
    return impl_->poll(waitMs < 0 ? INFINITE : DWORD(waitMs));
}

bool launch_detached(const std::filesystem::path& program, const std::vector<std::string>& args,
                     const std::filesystem::path& workingDirectory) {
    std::string commandLine = quote_windows_argument(path_to_utf8(program));
    for (const auto& a : args) commandLine += " " + quote_windows_argument(a);
    const std::u16string u16 = utf8_to_utf16(commandLine);
    std::wstring wide(u16.begin(), u16.end());
    const std::wstring dir = workingDirectory.wstring();
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(program.c_str(), wide.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          dir.empty() ? nullptr : dir.c_str(), &si, &info)) {
        return false;
    }
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return true;
}

uint32_t ChildProcess::pid() const {
    return impl_->started ? uint32_t(impl_->info.dwProcessId) : 0;
}

std::string ChildProcess::standardOutput() {
    std::lock_guard<std::mutex> g(impl_->lock);
    return impl_->out;
}

std::string ChildProcess::standardError() {
    std::lock_guard<std::mutex> g(impl_->lock);
    return impl_->err;
}

}  // namespace zel
