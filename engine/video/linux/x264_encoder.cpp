#include "engine/video/linux/x264_encoder.h"

#include <algorithm>
#include <cstring>
#include <string>

extern "C" {
#include <x264.h>
}

#include "base/engine_error.h"
#include "engine/video/nv12_convert.h"

namespace zel {

namespace {

void apply_rate(x264_param_t& p, uint32_t bitsPerSecond, uint32_t fps) {
    const int kbps = int(bitsPerSecond / 1000);
    p.rc.i_rc_method = X264_RC_ABR;
    p.rc.i_bitrate = kbps;
    p.rc.i_vbv_max_bitrate = kbps;
    // About one frame of buffer: each picture's size stays close to its share.
    p.rc.i_vbv_buffer_size = std::max(1, kbps / int(fps ? fps : 60));
}

}  // namespace

X264Encoder::X264Encoder(VideoDevice*, VideoTexture* inputTexture, const EncoderSettings& settings)
    : input_(inputTexture), settings_(settings) {
    if (!input_ || settings.width == 0 || settings.height == 0 || settings.width % 2 ||
        settings.height % 2) {
        throw EngineError(4, "CPU H.264 encoder needs an even, non-empty picture");
    }
    if (input_->width != settings.width || input_->height != settings.height) {
        throw EngineError(4, "CPU H.264 encoder input size differs from the stream size");
    }
    x264_param_t p;
    if (x264_param_default_preset(&p, "ultrafast", "zerolatency") < 0) {
        throw EngineError(1, "x264 preset is not available");
    }
    p.i_width = int(settings.width);
    p.i_height = int(settings.height);
    p.i_csp = X264_CSP_NV12;
    p.i_fps_num = settings.fps ? settings.fps : 60;
    p.i_fps_den = 1;
    p.i_timebase_num = 1;
    p.i_timebase_den = p.i_fps_num;
    p.b_vfr_input = 0;
    p.i_bframe = 0;
    p.i_frame_reference = 1;
    p.i_keyint_max = X264_KEYINT_MAX_INFINITE;
    p.i_keyint_min = 1;
    p.b_repeat_headers = 1;
    p.b_annexb = 1;
    p.i_log_level = X264_LOG_NONE;
    p.vui.i_colorprim = 1;  // BT.709
    p.vui.i_transfer = 1;
    p.vui.i_colmatrix = 1;
    p.vui.b_fullrange = 0;
    apply_rate(p, settings.bitrate, p.i_fps_num);
    encoder_ = x264_encoder_open(&p);
    if (!encoder_) throw EngineError(2, "x264 encoder could not be opened");
    if (input_->format == PixelFormat::Bgra) {
        nv12_.resize(size_t(settings.width) * settings.height * 3 / 2);
    }
    info_.backendName = "CPU H.264 (x264)";
    info_.bitstreamFormat = "H.264 Annex-B";
    info_.codecId = kCodecH264;
}

X264Encoder::~X264Encoder() {
    if (encoder_) x264_encoder_close(encoder_);
}

EncodedVideoFrame X264Encoder::encode(const CapturedFrame& frame, uint32_t sequence,
                                      bool forceKeyFrame) {
    if (frame.texture != input_) {
        throw EngineError(4, "CPU H.264 encoder was given a texture other than its input");
    }
    x264_picture_t pic;
    x264_picture_init(&pic);
    pic.img.i_csp = X264_CSP_NV12;
    pic.img.i_plane = 2;
    const uint32_t w = settings_.width, h = settings_.height;
    if (input_->format == PixelFormat::Bgra) {
        const Nv12Target target{nv12_.data(), nv12_.data() + size_t(w) * h, w, h};
        bgra_to_nv12(input_->data(), input_->stride, w, h, target);
        pic.img.plane[0] = nv12_.data();
        pic.img.plane[1] = nv12_.data() + size_t(w) * h;
        pic.img.i_stride[0] = int(w);
        pic.img.i_stride[1] = int(w);
    } else {
        pic.img.plane[0] = input_->data();
        pic.img.plane[1] = input_->data() + size_t(input_->stride) * input_->planeHeight;
        pic.img.i_stride[0] = int(input_->stride);
        pic.img.i_stride[1] = int(input_->stride);
    }
    pic.i_pts = pts_++;
    pic.i_type = forceKeyFrame ? X264_TYPE_IDR : X264_TYPE_AUTO;

    x264_nal_t* nals = nullptr;
    int nalCount = 0;
    x264_picture_t out;
    const int size = x264_encoder_encode(encoder_, &nals, &nalCount, &pic, &out);
    if (size < 0) throw EngineError(2, "x264 encoding failed");
    EncodedVideoFrame result;
    result.sequence = sequence;
    result.timestampUs = frame.timestampUs;
    if (size == 0) return result;
    // The payloads of one call lie back to back in x264's buffer.
    result.data.assign(nals[0].p_payload, nals[0].p_payload + size);
    result.keyFrame = out.b_keyframe != 0 || forceKeyFrame;
    result.hasOutput = true;
    return result;
}

bool X264Encoder::setBitrate(uint32_t bitsPerSecond) {
    if (bitsPerSecond == settings_.bitrate) return true;
    x264_param_t p;
    x264_encoder_parameters(encoder_, &p);
    apply_rate(p, bitsPerSecond, settings_.fps);
    if (x264_encoder_reconfig(encoder_, &p) < 0) return false;
    settings_.bitrate = bitsPerSecond;
    return true;
}

}  // namespace zel
