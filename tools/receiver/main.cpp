// zel-receiver: a command-line reference receiver for the engine's stream.
#include <cxxopts.hpp>

#include <cstdio>
#include <iostream>

#include "base/fs.h"
#include "base/net.h"
#include "engine/protocol/packets.h"
#include "tools/receiver/access_code.h"
#include "tools/receiver/decoders.h"
#include "tools/receiver/receiver_client.h"

using namespace zel;
using namespace zel::receiver;

namespace {

constexpr const char* kScriptHelp = R"(
Input script (--input-script): one event a line, '#' starts a comment:
  <ms> <kind> <action> <slot> <code> <x> <y>
  ms      milliseconds after the first video frame arrived (non-decreasing)
  kind    1..255 or key, move, button, pad-button, pad-axis, pad-neutral, touch
  action  key/button: 1 press, 0 release; move: 2 absolute, 3 relative;
          touch: 1 down, 2 move, 0 up; pad-axis: 1
  slot    gamepad player 1..4 for pad kinds, else 0
  code    key code, button or axis number, touch contact id (-32768..65535)
  x y     signed 32-bit values
Example:
  500  key   1 0 65 0 0
  520  key   0 0 65 0 0
  1000 move  2 0 0  32768 32768
  1500 touch 1 0 1  1000 2000

The JSON summary is printed on standard output at the end. Exit codes: 0 ok,
1 bad command line, 2 refused by the engine (SERR), 3 connection failed,
closed or timed out.
)";

int fail_usage(const std::string& message) {
    std::fprintf(stderr, "zel-receiver: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string decodingNote =
        video_decoding_available()
            ? "Video is decoded with libavcodec (H.264, HEVC), audio with libopus."
            : "This Windows build has no libavcodec: video frames are received and counted but "
              "not decoded (--save-frame does nothing); audio is decoded with libopus.";
    cxxopts::Options options("zel-receiver",
                             "Reference receiver: connects to an engine, receives and decodes its "
                             "stream, reports back like a TV and prints a JSON summary.\n" +
                                 decodingNote);
    // clang-format off
    options.add_options()
        ("host", "engine IPv4 address", cxxopts::value<std::string>()->default_value("127.0.0.1"))
        ("port", "engine TCP port", cxxopts::value<uint16_t>()->default_value("48300"))
        ("protocol-version", "capability packet version (below 2 means version 1)",
         cxxopts::value<uint16_t>()->default_value("2"))
        ("flags", "raw capability flags byte, overrides the flag options below",
         cxxopts::value<int>()->default_value("-1"))
        ("no-audio", "do not ask for audio (flag bit 0 clear)")
        ("tcp", "do not ask for UDP: media over TCP (flag bit 1 clear)")
        ("shared-audio-port", "audio to the video port (flag bit 2 clear)")
        ("no-hevc", "cannot decode HEVC (flag bit 3 clear)")
        ("draws-pointer", "receiver draws the pointer itself (flag bit 4)")
        ("channels", "channels the receiver plays: 2, 6 (bit 5) or 8 (bit 6)",
         cxxopts::value<int>()->default_value("2"))
        ("requires-hevc", "cannot decode H.264 (flag bit 7, implies HEVC)")
        ("video-port", "local UDP video port, 0 = any free one",
         cxxopts::value<uint16_t>()->default_value("0"))
        ("audio-port", "local UDP audio port, 0 = any free one",
         cxxopts::value<uint16_t>()->default_value("0"))
        ("max-datagram", "largest datagram announced, 576..1400",
         cxxopts::value<uint16_t>()->default_value("1400"))
        ("token", "session token in decimal", cxxopts::value<uint64_t>()->default_value("0"))
        ("access-code", "4-character access code; the token is derived from it",
         cxxopts::value<std::string>()->default_value(""))
        ("duration", "seconds after the first frame, then end the session with SCTL",
         cxxopts::value<double>()->default_value("0"))
        ("frames", "frames to receive, then end the session with SCTL",
         cxxopts::value<uint64_t>()->default_value("0"))
        ("no-end-packet", "at the end just close the connection instead of sending SCTL")
        ("keyframe-every", "ask for a key frame every this many seconds (0 = never)",
         cxxopts::value<double>()->default_value("0"))
        ("no-keyframe-on-loss", "do not ask for a key frame when a frame was lost")
        ("input-script", "file of input events to send (format below)",
         cxxopts::value<std::string>()->default_value(""))
        ("save-frame", "index (from 0) of the decoded picture to save as PNG",
         cxxopts::value<int64_t>()->default_value("-1"))
        ("png", "PNG file for --save-frame", cxxopts::value<std::string>()->default_value(""))
        ("wav", "WAV file for the decoded audio", cxxopts::value<std::string>()->default_value(""))
        ("json", "also write the JSON summary to this file",
         cxxopts::value<std::string>()->default_value(""))
        ("connect-timeout-ms", "TCP connect time-out", cxxopts::value<int>()->default_value("5000"))
        ("metadata-timeout-ms", "wait for stream metadata", cxxopts::value<int>()->default_value("20000"))
        ("idle-timeout-ms", "give up when no media arrives for this long",
         cxxopts::value<int>()->default_value("5000"))
        ("ping-interval-ms", "clock ping interval", cxxopts::value<int>()->default_value("500"))
        ("report-interval-ms", "transport and audio report interval",
         cxxopts::value<int>()->default_value("1000"))
        ("no-decode", "receive only, decode nothing")
        ("h,help", "show this help");
    // clang-format on

    ReceiverOptions o;
    try {
        const auto args = options.parse(argc, argv);
        if (args.count("help")) {
            std::cout << options.help() << kScriptHelp;
            return 0;
        }
        if (!args.unmatched().empty())
            return fail_usage("unexpected argument " + args.unmatched()[0]);
        if (!net::parse_ipv4(args["host"].as<std::string>(), o.engine.address)) {
            return fail_usage("--host must be an IPv4 address");
        }
        o.engine.port = args["port"].as<uint16_t>();
        o.version = args["protocol-version"].as<uint16_t>();
        const int channels = args["channels"].as<int>();
        if (channels != 2 && channels != 6 && channels != 8)
            return fail_usage("--channels: 2, 6 or 8");
        const int rawFlags = args["flags"].as<int>();
        if (rawFlags > 0xFFFF) return fail_usage("--flags must fit 16 bits");
        if (rawFlags >= 0) {
            o.flags = uint16_t(rawFlags);
        } else {
            o.flags = protocol::kFlagWantsAudio | protocol::kFlagUdp |
                      protocol::kFlagSeparateAudioPort | protocol::kFlagHevcCapable;
            if (args.count("no-audio")) o.flags &= uint16_t(~protocol::kFlagWantsAudio);
            if (args.count("tcp")) {
                o.flags &= uint16_t(~(protocol::kFlagUdp | protocol::kFlagSeparateAudioPort));
            }
            if (args.count("shared-audio-port")) {
                o.flags &= uint16_t(~protocol::kFlagSeparateAudioPort);
            }
            if (args.count("no-hevc")) o.flags &= uint16_t(~protocol::kFlagHevcCapable);
            if (args.count("draws-pointer")) o.flags |= protocol::kFlagDrawsPointer;
            if (channels == 6) o.flags |= protocol::kFlagSixChannels;
            if (channels == 8) o.flags |= protocol::kFlagEightChannels;
            if (args.count("requires-hevc")) {
                o.flags |= protocol::kFlagRequiresHevc | protocol::kFlagHevcCapable;
            }
        }
        o.videoPort = args["video-port"].as<uint16_t>();
        o.audioPort = args["audio-port"].as<uint16_t>();
        o.maxDatagram = args["max-datagram"].as<uint16_t>();
        o.token = args["token"].as<uint64_t>();
        const std::string code = args["access-code"].as<std::string>();
        if (!code.empty()) {
            o.token = derive_session_token(code);
            if (o.token == 0) return fail_usage("--access-code must normalise to 4 characters");
        }
        o.durationSeconds = args["duration"].as<double>();
        o.maxFrames = args["frames"].as<uint64_t>();
        o.sendEnd = !args.count("no-end-packet");
        o.keyFrameEverySeconds = args["keyframe-every"].as<double>();
        o.keyFrameOnLoss = !args.count("no-keyframe-on-loss");
        const std::string script = args["input-script"].as<std::string>();
        if (!script.empty()) {
            std::string text, error;
            if (!read_whole_file(path_from_utf8(script), text)) {
                return fail_usage("cannot read input script " + script);
            }
            if (!parse_input_script(text, o.inputScript, error)) return fail_usage(error);
        }
        o.saveFrame = args["save-frame"].as<int64_t>();
        o.pngPath = args["png"].as<std::string>();
        if (o.saveFrame >= 0 && o.pngPath.empty()) return fail_usage("--save-frame needs --png");
        o.wavPath = args["wav"].as<std::string>();
        o.connectTimeoutMs = args["connect-timeout-ms"].as<int>();
        o.metadataTimeoutMs = args["metadata-timeout-ms"].as<int>();
        o.idleTimeoutMs = args["idle-timeout-ms"].as<int>();
        o.pingIntervalMs = args["ping-interval-ms"].as<int>();
        o.reportIntervalMs = args["report-interval-ms"].as<int>();
        if (args.count("no-decode")) o.decodeVideo = o.decodeAudio = false;

        net::startup();
        const ReceiverSummary summary = ReceiverClient(o).run();
        net::cleanup();
        const std::string json = summary_json(summary);
        std::cout << json << std::endl;
        const std::string jsonPath = args["json"].as<std::string>();
        if (!jsonPath.empty()) atomic_replace_file(path_from_utf8(jsonPath), json + "\n");
        if (!summary.ok) std::fprintf(stderr, "zel-receiver: %s\n", summary.error.c_str());
        return ReceiverClient::exit_code(summary);
    } catch (const cxxopts::exceptions::exception& e) {
        return fail_usage(e.what());
    }
}
