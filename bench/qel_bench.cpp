// Micro-benchmarks of the viewer's hot paths: inflating a packed sprite held
// in memory, reading BMPs at each bit count, composing the window's canvas.
#include <benchmark/benchmark.h>

#include <ostream>
#include <sstream>

#include "bench/SpriteFactory.h"
#include "imaging/Raster.h"
#include "packed/PackedFile.h"
#include "viewer/Scene.h"

namespace {

using qel::bench::makeSprite16;
using qel::bench::makeSprite24;
using qel::bench::makeSprite8;

void BM_DecodePackedBytes(benchmark::State& state) {
    const auto bmp = makeSprite24(1234);
    const auto packed = qel::packBytes(bmp.data(), bmp.size(), 9);
    qel::Raster sprite;
    for (auto _ : state) {
        qel::DecodeResult result = qel::decodePacked(packed.data(), packed.size(), &sprite);
        benchmark::DoNotOptimize(result.payload.data());
        if (result.outcome != qel::DecodeOutcome::success) state.SkipWithError("decode failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bmp.size()));
    state.counters["packed_bytes"] = static_cast<double>(packed.size());
}
BENCHMARK(BM_DecodePackedBytes);

void BM_LoadFromMemory(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    const auto bmp = bits == 8 ? makeSprite8(77) : bits == 16 ? makeSprite16(77) : makeSprite24(77);
    qel::Raster sprite;
    for (auto _ : state) {
        const bool loaded = sprite.loadFromMemory(bmp.data(), bmp.size());
        benchmark::DoNotOptimize(sprite.pixels());
        if (!loaded) state.SkipWithError("load failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bmp.size()));
}
BENCHMARK(BM_LoadFromMemory)->Arg(8)->Arg(16)->Arg(24);

void BM_ComposeScene(benchmark::State& state) {
    qel::Scene scene;
    scene.initScene(std::string());
    const auto backdrop = qel::bench::makeBackdrop();
    const auto sprite = makeSprite24(5);
    if (!scene.backdrop.loadFromMemory(backdrop.data(), backdrop.size()) ||
        !scene.sprite.loadFromMemory(sprite.data(), sprite.size())) {
        state.SkipWithError("setup failed");
        return;
    }
    for (auto _ : state) {
        scene.composeScene();
        benchmark::DoNotOptimize(scene.canvas.pixels());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ComposeScene);

}  // namespace

BENCHMARK_MAIN();
