// BGRA to NV12 at 1920x1080: the vectorised path, the plain reference, and
// libswscale for comparison.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "engine/video/nv12_convert.h"

namespace {

constexpr uint32_t kW = 1920, kH = 1080;

struct Images {
    Images() : bgra(size_t(kW) * kH * 4), nv12(size_t(kW) * kH * 3 / 2) {
        std::mt19937 random(7);
        for (auto& b : bgra) b = uint8_t(random());
    }
    std::vector<uint8_t> bgra, nv12;
    zel::Nv12Target target() { return {nv12.data(), nv12.data() + size_t(kW) * kH, kW, kH}; }
};

void BM_Nv12Fast(benchmark::State& state) {
    Images im;
    for (auto _ : state) {
        zel::bgra_to_nv12(im.bgra.data(), kW * 4, kW, kH, im.target());
        benchmark::DoNotOptimize(im.nv12.data());
    }
    state.SetItemsProcessed(state.iterations() * kW * kH);
}

void BM_Nv12Sse2(benchmark::State& state) {
    Images im;
    for (auto _ : state) {
        zel::bgra_to_nv12_sse2(im.bgra.data(), kW * 4, kW, kH, im.target());
        benchmark::DoNotOptimize(im.nv12.data());
    }
    state.SetItemsProcessed(state.iterations() * kW * kH);
}

void BM_Nv12Reference(benchmark::State& state) {
    Images im;
    for (auto _ : state) {
        zel::bgra_to_nv12_reference(im.bgra.data(), kW * 4, kW, kH, im.target());
        benchmark::DoNotOptimize(im.nv12.data());
    }
    state.SetItemsProcessed(state.iterations() * kW * kH);
}

void BM_Nv12Swscale(benchmark::State& state) {
    Images im;
    SwsContext* sws = sws_getContext(kW, kH, AV_PIX_FMT_BGRA, kW, kH, AV_PIX_FMT_NV12, SWS_POINT,
                                     nullptr, nullptr, nullptr);
    const uint8_t* src[] = {im.bgra.data()};
    const int srcStride[] = {int(kW * 4)};
    uint8_t* dst[] = {im.nv12.data(), im.nv12.data() + size_t(kW) * kH};
    const int dstStride[] = {int(kW), int(kW)};
    for (auto _ : state) {
        sws_scale(sws, src, srcStride, 0, kH, dst, dstStride);
        benchmark::DoNotOptimize(im.nv12.data());
    }
    sws_freeContext(sws);
    state.SetItemsProcessed(state.iterations() * kW * kH);
}

}  // namespace

BENCHMARK(BM_Nv12Fast)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Nv12Sse2)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Nv12Reference)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_Nv12Swscale)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK_MAIN();
