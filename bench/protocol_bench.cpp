// Throughput of ReceiverConnection::sendDatagrams over loopback, next to a
// plain sendto loop of the same datagrams, so the cost of the transport's
// framing, counters and locking shows as a ratio.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include "engine/protocol/receiver_connection.h"

namespace zel {
std::map<std::pair<std::string, int64_t>, double>& rates();
namespace {

using namespace protocol;

// A receiver on loopback whose UDP port drains itself on a thread, so the
// kernel never drops for a full receive buffer.
struct Loopback {
    net::Socket listener, receiverTcp, engineTcp, sink;
    std::thread drain;
    std::atomic<bool> stop{false};
    std::unique_ptr<ReceiverConnection> connection;

    Loopback() {
        sink = net::udp_socket();
        net::bind(sink, {net::kLoopbackAddress, 0});
        net::set_receive_buffer(sink, 16 << 20);
        net::set_receive_timeout(sink, 50);
        net::Ipv4Endpoint sinkAddress;
        net::local_endpoint(sink, sinkAddress);
        drain = std::thread([this] {
            uint8_t buffer[2048];
            while (!stop) {
                size_t got = 0;
                net::Ipv4Endpoint from;
                net::receive_from(sink, buffer, sizeof buffer, got, from);
            }
        });
        listener = net::tcp_socket();
        net::bind(listener, {net::kLoopbackAddress, 0});
        net::listen(listener, 1);
        net::Ipv4Endpoint local;
        net::local_endpoint(listener, local);
        receiverTcp = net::tcp_socket();
        net::connect(receiverTcp, local, 2000);
        engineTcp = net::accept(listener);
        const auto scap = build_capability_packet({2, kFlagUdp, sinkAddress.port, 1400, 1, 0});
        net::send_all(receiverTcp, scap.data(), scap.size());
        connection = std::make_unique<ReceiverConnection>(engineTcp, 0);
        connection->handshake();
    }
    ~Loopback() {
        stop = true;
        drain.join();
    }
};

std::vector<uint8_t> frame_of(size_t bytes) {
    std::vector<uint8_t> f(bytes);
    for (size_t i = 0; i < bytes; ++i) f[i] = uint8_t(i * 31);
    return f;
}

// Datagrams per second of each run by (name, frame size), for the ratio
// printed at the end. Only frames that went out whole are counted.

void report(benchmark::State& state, const char* name, size_t frameBytes, uint64_t framesSent,
            double seconds) {
    const size_t datagrams = (frameBytes + 1359) / 1360;
    const double perSecond = seconds > 0 ? double(datagrams * framesSent) / seconds : 0;
    state.counters["datagrams/s"] = perSecond;
    state.counters["MB/s"] = perSecond * double(frameBytes + datagrams * 40) / datagrams / 1e6;
    state.counters["failedFrames"] = double(state.iterations() - framesSent);
    rates()[{name, state.range(0)}] = perSecond;
}

// The same frame sent by the transport.
void BM_SendDatagrams(benchmark::State& state) {
    Loopback loop;
    const auto frame = frame_of(size_t(state.range(0)));
    uint32_t sequence = 0;
    uint64_t sent = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (loop.connection->sendDatagrams(kMediaVideo, 0, sequence++, 0, 0, frame)) {
            ++sent;
        } else {
            // A full send buffer: give the kernel a moment, as a paced session would.
            std::this_thread::yield();
        }
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    report(state, "sendDatagrams", frame.size(), sent, elapsed.count());
}

// The same datagrams built once and sent with a bare sendto loop.
void BM_PlainSendto(benchmark::State& state) {
    Loopback loop;
    const auto frame = frame_of(size_t(state.range(0)));
    std::vector<std::vector<uint8_t>> datagrams;
    for (size_t offset = 0; offset < frame.size(); offset += 1360) {
        const size_t n = std::min<size_t>(1360, frame.size() - offset);
        std::vector<uint8_t> d(40 + n);
        MediaHeader h;
        h.fragmentIndex = uint16_t(datagrams.size());
        h.fragmentCount = uint16_t((frame.size() + 1359) / 1360);
        h.payloadLength = uint16_t(n);
        write_media_header(d.data(), h);
        std::copy_n(frame.data() + offset, n, d.data() + 40);
        datagrams.push_back(std::move(d));
    }
    net::Socket socket = net::udp_socket();
    net::set_nonblocking(socket, true);
    net::set_send_buffer(socket, 1048576);
    const net::Ipv4Endpoint to = loop.connection->videoDestination();
    uint64_t sent = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        bool whole = true;
        for (const auto& d : datagrams) {
            if (net::send_to(socket, d.data(), d.size(), to) != net::IoStatus::Ok) {
                std::this_thread::yield();
                whole = false;
                break;
            }
        }
        sent += whole;
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    report(state, "sendto", frame.size(), sent, elapsed.count());
}

BENCHMARK(BM_SendDatagrams)->Arg(250000)->Arg(40000)->UseRealTime();
BENCHMARK(BM_PlainSendto)->Arg(250000)->Arg(40000)->UseRealTime();

}  // namespace

std::map<std::pair<std::string, int64_t>, double>& rates() {
    static std::map<std::pair<std::string, int64_t>, double> r;
    return r;
}

}  // namespace zel

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (int64_t size : {250000, 40000}) {
        const double transport = zel::rates()[{"sendDatagrams", size}];
        const double plain = zel::rates()[{"sendto", size}];
        if (plain > 0) {
            std::printf(
                "frame %lld bytes: sendDatagrams %.0f datagrams/s, plain sendto %.0f "
                "datagrams/s, ratio %.3f\n",
                static_cast<long long>(size), transport, plain, transport / plain);
        }
    }
    return 0;
}
