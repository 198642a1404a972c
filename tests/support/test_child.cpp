// A small program for process tests. "echo CODE ARGS..." prints each argument
// on its own line, "done" on standard error and exits with CODE; "sleep" waits
// until it is killed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/process.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args = zel::utf8_command_line(argc, argv);
    if (args.size() >= 3 && args[1] == "echo") {
        for (size_t i = 3; i < args.size(); ++i) std::printf("%s\n", args[i].c_str());
        std::fprintf(stderr, "done\n");
        return std::atoi(args[2].c_str());
    }
    if (args.size() >= 2 && args[1] == "sleep") {
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    return 99;
}
