#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

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

IoStatus status_from_error(int e) {
    if (e == WSAEWOULDBLOCK) return IoStatus::WouldBlock;
    if (e == WSAETIMEDOUT) return IoStatus::Timeout;
    if (e == WSAECONNRESET || e == WSAECONNABORTED || e == WSAESHUTDOWN) return IoStatus::Error;
    return IoStatus::Error;
}

bool set_int_option(Socket& s, int level, int name, int value) {
    return ::setsockopt(s.native(), level, name, reinterpret_cast<const char*>(&value),
                        sizeof value) == 0;
}

int wait_for(const Socket& s, bool forWrite, int timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s.native(), &set);
    fd_set errors;
    FD_ZERO(&errors);
    FD_SET(s.native(), &errors);
    timeval tv{};
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = (timeoutMs % 1000) * 1000;
    const int r = ::select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, &errors,
                           timeoutMs < 0 ? nullptr : &tv);
    if (r == SOCKET_ERROR) return -1;
    if (r == 0) return 0;
    if (FD_ISSET(s.native(), &errors)) return forWrite ? -1 : 1;
    return 1;
}

int clamp_size(size_t size) { return int(std::min<size_t>(size, 0x7FFFFFFF)); }

}  // namespace

void Socket::close() {
    if (s_ != kInvalidSocket) {
        ::closesocket(s_);
        s_ = kInvalidSocket;
    }
}

bool startup() {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void cleanup() { ::WSACleanup(); }

Socket tcp_socket() { return Socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)); }
Socket udp_socket() { return Socket(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)); }

bool bind(Socket& s, Ipv4Endpoint local) {
    const sockaddr_in a = to_sockaddr(local);
    return ::bind(s.native(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

bool listen(Socket& s, int backlog) { return ::listen(s.native(), backlog) == 0; }

Socket accept(Socket& listener) { return Socket(::accept(listener.native(), nullptr, nullptr)); }

bool connect(Socket& s, Ipv4Endpoint remote, int timeoutMs) {
    u_long on = 1;
    if (::ioctlsocket(s.native(), FIONBIO, &on) != 0) return false;
    const sockaddr_in a = to_sockaddr(remote);
    bool ok = ::connect(s.native(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    if (!ok && ::WSAGetLastError() == WSAEWOULDBLOCK) {
        fd_set w, e;
        FD_ZERO(&w);
        FD_SET(s.native(), &w);
        FD_ZERO(&e);
        FD_SET(s.native(), &e);
        timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        const int r = ::select(0, nullptr, &w, &e, &tv);
        ok = r > 0 && FD_ISSET(s.native(), &w);
    }
    const int saved = ::WSAGetLastError();
    u_long off = 0;
    ::ioctlsocket(s.native(), FIONBIO, &off);
    ::WSASetLastError(saved);
    return ok;
}

bool shutdown_both(Socket& s) { return ::shutdown(s.native(), SD_BOTH) == 0; }
bool shutdown_send(Socket& s) { return ::shutdown(s.native(), SD_SEND) == 0; }

bool set_nonblocking(Socket& s, bool on) {
    u_long v = on ? 1 : 0;
    return ::ioctlsocket(s.native(), FIONBIO, &v) == 0;
}

bool set_send_buffer(Socket& s, int bytes) { return set_int_option(s, SOL_SOCKET, SO_SNDBUF, bytes); }
bool set_receive_buffer(Socket& s, int bytes) {
    return set_int_option(s, SOL_SOCKET, SO_RCVBUF, bytes);
}

int send_buffer_size(const Socket& s) {
    int v = 0;
    int len = sizeof v;
    if (::getsockopt(s.native(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&v), &len) != 0)
        return -1;
    return v;
}

bool set_receive_timeout(Socket& s, int milliseconds) {
    const DWORD v = DWORD(milliseconds);
    return ::setsockopt(s.native(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&v),
                        sizeof v) == 0;
}

bool set_tcp_nodelay(Socket& s, bool on) { return set_int_option(s, IPPROTO_TCP, TCP_NODELAY, on); }
bool set_ip_tos(Socket& s, int tos) { return set_int_option(s, IPPROTO_IP, IP_TOS, tos); }
bool set_reuse_address(Socket& s, bool on) {
    return set_int_option(s, SOL_SOCKET, SO_REUSEADDR, on);
}
bool set_broadcast(Socket& s, bool on) { return set_int_option(s, SOL_SOCKET, SO_BROADCAST, on); }

bool local_endpoint(const Socket& s, Ipv4Endpoint& out) {
    sockaddr_in a{};
    int len = sizeof a;
    if (::getsockname(s.native(), reinterpret_cast<sockaddr*>(&a), &len) != 0) return false;
    out = from_sockaddr(a);
    return true;
}

bool peer_endpoint(const Socket& s, Ipv4Endpoint& out) {
    sockaddr_in a{};
    int len = sizeof a;
    if (::getpeername(s.native(), reinterpret_cast<sockaddr*>(&a), &len) != 0) return false;
    out = from_sockaddr(a);
    return true;
}

IoStatus send_some(Socket& s, const void* data, size_t size, size_t& sent) {
    sent = 0;
    const int r = ::send(s.native(), static_cast<const char*>(data), clamp_size(size), 0);
    if (r == SOCKET_ERROR) return status_from_error(::WSAGetLastError());
    sent = size_t(r);
    return IoStatus::Ok;
}

IoStatus receive_some(Socket& s, void* data, size_t size, size_t& received) {
    received = 0;
    const int r = ::recv(s.native(), static_cast<char*>(data), clamp_size(size), 0);
    if (r == SOCKET_ERROR) return status_from_error(::WSAGetLastError());
    if (r == 0) return size == 0 ? IoStatus::Ok : IoStatus::Closed;
    received = size_t(r);
    return IoStatus::Ok;
}

IoStatus send_to(Socket& s, const void* data, size_t size, Ipv4Endpoint remote) {
    const sockaddr_in a = to_sockaddr(remote);
    const int r = ::sendto(s.native(), static_cast<const char*>(data), clamp_size(size), 0,
                           reinterpret_cast<const sockaddr*>(&a), sizeof a);
    if (r == SOCKET_ERROR) return status_from_error(::WSAGetLastError());
    return IoStatus::Ok;
}

IoStatus receive_from(Socket& s, void* data, size_t size, size_t& received, Ipv4Endpoint& from,
                      bool* truncated) {
    received = 0;
    if (truncated) *truncated = false;
    sockaddr_in a{};
    int len = sizeof a;
    const int r = ::recvfrom(s.native(), static_cast<char*>(data), clamp_size(size), 0,
                             reinterpret_cast<sockaddr*>(&a), &len);
    if (r == SOCKET_ERROR) {
        const int e = ::WSAGetLastError();
        if (e == WSAEMSGSIZE) {
            received = size;
            if (truncated) *truncated = true;
            from = from_sockaddr(a);
            return IoStatus::Ok;
        }
        if (e == WSAECONNRESET) return IoStatus::WouldBlock;
        return status_from_error(e);
    }
    received = size_t(r);
    from = from_sockaddr(a);
    return IoStatus::Ok;
}

int wait_readable(const Socket& s, int timeoutMs) { return wait_for(s, false, timeoutMs); }
int wait_writable(const Socket& s, int timeoutMs) { return wait_for(s, true, timeoutMs); }

int last_error() { return ::WSAGetLastError(); }

std::string error_text(int code) {
    return "Winsock error " + std::to_string(code);
}

}  // namespace zel::net
