#pragma once

#include <stdexcept>
#include <cstdint>
#include <string>

namespace zel {

// The engine's one exception type. The category tells the accept loop how to
// report a failed session:
//   0 capture source or audio output changed or unavailable
//   1 runtime, device or capability missing, GPU resource not created
//   2 encoder runtime step failed
//   3 receiver connection failed (handshake, authentication, metadata)
//   4 unsupported input or receiver capability
class EngineError : public std::runtime_error {
public:
    EngineError(int category, const std::string& message)
        : std::runtime_error(message), category_(category) {}

    int category() const noexcept { return category_; }
    std::string message() const { return what(); }

private:
    int category_;
};

// "<step> failed: HRESULT <signed decimal>", the form every Windows failure takes.
std::string hresult_text(const std::string& step, long hresult);

}  // namespace zel
