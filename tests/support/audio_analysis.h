#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace zel {

// Root mean square of one channel of interleaved audio.
inline double channel_rms(const std::vector<float>& pcm, int channels, int channel,
                          size_t firstFrame = 0) {
    double sum = 0;
    size_t n = 0;
    for (size_t i = firstFrame * channels + channel; i < pcm.size(); i += channels, ++n) {
        sum += double(pcm[i]) * pcm[i];
    }
    return n ? std::sqrt(sum / n) : 0.0;
}

// Frequency of a steady tone in one channel of interleaved audio, from the
// median distance between rising zero crossings: robust against the odd
// silence block a loaded machine can cause. 0 when fewer than 100 crossings.
inline double tone_frequency(const std::vector<float>& pcm, int channels, int channel,
                             size_t firstFrame, size_t frames, double sampleRate) {
    std::vector<double> periods;
    double lastRise = -1;
    for (size_t i = firstFrame + 1; i < firstFrame + frames && i * channels < pcm.size(); ++i) {
        const float a = pcm[(i - 1) * channels + channel], b = pcm[i * channels + channel];
        if (a < 0 && b >= 0) {
            const double rise = double(i - 1) + a / (a - b);
            if (lastRise >= 0) periods.push_back(rise - lastRise);
            lastRise = rise;
        }
    }
    if (periods.size() < 100) return 0;
    std::nth_element(periods.begin(), periods.begin() + std::ptrdiff_t(periods.size() / 2),
                     periods.end());
    return sampleRate / periods[periods.size() / 2];
}

}  // namespace zel
