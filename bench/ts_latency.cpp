// zel-ts-latency: receives an MPEG-TS stream over UDP for a while and prints,
// as one JSON line, how many video pictures arrived and how old each was when
// its last packet arrived: the picture's PTS against the wall clock. This is
// only meaningful when the sender stamps pictures with the wall clock at
// capture (ffmpeg: x11grab's own timestamps, -copyts, -muxdelay 0).
//
// usage: zel-ts-latency <udp port> <seconds>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

namespace {

constexpr uint64_t kPtsWrap = 1ull << 33;  // PTS is 33 bits of 90 kHz ticks

uint64_t wall_clock_us() {
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count());
}

// The PTS of a PES header, if it has one.
std::optional<uint64_t> pes_pts(const uint8_t* p, size_t n) {
    if (n < 14 || p[0] != 0 || p[1] != 0 || p[2] != 1) return std::nullopt;
    if ((p[3] & 0xF0) != 0xE0) return std::nullopt;  // not a video stream
    if ((p[7] & 0x80) == 0) return std::nullopt;
    const uint8_t* t = p + 9;
    return (uint64_t(t[0] >> 1) & 7) << 30 | uint64_t(t[1]) << 22 | uint64_t(t[2] >> 1) << 15 |
           uint64_t(t[3]) << 7 | uint64_t(t[4] >> 1);
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p / 100.0 * double(v.size() - 1) + 0.5))];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zel-ts-latency <udp port> <seconds>\n");
        return 1;
    }
    const int port = std::atoi(argv[1]);
    const double seconds = std::atof(argv[2]);
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int buffer = 8 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("zel-ts-latency: bind");
        return 1;
    }

    std::vector<double> latencyMs;
    std::optional<uint64_t> currentPts;  // the picture whose packets arrive now
    uint64_t lastPacketUs = 0, firstPictureUs = 0, lastPictureUs = 0, bytes = 0, pictures = 0;
    int videoPid = -1;
    auto finish_picture = [&] {
        if (!currentPts) return;
        const uint64_t now90k = (lastPacketUs * 9 / 100) % kPtsWrap;
        const uint64_t age = (now90k + kPtsWrap - *currentPts) % kPtsWrap;
        latencyMs.push_back(double(age) / 90.0);
        ++pictures;
        if (firstPictureUs == 0) firstPictureUs = lastPacketUs;
        lastPictureUs = lastPacketUs;
    };

    const uint64_t end = wall_clock_us() + uint64_t(seconds * 1e6);
    uint8_t datagram[65536];
    while (wall_clock_us() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const ssize_t n = ::recv(fd, datagram, sizeof datagram, 0);
        if (n <= 0) continue;
        const uint64_t arrived = wall_clock_us();
        bytes += uint64_t(n);
        for (ssize_t at = 0; at + 188 <= n; at += 188) {
            const uint8_t* ts = datagram + at;
            if (ts[0] != 0x47) continue;
            const bool start = ts[1] & 0x40;
            const int pid = (ts[1] & 0x1F) << 8 | ts[2];
            const int adaptation = (ts[3] >> 4) & 3;
            size_t payload = 4;
            if (adaptation & 2) payload += 1 + ts[4];
            if (!(adaptation & 1) || payload >= 188) continue;
            if (start) {
                const auto pts = pes_pts(ts + payload, 188 - payload);
                if (pts) {
                    if (videoPid < 0) videoPid = pid;
                    if (pid == videoPid) {
                        finish_picture();
                        currentPts = pts;
                    }
                }
            }
            if (pid == videoPid) lastPacketUs = arrived;
        }
    }
    finish_picture();
    const double span = double(lastPictureUs - firstPictureUs) / 1e6;
    std::printf(
        "{\"pictures\":%llu,\"bytes\":%llu,\"fps\":%.2f,\"arrivalLatencyMs\":{\"p50\":%.2f,"
        "\"p95\":%.2f,\"p99\":%.2f}}\n",
        static_cast<unsigned long long>(pictures), static_cast<unsigned long long>(bytes),
        span > 0 ? double(pictures - 1) / span : 0.0, percentile(latencyMs, 50),
        percentile(latencyMs, 95), percentile(latencyMs, 99));
    ::close(fd);
    return 0;
}
