#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "base/net.h"

namespace zel::net {

namespace {

sockaddr_in to_sockaddr(Ipv4Endpoint e) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(e.address);
    a.sin_port = htons(e.port);
    return a;
}

Ipv4Endpoint from_sockaddr(const sockaddr_in& a) {
    return {ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)};
}

IoStatus status_from_errno(int e) {
    if (e == EAGAIN || e == EWOULDBLOCK) return IoStatus::WouldBlock;
    if (e == ETIMEDOUT) return IoStatus::Timeout;
    return IoStatus::Error;
}

bool set_int_option(Socket& s, int level, int name, int value) {
    return ::setsockopt(s.native(), level, name, &value, sizeof value) == 0;
}

int wait_for(const Socket& s, short events, int timeoutMs) {
    pollfd p{s.native(), events, 0};
    for (;;) {
        const int r = ::poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        return r > 0 ? 1 : 0;
    }
}

}  // namespace

void Socket::close() {
    if (s_ != kInvalidSocket) {
        ::close(s_);
        s_ = kInvalidSocket;
    }
}

bool startup() { return true; }
void cleanup() {}

Socket tcp_socket() { return Socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP)); }
Socket udp_socket() { return Socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP)); }

bool bind(Socket& s, Ipv4Endpoint local) {
    const sockaddr_in a = to_sockaddr(local);
    return ::bind(s.native(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

bool listen(Socket& s, int backlog) { return ::listen(s.native(), backlog) == 0; }

Socket accept(Socket& listener) {
    for (;;) {
        const int c = ::accept4(listener.native(), nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0 && (errno == EINTR || errno == ECONNABORTED)) continue;
        return Socket(c);
    }
}

bool connect(Socket& s, Ipv4Endpoint remote, int timeoutMs) {
    const int flags = ::fcntl(s.native(), F_GETFL, 0);
    if (flags < 0 || ::fcntl(s.native(), F_SETFL, flags | O_NONBLOCK) != 0) return false;
    const sockaddr_in a = to_sockaddr(remote);
    bool ok = ::connect(s.native(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    if (!ok && errno == EINPROGRESS && wait_for(s, POLLOUT, timeoutMs) == 1) {
        int err = 0;
        socklen_t len = sizeof err;
        ok = ::getsockopt(s.native(), SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
        if (!ok && err) errno = err;
    }
    const int saved = errno;
    ::fcntl(s.native(), F_SETFL, flags);
    errno = saved;
    return ok;
}

bool shutdown_both(Socket& s) { return ::shutdown(s.native(), SHUT_RDWR) == 0; }
bool shutdown_send(Socket& s) { return ::shutdown(s.native(), SHUT_WR) == 0; }

bool set_nonblocking(Socket& s, bool on) {
    const int flags = ::fcntl(s.native(), F_GETFL, 0);
    if (flags < 0) return false;
    return ::fcntl(s.native(), F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
}

bool set_send_buffer(Socket& s, int bytes) { return set_int_option(s, SOL_SOCKET, SO_SNDBUF, bytes); }
bool set_receive_buffer(Socket& s, int bytes) {
    return set_int_option(s, SOL_SOCKET, SO_RCVBUF, bytes);
}

int send_buffer_size(const Socket& s) {
    int v = 0;
    socklen_t len = sizeof v;
    if (::getsockopt(s.native(), SOL_SOCKET, SO_SNDBUF, &v, &len) != 0) return -1;
    return v;
}

bool set_receive_timeout(Socket& s, int milliseconds) {
    timeval tv{};
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = (milliseconds % 1000) * 1000;
    return ::setsockopt(s.native(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

bool set_tcp_nodelay(Socket& s, bool on) { return set_int_option(s, IPPROTO_TCP, TCP_NODELAY, on); }
bool set_ip_tos(Socket& s, int tos) { return set_int_option(s, IPPROTO_IP, IP_TOS, tos); }
bool set_reuse_address(Socket& s, bool on) {
    return set_int_option(s, SOL_SOCKET, SO_REUSEADDR, on);
}
bool set_broadcast(Socket& s, bool on) { return set_int_option(s, SOL_SOCKET, SO_BROADCAST, on); }

bool local_endpoint(const Socket& s, Ipv4Endpoint& out) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(s.native(), reinterpret_cast<sockaddr*>(&a), &len) != 0) return false;
    out = from_sockaddr(a);
    return true;
}

bool peer_endpoint(const Socket& s, Ipv4Endpoint& out) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getpeername(s.native(), reinterpret_cast<sockaddr*>(&a), &len) != 0) return false;
    out = from_sockaddr(a);
    return true;
}

IoStatus send_some(Socket& s, const void* data, size_t size, size_t& sent) {
    sent = 0;
    for (;;) {
        const ssize_t r = ::send(s.native(), data, size, MSG_NOSIGNAL);
        if (r >= 0) {
            sent = size_t(r);
            return IoStatus::Ok;
        }
        if (errno == EINTR) continue;
        return status_from_errno(errno);
    }
}

IoStatus receive_some(Socket& s, void* data, size_t size, size_t& received) {
    received = 0;
    for (;;) {
        const ssize_t r = ::recv(s.native(), data, size, 0);
        if (r > 0) {
            received = size_t(r);
            return IoStatus::Ok;
        }
        if (r == 0) return size == 0 ? IoStatus::Ok : IoStatus::Closed;
        if (errno == EINTR) continue;
        return status_from_errno(errno);
    }
}

IoStatus send_to(Socket& s, const void* data, size_t size, Ipv4Endpoint remote) {
    const sockaddr_in a = to_sockaddr(remote);
    for (;;) {
        const ssize_t r = ::sendto(s.native(), data, size, MSG_NOSIGNAL,
                                   reinterpret_cast<const sockaddr*>(&a), sizeof a);
        if (r >= 0) return IoStatus::Ok;
        if (errno == EINTR) continue;
        return status_from_errno(errno);
    }
}

IoStatus receive_from(Socket& s, void* data, size_t size, size_t& received, Ipv4Endpoint& from,
                      bool* truncated) {
    received = 0;
    if (truncated) *truncated = false;
    for (;;) {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        const ssize_t r = ::recvfrom(s.native(), data, size, MSG_TRUNC,
                                     reinterpret_cast<sockaddr*>(&a), &len);
        if (r >= 0) {
            received = std::min(size_t(r), size);
            if (truncated) *truncated = size_t(r) > size;
            from = from_sockaddr(a);
            return IoStatus::Ok;
        }
        if (errno == EINTR) continue;
        // A previous send to a closed port reports ECONNREFUSED here; that is
        // not a failure of this socket.
        if (errno == ECONNREFUSED) return IoStatus::WouldBlock;
        return status_from_errno(errno);
    }
}

int wait_readable(const Socket& s, int timeoutMs) { return wait_for(s, POLLIN, timeoutMs); }
int wait_writable(const Socket& s, int timeoutMs) { return wait_for(s, POLLOUT, timeoutMs); }

int last_error() { return errno; }
std::string error_text(int code) { return ::strerror(code); }

}  // namespace zel::net
