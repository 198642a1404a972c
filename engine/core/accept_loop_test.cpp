#include <gtest/gtest.h>

#include "engine/core/accept_loop.h"

namespace zel {
namespace {

TEST(AcceptLoop, SessionErrorsMapToReconnectingOrError) {
    const std::string reconnect = "Sumber berubah atau belum tersedia; mencoba menyambung ulang";
    struct Case {
        int category;
        const char* message;
        const char* state;
    } cases[] = {
        {0, "Window size changed; receiver must reconnect the stream", "reconnecting"},
        {0, "Desktop resolution changed", "reconnecting"},
        {0, "Primary display changed", "reconnecting"},
        {0, "Captured window was closed", "reconnecting"},
        {0, "Selected application has no capturable window", "reconnecting"},
        {0, "Selected display is no longer attached", "reconnecting"},
        {0, "Default audio output changed", "error"},
        {2, "Window size changed", "error"},
        {3, "Receiver handshake timed out", "error"},
    };
    for (const auto& c : cases) {
        const auto s = status_after_engine_error(c.category, c.message);
        EXPECT_EQ(s.state, c.state) << c.message;
        EXPECT_EQ(s.message, s.state == "reconnecting" ? reconnect : std::string(c.message));
    }
    EXPECT_EQ(status_after_return({false, true}).message,
              "Streaming dihentikan dari TV; ZEL Engine tetap siap");
    EXPECT_EQ(status_after_return({true, false}).message, "Receiver terputus; ZEL Engine tetap siap");
}

}  // namespace
}  // namespace zel
