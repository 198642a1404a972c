#include "base/process.h"

namespace zel {

double CpuShareMeter::sample() {
    CpuTimes now;
    if (!read_cpu_times(now)) return 0.0;
    return sample(now);
}

double CpuShareMeter::sample(const CpuTimes& now) {
    double result = 0.0;
    if (havePrevious_ && now.system > previous_.system && now.process >= previous_.process) {
        result = 100.0 * double(now.process - previous_.process) /
                 double(now.system - previous_.system);
    }
    previous_ = now;
    havePrevious_ = true;
    return result;
}

std::string quote_windows_argument(std::string_view arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string_view::npos) {
        return std::string(arg);
    }
    std::string out = "\"";
    size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, '\\');
    out.push_back('"');
    return out;
}

RunResult run_and_capture(const std::filesystem::path& program, const std::vector<std::string>& args,
                          int timeoutMs) {
    RunResult r;
    ChildProcess child;
    ChildProcess::Options options;
    options.captureOutput = true;
    if (!child.start(program, args, options)) {
        r.err = child.error();
        return r;
    }
    r.started = true;
    auto code = child.wait(timeoutMs);
    if (!code) {
        r.timedOut = true;
        child.kill();
        code = child.wait(5000);
    }
    r.exitCode = code.value_or(-1);
    r.out = child.standardOutput();
    r.err = child.standardError();
    return r;
}

}  // namespace zel
