#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zel::net {

#ifdef _WIN32
using NativeSocket = uintptr_t;  // SOCKET
inline constexpr NativeSocket kInvalidSocket = ~NativeSocket(0);
#else
using NativeSocket = int;
inline constexpr NativeSocket kInvalidSocket = -1;
#endif

inline constexpr uint32_t kAnyAddress = 0;
inline constexpr uint32_t kLoopbackAddress = 0x7F000001;

// An IPv4 address and port, both in host byte order.
struct Ipv4Endpoint {
    uint32_t address = 0;
    uint16_t port = 0;
    bool operator==(const Ipv4Endpoint&) const = default;
};

std::string format_ipv4(uint32_t address);
// Dotted quad only ("192.168.1.20"); false for anything else.
bool parse_ipv4(std::string_view text, uint32_t& address);

// Result of one socket operation. WouldBlock: a non-blocking socket had nothing
// to do now. Timeout: a receive timeout ran out. Closed: the peer ended the
// stream (TCP) in order. Error: anything else; last_error() tells which.
enum class IoStatus { Ok, WouldBlock, Timeout, Closed, Error };

// Owns one socket handle; closes it on destruction.
class Socket {
public:
    Socket() = default;
    explicit Socket(NativeSocket s) : s_(s) {}
    Socket(Socket&& other) noexcept : s_(other.release()) {}
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() { close(); }

    NativeSocket native() const { return s_; }
    bool valid() const { return s_ != kInvalidSocket; }
    void close();
    NativeSocket release() {
        NativeSocket s = s_;
        s_ = kInvalidSocket;
        return s;
    }

private:
    NativeSocket s_ = kInvalidSocket;
};

// Winsock start-up and clean-up; nothing to do on Linux.
bool startup();
void cleanup();

Socket tcp_socket();
Socket udp_socket();

bool bind(Socket& s, Ipv4Endpoint local);
bool listen(Socket& s, int backlog);
// A blocking accept; the result is invalid when accept failed.
Socket accept(Socket& listener);
// Connects, giving up after timeoutMs; the socket keeps its blocking mode.
bool connect(Socket& s, Ipv4Endpoint remote, int timeoutMs);
bool shutdown_both(Socket& s);
// Ends the sending direction only: the peer reads what was sent, then end of stream.
bool shutdown_send(Socket& s);

bool set_nonblocking(Socket& s, bool on);
bool set_send_buffer(Socket& s, int bytes);
bool set_receive_buffer(Socket& s, int bytes);
int send_buffer_size(const Socket& s);  // -1 on failure
bool set_receive_timeout(Socket& s, int milliseconds);
bool set_tcp_nodelay(Socket& s, bool on);
bool set_ip_tos(Socket& s, int tos);
bool set_reuse_address(Socket& s, bool on);
bool set_broadcast(Socket& s, bool on);

bool local_endpoint(const Socket& s, Ipv4Endpoint& out);
bool peer_endpoint(const Socket& s, Ipv4Endpoint& out);

// Sends what the kernel takes now; sent tells how much.
IoStatus send_some(Socket& s, const void* data, size_t size, size_t& sent);
// Receives up to size bytes; Closed when the peer ended the stream.
IoStatus receive_some(Socket& s, void* data, size_t size, size_t& received);
// Blocking helpers: loop until everything is sent / received or a failure.
bool send_all(Socket& s, const void* data, size_t size);
IoStatus receive_exact(Socket& s, void* data, size_t size, size_t& received);

IoStatus send_to(Socket& s, const void* data, size_t size, Ipv4Endpoint remote);
// One datagram. A datagram larger than the buffer is cut to the buffer and
// *truncated (when given) is set. Windows' ICMP "port unreachable" reports on
// UDP sockets are not errors of this socket and read as WouldBlock.
IoStatus receive_from(Socket& s, void* data, size_t size, size_t& received, Ipv4Endpoint& from,
                      bool* truncated = nullptr);

// 1 ready, 0 timed out, -1 error.
int wait_readable(const Socket& s, int timeoutMs);
int wait_writable(const Socket& s, int timeoutMs);

int last_error();
std::string error_text(int code);

}  // namespace zel::net
