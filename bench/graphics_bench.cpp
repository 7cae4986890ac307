// Hot drawing primitives of the editor: soft discs (lights, LEDs), text labels and the mipmap
// regeneration of a full editor-sized picture.
#include <benchmark/benchmark.h>

#include "korvo/core/nogc.h"
#include "korvo/graphics/font.h"
#include "korvo/graphics/image.h"
#include "korvo/graphics/mipmap.h"
#include "korvo_resources_resources.h"

namespace {

using namespace korvo;

constexpr int kEditorW = 763, kEditorH = 494;

void softDiscRGBA(benchmark::State& state) {
    OwnedImage<RGBA> image(kEditorW, kEditorH);
    fill(image.view(), RGBA{20, 20, 20, 255});
    const float outer = static_cast<float>(state.range(0));
    float x = 100.25f;
    for (auto _ : state) {
        softDisc(image.view(), x, 200.5f, outer * 0.5f, outer, RGBA{255, 180, 40, 255}, 0.75f);
        x = x > 600.0f ? 100.25f : x + 1.5f;
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(softDiscRGBA)->Arg(4)->Arg(16)->Arg(64);

void softDiscL16(benchmark::State& state) {
    OwnedImage<L16> image(kEditorW, kEditorH);
    fill(image.view(), L16{1000});
    for (auto _ : state) {
        softDisc(image.view(), 300.5f, 200.5f, 10.0f, 24.0f, L16{60000}, 1.0f);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(softDiscL16);

void fillTextLabel(benchmark::State& state) {
    Font font(resources::Lato_Semibold_ttf, resources::Lato_Semibold_ttf_size);
    OwnedImage<RGBA> image(200, 40);
    fill(image.view(), RGBA{0, 0, 0, 255});
    for (auto _ : state) {  // glyphs come from the cache after the first round
        fillText(image.view(), font, "Stereo Width", 13.0f, 0.5f, RGBA{230, 230, 230, 255}, 100.0f, 20.0f);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(fillTextLabel);

void mipmapUpdate(benchmark::State& state) {
    const auto filter = static_cast<Filter>(state.range(0));
    auto base = makeHeap<OwnedImage<RGBA>>(kEditorW, kEditorH);
    for (int y = 0; y < kEditorH; ++y)
        for (int x = 0; x < kEditorW; ++x)
            *base->pixelAt(x, y) = RGBA{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
                                        static_cast<std::uint8_t>(x ^ y), 255};
    Mipmap<RGBA> mip(10, base.release());
    for (auto _ : state) {
        IntRect r{{0, 0}, {kEditorW, kEditorH}};
        for (int i = 1; i < mip.numLevels(); ++i) r = mip.updateLevel(filter, r, i);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(mipmapUpdate)
    ->Arg(static_cast<int>(Filter::box))
    ->Arg(static_cast<int>(Filter::cubic))
    ->Arg(static_cast<int>(Filter::premultipliedBox))
    ->Unit(benchmark::kMillisecond);

void mipmapUpdateL16(benchmark::State& state) {
    auto base = makeHeap<OwnedImage<L16>>(kEditorW, kEditorH);
    fill(base->view(), L16{30000});
    Mipmap<L16> mip(10, base.release());
    for (auto _ : state) {
        IntRect r{{0, 0}, {kEditorW, kEditorH}};
        for (int i = 1; i < mip.numLevels(); ++i)
            r = mip.updateLevel(i >= 3 ? Filter::cubic : Filter::box, r, i);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(mipmapUpdateL16)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
