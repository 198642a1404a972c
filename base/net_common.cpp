#include <charconv>

#include "base/net.h"

namespace zel::net {

std::string format_ipv4(uint32_t a) {
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." +
           std::to_string((a >> 8) & 0xFF) + "." + std::to_string(a & 0xFF);
}

bool parse_ipv4(std::string_view text, uint32_t& address) {
    uint32_t result = 0;
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') return false;
            ++pos;
        }
        const size_t start = pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 4) ++pos;
        if (pos == start || pos - start > 3) return false;
        unsigned value = 0;
        std::from_chars(text.data() + start, text.data() + pos, value);
        if (value > 255) return false;
        result = (result << 8) | value;
    }
    if (pos != text.size()) return false;
    address = result;
    return true;
}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        close();
        s_ = other.release();
    }
    return *this;
}

bool send_all(Socket& s, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        size_t sent = 0;
        const IoStatus st = send_some(s, p, size, sent);
        if (st == IoStatus::WouldBlock) {
            if (wait_writable(s, 1000) < 0) return false;
            continue;
        }
        if (st != IoStatus::Ok) return false;
        p += sent;
        size -= sent;
    }
    return true;
}

IoStatus receive_exact(Socket& s, void* data, size_t size, size_t& received) {
    auto* p = static_cast<uint8_t*>(data);
    received = 0;
    while (received < size) {
        size_t got = 0;
        const IoStatus st = receive_some(s, p + received, size - received, got);
        if (st != IoStatus::Ok) return st;
        received += got;
    }
    return IoStatus::Ok;
}

}  // namespace zel::net
