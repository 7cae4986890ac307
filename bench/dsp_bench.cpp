// Throughput of the effect's whole signal chain: VelmoraClient at 48 kHz, stereo in and out, fed in
// 512-frame host blocks through processAudioFromHost, as a host would. Reports frames per second
// (items/s), "x realtime" (frames per second / 48000) and "x copy": the block's cost as a multiple
// of a plain copy of the same buffers (input to output, both channels), measured in the same run
// (velmora/copy_floor shows the copy on its own). The velmora/stage/... group shows where the time
// goes: each stage alone on the same 512-frame blocks, with the arguments the chain hands it in
// the all-stages case (the LFO moving pan, distance and tilt per 64-frame cell). A second group
// runs 64 instances at once in 128-frame blocks and reports the share of one core they take.
// All figures are CPU time of the benchmark thread, so a loaded machine skews them less.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <time.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "effect/dsp/distance.h"
#include "effect/dsp/lfo.h"
#include "effect/dsp/psypan.h"
#include "effect/dsp/stereogenerator.h"
#include "effect/dsp/tiltfilter.h"
#include "effect/dsp/width.h"
#include "effect/main.h"
#include "effect/panorama.h"
#include "effect/phasedisplay.h"
#include "korvo/gui/context.h"

namespace {

constexpr double kRate = 48000.0;
constexpr std::int32_t kBlock = 512;

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

enum class Setup { defaults, fullChain, silence, allStages };

// Sets a parameter from its text, the way a host's generic editor would.
void set(velmora::VelmoraClient& client, velmora::Param index, std::string_view text) {
    const korvo::ParseResult parsed = client.parameter(index).parseToNormalized(text);
    if (!parsed.ok) std::abort();
    client.setParameterFromHost(index, static_cast<float>(parsed.normalized));
}

// Parameter settings of each case, set as a host's generic editor would.
void configure(velmora::VelmoraClient& client, Setup setup) {
    if (setup == Setup::fullChain) {
        set(client, velmora::kPan, "45");
        set(client, velmora::kDistance, "-12");
        set(client, velmora::kHeadSize, "200");
        set(client, velmora::kSpectralPan, "200");
        set(client, velmora::kLevelPan, "200");
        set(client, velmora::kStereoWidth, "150");
        set(client, velmora::kOutputLevel, "-3");
        set(client, velmora::kDryWet, "70");
    }
    if (setup == Setup::allStages) {
        // The full chain plus every stage at work: generator, tilt and the LFO on all four targets.
        set(client, velmora::kPan, "45");
        set(client, velmora::kDistance, "-12");
        set(client, velmora::kStereoWidth, "150");
        set(client, velmora::kMtoSAmount, "50");
        set(client, velmora::kTilt, "3");
        set(client, velmora::kLfoToPan, "50");
        set(client, velmora::kLfoToDistance, "50");
        set(client, velmora::kLfoToGain, "50");
        set(client, velmora::kLfoToTilt, "50");
    }
}

// A second of decorrelated noise at a quarter of full scale, looped by the cases.
struct NoiseLoop {
    std::vector<float> left, right;
    explicit NoiseLoop(bool silent) : left(static_cast<std::size_t>(kRate), 0.0f), right(left.size(), 0.0f) {
        if (silent) return;
        std::uint32_t seed = 12345;
        for (std::size_t i = 0; i < left.size(); ++i) {
            seed = seed * 1664525u + 1013904223u;
            left[i] = static_cast<float>(static_cast<std::int32_t>(seed)) * (0.25f / 2147483648.0f);
            seed = seed * 1664525u + 1013904223u;
            right[i] = static_cast<float>(static_cast<std::int32_t>(seed)) * (0.25f / 2147483648.0f);
        }
    }
};

// CPU seconds of one plain copy of a 512-frame stereo block (input to output buffers): the floor
// any processing of the block stands on. The best of a few rounds of many copies.
double copySeconds(const NoiseLoop& noise) {
    static std::vector<float> outLeft(kBlock), outRight(kBlock);
    constexpr int kCopies = 20000;
    double best = 1.0;
    for (int round = 0; round < 5; ++round) {
        std::size_t position = 0;
        const double start = threadCpuSeconds();
        for (int i = 0; i < kCopies; ++i) {
            if (position + kBlock > noise.left.size()) position = 0;
            std::memcpy(outLeft.data(), noise.left.data() + position, kBlock * sizeof(float));
            std::memcpy(outRight.data(), noise.right.data() + position, kBlock * sizeof(float));
            benchmark::DoNotOptimize(outLeft.data());
            benchmark::DoNotOptimize(outRight.data());
            benchmark::ClobberMemory();
            position += kBlock;
        }
        best = std::min(best, (threadCpuSeconds() - start) / kCopies);
    }
    return best;
}

// Times block() (one 512-frame block into outLeft/outRight) after half a second of blocks in which
// glides settle and silence reaches its steady state, and reports it as "x realtime" (seconds of
// audio per second of CPU on one core, in CPU time like items/s so a busy machine does not skew it)
// and "x copy" (a multiple of copying the same buffers, measured in the same run).
template <class Block>
void timeBlocks(benchmark::State& state, const NoiseLoop& noise, Block&& block, float* outLeft,
                float* outRight) {
    for (int i = 0; i < 48; ++i) block();
    const double start = threadCpuSeconds();
    for (auto _ : state) {
        block();
        benchmark::DoNotOptimize(outLeft);
        benchmark::DoNotOptimize(outRight);
        benchmark::ClobberMemory();
    }
    const double elapsed = threadCpuSeconds() - start;
    const double frames = static_cast<double>(state.iterations()) * kBlock;
    state.SetItemsProcessed(static_cast<std::int64_t>(frames));
    state.counters["x realtime"] = elapsed > 0 ? frames / kRate / elapsed : 0.0;
    const double copy = copySeconds(noise);
    state.counters["x copy"] =
        state.iterations() > 0 ? elapsed / static_cast<double>(state.iterations()) / copy : 0.0;
}

void CopyFloor(benchmark::State& state) {
    const NoiseLoop noise(false);
    std::vector<float> outLeft(kBlock), outRight(kBlock);
    std::size_t position = 0;
    const double start = threadCpuSeconds();
    for (auto _ : state) {
        if (position + kBlock > noise.left.size()) position = 0;
        std::memcpy(outLeft.data(), noise.left.data() + position, kBlock * sizeof(float));
        std::memcpy(outRight.data(), noise.right.data() + position, kBlock * sizeof(float));
        benchmark::DoNotOptimize(outLeft.data());
        benchmark::DoNotOptimize(outRight.data());
        benchmark::ClobberMemory();
        position += kBlock;
    }
    const double elapsed = threadCpuSeconds() - start;
    const double frames = static_cast<double>(state.iterations()) * kBlock;
    state.SetItemsProcessed(static_cast<std::int64_t>(frames));
    state.counters["x realtime"] = elapsed > 0 ? frames / kRate / elapsed : 0.0;
}

void runChain(benchmark::State& state, Setup setup) {
    auto client = korvo::makeHeap<velmora::VelmoraClient>();
    configure(*client, setup);
    client->resetFromHost(kRate, kBlock, 2, 2);

    const NoiseLoop noise(setup == Setup::silence);
    const std::vector<float>& left = noise.left;
    const std::vector<float>& right = noise.right;
    const std::size_t loop = left.size();
    std::vector<float> outLeft(kBlock), outRight(kBlock);
    korvo::HostTiming timing{120.0, 0, true};
    std::size_t position = 0;
    const auto processBlock = [&] {
        if (position + kBlock > loop) position = 0;
        const float* inputs[2] = {left.data() + position, right.data() + position};
        float* outputs[2] = {outLeft.data(), outRight.data()};
        client->processAudioFromHost(inputs, 2, outputs, 2, kBlock, timing);
        position += kBlock;
        timing.timeInSamples += kBlock;  // a playing host's position moves on with every block
    };

    timeBlocks(state, noise, processBlock, outLeft.data(), outRight.data());
}

void Defaults(benchmark::State& state) {
    runChain(state, Setup::defaults);
}
void FullChain(benchmark::State& state) {
    runChain(state, Setup::fullChain);
}
void Silence(benchmark::State& state) {
    runChain(state, Setup::silence);
}
void AllStages(benchmark::State& state) {
    runChain(state, Setup::allStages);
}

// ---- The stages one by one ----------------------------------------------------------------------
// Each stage on its own, on 512-frame blocks of the noise loop (copied into work buffers first, as
// the chain's distance model copies input to output), with the arguments the chain gives it in the
// all-stages case: the LFO (synced, 8/4 at 120 BPM: 0.25 Hz) moves pan, distance and tilt by half
// their depth once per 64-frame cell. The "settled" variants take the full-chain case instead
// (nothing moves: whole 512-frame blocks at fixed arguments).

constexpr std::int32_t kCell = velmora::LFO::kCellFrames;

// Moves `base` toward `high` (m > 0) or `low` (m < 0) by the fraction |m|, as the chain does.
float sweep(float base, float low, float high, float m) {
    if (m > 0.0f) return base + m * (high - base);
    if (m < 0.0f) return base + m * (base - low);
    return base;
}

// The modulated arguments of one cell.
struct CellArguments {
    float pan, distance, tilt;
};

CellArguments cellArguments(std::int64_t cell) {
    const double seconds = static_cast<double>(cell * kCell) / kRate;
    const auto v = static_cast<float>(std::sin(6.283185307179586 * 0.25 * seconds));
    return {sweep(45.0f, -90.0f, 90.0f, 0.5f * v) / 90.0f, sweep(-12.0f, -24.0f, 6.0f, 0.75f * 0.5f * v),
            sweep(3.0f, -6.0f, 6.0f, 0.5f * v)};
}

// Runs `process(left, right, cell index, first frame, frames)` over the noise loop in 512-frame
// blocks and reports "x realtime" and "x copy" as the chain cases do. cellFrames = kBlock runs a
// block in one piece.
template <class Process>
void runStage(benchmark::State& state, std::int32_t cellFrames, Process process) {
    const NoiseLoop noise(false);
    std::vector<float> left(kBlock), right(kBlock);
    std::size_t position = 0;
    std::int64_t cell = 0;
    const auto block = [&] {
        if (position + kBlock > noise.left.size()) position = 0;
        std::memcpy(left.data(), noise.left.data() + position, kBlock * sizeof(float));
        std::memcpy(right.data(), noise.right.data() + position, kBlock * sizeof(float));
        for (std::int32_t start = 0; start < kBlock; start += cellFrames, ++cell)
            process(left.data() + start, right.data() + start, cell, start,
                    std::min(cellFrames, kBlock - start));
        position += kBlock;
    };
    timeBlocks(state, noise, block, left.data(), right.data());
}

constexpr auto kRateF = static_cast<float>(kRate);

void StageDistance(benchmark::State& state) {
    velmora::DistanceModel distance;
    distance.reset(kRateF);
    runStage(state, kCell, [&](float* l, float* r, std::int64_t cell, std::int32_t, std::int32_t n) {
        distance.processBlock(l, r, cellArguments(cell).distance, l, r, n);
    });
}

void StageDistanceSettled(benchmark::State& state) {
    velmora::DistanceModel distance;
    distance.reset(kRateF);
    runStage(state, kBlock, [&](float* l, float* r, std::int64_t, std::int32_t, std::int32_t n) {
        distance.processBlock(l, r, -12.0f * 0.7f, l, r, n);
    });
}

void StageTilt(benchmark::State& state) {
    velmora::TiltFilter tilt;
    tilt.reset(kRateF, kBlock);
    runStage(state, kCell, [&](float* l, float* r, std::int64_t cell, std::int32_t, std::int32_t n) {
        tilt.processBlock(l, r, cellArguments(cell).tilt, n);
    });
}

void StageGenerator(benchmark::State& state) {
    auto generator = std::make_unique<velmora::StereoGenerator>();
    generator->reset(kRateF, 0.04f, kBlock);
    runStage(state, kCell, [&](float* l, float* r, std::int64_t, std::int32_t, std::int32_t n) {
        generator->processBlock(l, r, 0.5f, 6.0f, 2100.0f, n);
    });
}

void StageWidth(benchmark::State& state) {
    korvo::ExpSmoother width;
    width.initialise(1.0f, 0.04f, kRateF);
    runStage(state, kCell, [&](float* l, float* r, std::int64_t, std::int32_t, std::int32_t n) {
        velmora::applyWidth(l, r, width, 1.5f, n);
    });
}

void StagePanner(benchmark::State& state) {
    auto panner = std::make_unique<velmora::PsychoacousticPanner>();
    panner->reset(kRateF, kBlock);
    runStage(state, kCell, [&](float* l, float* r, std::int64_t cell, std::int32_t, std::int32_t n) {
        const CellArguments a = cellArguments(cell);
        const float gain = velmora::DistanceModel::designTargets(a.distance, kRateF).gain * 0.5f;
        panner->processBlock(l, r, a.pan, 1.0f, 1.0f, 1.0f, gain, n);
    });
}

void StagePannerSettled(benchmark::State& state) {
    auto panner = std::make_unique<velmora::PsychoacousticPanner>();
    panner->reset(kRateF, kBlock);
    const float gain = velmora::DistanceModel::designTargets(-12.0f * 0.7f, kRateF).gain * 0.5f * 0.79f;
    runStage(state, kBlock, [&](float* l, float* r, std::int64_t, std::int32_t, std::int32_t n) {
        panner->processBlock(l, r, 0.35f, 2.0f, 2.0f, 2.0f, gain, n);
    });
}

void StageLfo(benchmark::State& state) {
    velmora::LFO lfo;
    lfo.reset(kRateF, 12345u);
    const velmora::LFOSettings settings;
    korvo::HostTiming timing{120.0, 0, true};
    runStage(state, kBlock, [&](float* l, float* r, std::int64_t, std::int32_t, std::int32_t n) {
        lfo.beginBlock(settings, timing, n);
        for (std::int32_t done = 0; done < n;) {
            const velmora::LFOSegment segment = lfo.nextSegment(settings, n - done);
            benchmark::DoNotOptimize(lfo.applyTremolo(segment, 0.5f, l + done, r + done));
            done += segment.frames;
        }
        timing.timeInSamples += n;
    });
}

// A big session: 64 instances in one process, 48 kHz, 128-frame blocks, each instance with its own
// output buffers and its own place in the input, the host position advancing. Reports the share
// of one core the 64 take ("core share": CPU seconds per second of audio; 1 is a whole core) and
// each instance's heap after reset (bytes in use, from the allocator).
constexpr int kInstances = 64;
constexpr std::int32_t kSessionBlock = 128;

std::size_t heapInUse() {
    return mallinfo2().uordblks;
}

void runSession(benchmark::State& state, Setup setup) {
    const NoiseLoop noise(false);
    const std::size_t heapBefore = heapInUse();
    std::vector<korvo::HeapPtr<velmora::VelmoraClient>> clients;
    for (int i = 0; i < kInstances; ++i) {
        clients.push_back(korvo::makeHeap<velmora::VelmoraClient>());
        configure(*clients.back(), setup);
        clients.back()->resetFromHost(kRate, kSessionBlock, 2, 2);
    }
    const double heapPerInstance = static_cast<double>(heapInUse() - heapBefore) / kInstances;
    std::vector<float> outputs(static_cast<std::size_t>(kInstances) * 2 * kSessionBlock);
    korvo::HostTiming timing{120.0, 0, true};
    std::size_t position = 0;
    const auto processBlock = [&] {
        for (int i = 0; i < kInstances; ++i) {
            // Instances read the loop at different places, as different tracks would.
            const std::size_t at =
                (position + static_cast<std::size_t>(i) * 743) % (noise.left.size() - kSessionBlock);
            const float* in[2] = {noise.left.data() + at, noise.right.data() + at};
            float* out[2] = {outputs.data() + static_cast<std::size_t>(i) * 2 * kSessionBlock,
                             outputs.data() + (static_cast<std::size_t>(i) * 2 + 1) * kSessionBlock};
            clients[static_cast<std::size_t>(i)]->processAudioFromHost(in, 2, out, 2, kSessionBlock, timing);
        }
        position += kSessionBlock;
        timing.timeInSamples += kSessionBlock;
    };
    for (int i = 0; i < 188; ++i) processBlock();  // half a second: glides settle

    const double start = threadCpuSeconds();
    for (auto _ : state) {
        processBlock();
        benchmark::DoNotOptimize(outputs.data());
        benchmark::ClobberMemory();
    }
    const double elapsed = threadCpuSeconds() - start;
    const double audioSeconds = static_cast<double>(state.iterations()) * kSessionBlock / kRate;
    state.SetItemsProcessed(state.iterations() * kSessionBlock * kInstances);
    state.counters["core share"] = audioSeconds > 0 ? elapsed / audioSeconds : 0.0;
    state.counters["heap/instance"] = heapPerInstance;
}

void SessionDefaults(benchmark::State& state) {
    runSession(state, Setup::defaults);
}
void SessionFullChain(benchmark::State& state) {
    runSession(state, Setup::fullChain);
}
void SessionAllStages(benchmark::State& state) {
    runSession(state, Setup::allStages);
}

// ---- The editor feed -----------------------------------------------------------------------------
// After every block the audio thread hands pan, distance, tilt and gain to the panorama display and
// the output samples to the phase display. DisplayClient is a VelmoraClient whose editor is just
// the two displays, attached the way the effect's editor attaches them. Nothing reads the
// displays' FIFOs here, so they stay full, which costs a push the same.

class DisplayEditor final : public korvo::IGraphics {
public:
    explicit DisplayEditor(velmora::VelmoraClient& client) : client_(client) {
        auto param = [&](velmora::Param i) {
            return static_cast<korvo::FloatParameter*>(&client.parameter(i));
        };
        panorama_ = korvo::makeHeap<velmora::PanoramaDisplay>(
            &context_, param(velmora::kPan), param(velmora::kDistance), param(velmora::kTilt),
            param(velmora::kOutputLevel));
        phase_ = korvo::makeHeap<velmora::PhaseDisplay>(&context_);
        client_.attachDisplays(panorama_.get(), phase_.get());
    }
    ~DisplayEditor() override { client_.attachDisplays(nullptr, nullptr); }
    void* openUI(void*, void*, korvo::HostKind, korvo::WindowBackend) override { return nullptr; }
    void closeUI() override {}
    void getGUISize(std::int32_t* w, std::int32_t* h) override { *w = *h = 0; }

private:
    velmora::VelmoraClient& client_;
    korvo::UIContext context_;
    korvo::HeapPtr<velmora::PanoramaDisplay> panorama_;
    korvo::HeapPtr<velmora::PhaseDisplay> phase_;
};

class DisplayClient final : public velmora::VelmoraClient {
public:
    korvo::HeapPtr<korvo::IGraphics> createGraphics() override {
        return korvo::HeapPtr<korvo::IGraphics>(korvo::heapNew<DisplayEditor>(*this));
    }
};

// The feed's cost against the chain's own, in CPU time, measured in the same run on two clients
// with the full chain's settings: one without an editor, one feeding the displays. Each iteration
// times 32 blocks of each kind (a thread-CPU clock read costs about as much as the feed itself, so
// it is read once per 32 blocks):
//   "chain us":     one 512-frame block without displays;
//   "feed us":      the feed alone, as processAudio runs it (take the editor, one panorama state,
//                   the phase samples, give the editor back), on that block's output;
//   "feed %":       feed us / chain us;
//   "displays %":   the whole block with displays against without (the same, end to end, noisier).
void FeedCost(benchmark::State& state) {
    constexpr int kBatch = 32;
    auto plain = korvo::makeHeap<velmora::VelmoraClient>();
    auto fed = korvo::makeHeap<DisplayClient>();
    fed->ensureGraphics();
    for (velmora::VelmoraClient* client : {static_cast<velmora::VelmoraClient*>(plain.get()),
                                           static_cast<velmora::VelmoraClient*>(fed.get())}) {
        configure(*client, Setup::fullChain);
        client->resetFromHost(kRate, kBlock, 2, 2);
    }
    const velmora::VelmoraClient& fedClient = *fed;

    std::vector<float> left(kBlock), right(kBlock), outLeft(kBlock), outRight(kBlock);
    std::uint32_t seed = 777;
    for (std::size_t i = 0; i < left.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        left[i] = static_cast<float>(static_cast<std::int32_t>(seed)) * (0.25f / 2147483648.0f);
        right[i] = -0.5f * left[i];
    }
    korvo::HostTiming timing{120.0, 0, true};
    auto process = [&](velmora::VelmoraClient& client) {
        for (int b = 0; b < kBatch; ++b) {
            const float* inputs[2] = {left.data(), right.data()};
            float* outputs[2] = {outLeft.data(), outRight.data()};
            client.processAudioFromHost(inputs, 2, outputs, 2, kBlock, timing);
        }
    };
    auto feed = [&] {
        for (int b = 0; b < kBatch; ++b) {
            if (fed->tryAcquireGraphics() != nullptr) {
                fedClient.panoramaDisplay()->sendPanoramaState(48000.0f, 1.0f, 0.0f, -8.4f, 0.35f);
                fedClient.phaseDisplay()->sendPhaseSamples(outLeft.data(), outRight.data(), kBlock, 48000.0f);
                fed->releaseGraphics();
            }
        }
    };
    for (int i = 0; i < 2; ++i) {  // glides settle, FIFOs fill
        process(*plain);
        process(*fed);
        feed();
    }
    double chainSeconds = 0.0, feedSeconds = 0.0, withSeconds = 0.0;
    for (auto _ : state) {
        const double t0 = threadCpuSeconds();
        process(*plain);
        const double t1 = threadCpuSeconds();
        feed();
        const double t2 = threadCpuSeconds();
        process(*fed);
        const double t3 = threadCpuSeconds();
        chainSeconds += t1 - t0;
        feedSeconds += t2 - t1;
        withSeconds += t3 - t2;
        benchmark::DoNotOptimize(outLeft.data());
        benchmark::ClobberMemory();
    }
    const double blocks = static_cast<double>(state.iterations()) * kBatch;
    state.SetItemsProcessed(state.iterations() * kBatch * kBlock);
    state.counters["chain us"] = blocks > 0 ? 1e6 * chainSeconds / blocks : 0.0;
    state.counters["feed us"] = blocks > 0 ? 1e6 * feedSeconds / blocks : 0.0;
    state.counters["feed %"] = chainSeconds > 0 ? 100.0 * feedSeconds / chainSeconds : 0.0;
    state.counters["displays %"] =
        chainSeconds > 0 ? 100.0 * (withSeconds - chainSeconds) / chainSeconds : 0.0;
}

}  // namespace

BENCHMARK(CopyFloor)->Name("velmora/copy_floor/48k_stereo_512");
BENCHMARK(Defaults)->Name("velmora/defaults/48k_stereo_512");
BENCHMARK(FullChain)->Name("velmora/full_chain/48k_stereo_512");
BENCHMARK(Silence)->Name("velmora/silence/48k_stereo_512");
BENCHMARK(AllStages)->Name("velmora/all_stages/48k_stereo_512");
BENCHMARK(StageDistance)->Name("velmora/stage/distance/48k_stereo_512");
BENCHMARK(StageDistanceSettled)->Name("velmora/stage/distance_settled/48k_stereo_512");
BENCHMARK(StageTilt)->Name("velmora/stage/tilt/48k_stereo_512");
BENCHMARK(StageGenerator)->Name("velmora/stage/generator/48k_stereo_512");
BENCHMARK(StageWidth)->Name("velmora/stage/width/48k_stereo_512");
BENCHMARK(StagePanner)->Name("velmora/stage/panner/48k_stereo_512");
BENCHMARK(StagePannerSettled)->Name("velmora/stage/panner_settled/48k_stereo_512");
BENCHMARK(StageLfo)->Name("velmora/stage/lfo/48k_stereo_512");
BENCHMARK(FeedCost)->Name("velmora/display_feed/48k_stereo_512");

BENCHMARK(SessionDefaults)->Name("velmora/64_instances/defaults/48k_stereo_128");
BENCHMARK(SessionFullChain)->Name("velmora/64_instances/full_chain/48k_stereo_128");
BENCHMARK(SessionAllStages)->Name("velmora/64_instances/all_stages/48k_stereo_128");

BENCHMARK_MAIN();
