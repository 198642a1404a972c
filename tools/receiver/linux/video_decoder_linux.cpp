extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "tools/receiver/decoders.h"

namespace zel::receiver {

namespace {

class LibavVideoDecoder : public VideoDecoder {
  public:
    explicit LibavVideoDecoder(AVCodecID id) {
        const AVCodec* codec = avcodec_find_decoder(id);
        if (!codec) return;
        context_ = avcodec_alloc_context3(codec);
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
        picture_ = av_frame_alloc();
        if (!context_ || !packet_ || !frame_ || !picture_) return;
        // One picture out for every access unit in: no frame reordering delay.
        context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
        context_->thread_count = 1;
        if (avcodec_open2(context_, codec, nullptr) < 0) return;
        ready_ = true;
    }
    ~LibavVideoDecoder() override {
        if (sws_) sws_freeContext(sws_);
        av_frame_free(&picture_);
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&context_);
    }
    bool ready() const { return ready_; }

    int decode(std::span<const uint8_t> accessUnit) override {
        if (accessUnit.empty()) return -1;
        if (av_new_packet(packet_, int(accessUnit.size())) < 0) return -1;
        std::copy(accessUnit.begin(), accessUnit.end(), packet_->data);
        const int sent = avcodec_send_packet(context_, packet_);
        av_packet_unref(packet_);
        if (sent < 0) return -1;
        int pictures = 0;
        while (avcodec_receive_frame(context_, frame_) == 0) {
            av_frame_unref(picture_);
            av_frame_move_ref(picture_, frame_);
            ++pictures;
        }
        return pictures;
    }

    bool lastPicture(uint32_t& width, uint32_t& height, std::vector<uint8_t>& rgb) override {
        if (!picture_->data[0] || picture_->width <= 0 || picture_->height <= 0) return false;
        sws_ =
            sws_getCachedContext(sws_, picture_->width, picture_->height,
                                 AVPixelFormat(picture_->format), picture_->width, picture_->height,
                                 AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!sws_) return false;
        // Convert with the colour space and range the stream declares, as a TV
        // does; swscale's default (BT.601) would shift the colours of an HD
        // stream. Streams that declare nothing are taken as HD ones are.
        int space = SWS_CS_ITU709;
        switch (picture_->colorspace) {
            case AVCOL_SPC_BT470BG:
            case AVCOL_SPC_SMPTE170M: space = SWS_CS_ITU601; break;
            case AVCOL_SPC_BT2020_NCL:
            case AVCOL_SPC_BT2020_CL: space = SWS_CS_BT2020; break;
            default: break;
        }
        const int fullRange = picture_->color_range == AVCOL_RANGE_JPEG ? 1 : 0;
        const int* table = sws_getCoefficients(space);
        sws_setColorspaceDetails(sws_, table, fullRange, table, 1, 0, 1 << 16, 1 << 16);
        width = uint32_t(picture_->width);
        height = uint32_t(picture_->height);
        rgb.assign(size_t(width) * height * 3, 0);
        uint8_t* planes[4] = {rgb.data(), nullptr, nullptr, nullptr};
        int strides[4] = {int(width * 3), 0, 0, 0};
        return sws_scale(sws_, picture_->data, picture_->linesize, 0, picture_->height, planes,
                         strides) == picture_->height;
    }

  private:
    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVFrame* picture_ = nullptr;
    SwsContext* sws_ = nullptr;
    bool ready_ = false;
};

}  // namespace

std::unique_ptr<VideoDecoder> create_video_decoder(uint8_t codecId) {
    AVCodecID id;
    if (codecId == 2) {
        id = AV_CODEC_ID_H264;
    } else if (codecId == 3) {
        id = AV_CODEC_ID_HEVC;
    } else {
        return nullptr;
    }
    auto decoder = std::make_unique<LibavVideoDecoder>(id);
    if (!decoder->ready()) return nullptr;
    return decoder;
}

bool video_decoding_available() {
    return true;
}

}  // namespace zel::receiver
