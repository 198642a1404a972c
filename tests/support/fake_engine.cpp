// Stands in for the engine in supervisor tests, where the real engine cannot
// be made to fail on cue. Its behaviour is read from "fake_engine_mode" in its
// own folder: "exit" (ends at once with code 3), "never-ready" (runs without
// writing a status), "streaming" (reports streaming), "hang-listing" (the
// device listing never ends), anything else or no file: reports ready.
// It always records its arguments, one per line, in "fake_engine_args.txt".
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "base/fs.h"
#include "base/process.h"

namespace {

void sleep_for_ever() {
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

std::string status(const std::string& state) {
    return "{\"state\":\"" + state +
           "\",\"message\":\"\",\"backend\":\"fake\",\"width\":1920,"
           "\"height\":1080,\"fps\":60}";
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args = zel::utf8_command_line(argc, argv);
    const auto folder = zel::executable_path().parent_path();
    std::string record;
    for (size_t i = 1; i < args.size(); ++i) record += args[i] + "\n";
    zel::atomic_replace_file(folder / "fake_engine_args.txt", record);

    std::string mode;
    zel::read_whole_file(folder / "fake_engine_mode", mode);
    while (!mode.empty() && (mode.back() == '\n' || mode.back() == '\r')) mode.pop_back();

    std::string statusFile;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--list-audio-devices") {
            if (mode == "hang-listing") sleep_for_ever();
            std::printf(
                "[{\"id\":\"{0.0.0.00000000}.{a1}\",\"name\":\"Speakers \\\"Living\\\"\","
                "\"default\":true},{\"id\":\"\",\"name\":\"No id\",\"default\":false},"
                "{\"id\":\"{0.0.0.00000000}.{b2}\",\"name\":\"HDMI \xC2\xB7 "
                "TV\",\"default\":false}]\n");
            return 0;
        }
        if (args[i] == "--status-file" && i + 1 < args.size()) statusFile = args[i + 1];
    }
    if (mode == "exit") return 3;
    if (mode != "never-ready" && !statusFile.empty()) {
        zel::atomic_replace_file(zel::path_from_utf8(statusFile),
                                 status(mode == "streaming" ? "streaming" : "ready"));
    }
    sleep_for_ever();
}
