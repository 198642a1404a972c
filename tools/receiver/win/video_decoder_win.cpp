#include "tools/receiver/decoders.h"

namespace zel::receiver {

// The Windows build has no libavcodec: frames are received, reassembled and
// counted, but not decoded.
std::unique_ptr<VideoDecoder> create_video_decoder(uint8_t) {
    return nullptr;
}
bool video_decoding_available() {
    return false;
}

}  // namespace zel::receiver
