#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zel {

uint32_t current_process_id();

// The program's command line as UTF-8, program name first. (On Windows the C
// runtime's argv is in the ANSI code page; the wide command line is read.)
std::vector<std::string> utf8_command_line(int argc, char** argv);

// Kernel + user time of this process and of the whole system (idle included,
// all processors), in the same unit, for CPU-share figures.
struct CpuTimes {
    uint64_t process = 0;
    uint64_t system = 0;
};
bool read_cpu_times(CpuTimes& out);

// Resident memory of this process in bytes; 0 when it cannot be read.
uint64_t working_set_bytes();

// The process's share of all processors between two calls, in percent. The
// first call only stores the starting pair and gives 0, as does a call where
// system time did not advance or process time went backwards.
class CpuShareMeter {
  public:
    double sample();
    // The same rule on given figures (for tests and for callers with their own source).
    double sample(const CpuTimes& now);

  private:
    bool havePrevious_ = false;
    CpuTimes previous_;
};

// Quotes one argument for a Windows command line so that the C runtime's
// parser gives it back unchanged (backslashes before quotes doubled).
std::string quote_windows_argument(std::string_view arg);

// A started child process. Standard output and error are collected in memory
// when asked for. The destructor kills a child that still runs.
class ChildProcess {
  public:
    struct Options {
        std::filesystem::path workingDirectory;  // empty: inherit
        bool captureOutput = false;              // else both go to the null device
        bool hideWindow = true;                  // Windows: no console window
        // Windows: when set, passed verbatim to CreateProcessW (with no
        // application name) instead of the line built from program and args,
        // for callers that must control the exact quoting. Ignored on Linux.
        std::string windowsCommandLine;
    };

    ChildProcess();
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // args excludes the program itself. False (with error() filled) when the
    // program could not be started.
    bool start(const std::filesystem::path& program, const std::vector<std::string>& args,
               const Options& options);
    bool running();
    // Waits up to timeoutMs (negative: for ever); the exit code once ended.
    std::optional<int> wait(int timeoutMs);
    // Ends the child at once (SIGKILL / TerminateProcess) and reaps it.
    void kill();
    // Like kill(), but waits at most waitMs for the end; true once it ended.
    bool terminate(int waitMs);
    uint32_t pid() const;
    const std::string& error() const { return error_; }
    // Collected output; complete once wait() has returned an exit code.
    std::string standardOutput();
    std::string standardError();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string error_;
};

// Starts a program that outlives this process and is never waited for (a
// launcher's job, e.g. opening another application). False when it could not
// be started.
bool launch_detached(const std::filesystem::path& program, const std::vector<std::string>& args,
                     const std::filesystem::path& workingDirectory);

// Runs a program to its end (killing it after timeoutMs) and collects its output.
struct RunResult {
    bool started = false;
    bool timedOut = false;
    int exitCode = -1;
    std::string out;
    std::string err;
};
RunResult run_and_capture(const std::filesystem::path& program,
                          const std::vector<std::string>& args, int timeoutMs);

}  // namespace zel
