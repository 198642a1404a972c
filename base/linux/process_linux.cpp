#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "base/process.h"

extern char** environ;

namespace zel {

uint32_t current_process_id() {
    return uint32_t(::getpid());
}

std::vector<std::string> utf8_command_line(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

bool read_cpu_times(CpuTimes& out) {
    // Both figures in clock ticks: utime + stime of this process, and the sum of
    // every field of the "cpu" line of /proc/stat (idle included), which is what
    // the process's share of all processors is measured against.
    std::ifstream self("/proc/self/stat");
    std::string line;
    if (!std::getline(self, line)) return false;
    const size_t close = line.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream fields(line.substr(close + 2));
    std::string f;
    uint64_t utime = 0, stime = 0;
    for (int i = 3; fields >> f; ++i) {
        if (i == 14) utime = std::strtoull(f.c_str(), nullptr, 10);
        if (i == 15) {
            stime = std::strtoull(f.c_str(), nullptr, 10);
            break;
        }
    }
    std::ifstream stat("/proc/stat");
    std::string label;
    if (!(stat >> label) || label != "cpu") return false;
    uint64_t total = 0, v = 0;
    std::getline(stat, line);
    std::istringstream values(line);
    while (values >> v) total += v;
    out.process = utime + stime;
    out.system = total;
    return true;
}

uint64_t working_set_bytes() {
    std::ifstream statm("/proc/self/statm");
    uint64_t size = 0, resident = 0;
    if (!(statm >> size >> resident)) return 0;
    return resident * uint64_t(::sysconf(_SC_PAGESIZE));
}

struct ChildProcess::Impl {
    pid_t pid = -1;
    bool reaped = false;
    int exitCode = -1;
    std::thread outReader, errReader;
    std::mutex lock;
    std::string out, err;

    void startReader(int fd, std::string& sink, std::thread& thread) {
        thread = std::thread([this, fd, &sink] {
            char buffer[4096];
            for (;;) {
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                std::lock_guard<std::mutex> g(lock);
                sink.append(buffer, size_t(n));
            }
            ::close(fd);
        });
    }

    void joinReaders() {
        if (outReader.joinable()) outReader.join();
        if (errReader.joinable()) errReader.join();
    }

    bool poll() {
        if (reaped || pid <= 0) return reaped;
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            reaped = true;
            exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return reaped;
    }
};

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess() {
    if (impl_->pid > 0 && !impl_->poll()) kill();
    impl_->joinReaders();
}

bool ChildProcess::start(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const Options& options) {
    std::vector<std::string> argvStore;
    argvStore.push_back(program.string());
    argvStore.insert(argvStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvStore) argv.push_back(a.data());
    argv.push_back(nullptr);

    int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.captureOutput) {
        if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
            error_ = std::string("pipe failed: ") + ::strerror(errno);
            posix_spawn_file_actions_destroy(&actions);
            return false;
        }
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    // A child gets standard input, output and error only: a descriptor the
    // parent opened without close-on-exec (a lock file, a socket from a
    // library) would otherwise live on in the child and outlast the parent.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (!options.workingDirectory.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
    }
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (options.captureOutput) {
        ::close(outPipe[1]);
        ::close(errPipe[1]);
    }
    if (rc != 0) {
        if (options.captureOutput) {
            ::close(outPipe[0]);
            ::close(errPipe[0]);
        }
        error_ = "cannot start " + program.string() + ": " + ::strerror(rc);
        return false;
    }
    impl_->pid = pid;
    if (options.captureOutput) {
        impl_->startReader(outPipe[0], impl_->out, impl_->outReader);
        impl_->startReader(errPipe[0], impl_->err, impl_->errReader);
    }
    return true;
}

bool ChildProcess::running() {
    return impl_->pid > 0 && !impl_->poll();
}

std::optional<int> ChildProcess::wait(int timeoutMs) {
    if (impl_->pid <= 0) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!impl_->poll()) {
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    impl_->joinReaders();
    return impl_->exitCode;
}

void ChildProcess::kill() {
    if (impl_->pid <= 0 || impl_->poll()) return;
    ::kill(impl_->pid, SIGKILL);
    int status = 0;
    if (::waitpid(impl_->pid, &status, 0) == impl_->pid) {
        impl_->reaped = true;
        impl_->exitCode = 128 + SIGKILL;
    }
}

bool ChildProcess::terminate(int waitMs) {
    if (impl_->pid <= 0 || impl_->poll()) return true;
    ::kill(impl_->pid, SIGKILL);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (!impl_->poll()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool launch_detached(const std::filesystem::path& program, const std::vector<std::string>& args,
                     const std::filesystem::path& workingDirectory) {
    std::vector<std::string> argvStore{program.string()};
    argvStore.insert(argvStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (!workingDirectory.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
    }
    // Its own session, so a terminal's Ctrl-C aimed at us does not reach it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    const int rc =
        ::posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) return false;
    // Reaped by a detached thread so it never lingers as a zombie.
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

uint32_t ChildProcess::pid() const {
    return impl_->pid > 0 ? uint32_t(impl_->pid) : 0;
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
