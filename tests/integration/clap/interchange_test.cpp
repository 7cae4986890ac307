// Velmora.clap against the VST3 module of the same build: the same state bytes both ways, the
// same output bit for bit with automation at block starts, and what only CLAP has (sleep in
// silence, events inside blocks) without allocating.
#include <cstdio>
#include <functional>

#include "tests/integration/clap/clapfixture.h"
#include "tests/support/realtime.h"

namespace clapit {
namespace {

namespace v = korvo::vst3;

constexpr c::ClapId kDistance = 0, kWidth = 1, kMtoS = 2, kTilt = 5, kPan = 6, kHeadSize = 7, kSpectral = 8,
                    kLfoWave = 9, kLfoSynced = 10, kLfoFreq = 13, kLfoToPan = 14, kLfoToGain = 16,
                    kOutputLevel = 18, kDryWet = 19, kTestMono = 20, kLevelPan = 22;

class ClapVersusVst3 : public ::testing::Test {
protected:
    void SetUp() override {
        clap = std::make_unique<LoadedClap>(velmoraClapPath());
        vst3 = std::make_unique<vst3it::LoadedModule>(vst3it::velmoraBundlePath());
        ASSERT_TRUE(clap->loaded() && vst3->loaded());
    }
    // The CLAP plain value standing for a VST3 normalized value (stepped: the nearest step).
    double plain(Instance& instance, c::ClapId id, double normalized) {
        if (id == kProgram) return std::floor(normalized * 31.0 + 0.5);
        const std::uint32_t count = instance.params->count(instance.plugin);
        for (std::uint32_t i = 0; i < count; ++i) {
            c::ParamInfo info{};
            instance.params->getInfo(instance.plugin, i, &info);
            if (info.id != id) continue;
            if ((info.flags & c::kParamIsStepped) == 0) return normalized;
            return info.minValue + std::floor(normalized * (info.maxValue - info.minValue) + 0.5);
        }
        ADD_FAILURE() << "no parameter " << id;
        return 0.0;
    }

    Host host{"claphost test"};
    vst3host::HostApplication vst3Host;
    std::unique_ptr<LoadedClap> clap;
    std::unique_ptr<vst3it::LoadedModule> vst3;
};

// ---- Output -------------------------------------------------------------------------------------

struct Change {
    int block;
    c::ClapId id;
    double normalized;  // the VST3 value
};

struct Scenario {
    const char* name;
    double rate;
    std::uint32_t maxBlock;
    std::uint32_t inChannels;
    std::vector<std::uint32_t> blocks;  // cycled
    int blockCount;
    std::vector<Change> changes;
    double tempo;
};

struct Rendered {
    std::vector<float> left, right;
};

TEST_F(ClapVersusVst3, OutputIsTheVst3OutputBitForBit) {
    const Scenario scenarios[] = {
        {"stereo, 512-frame blocks, presets, pan, distance, bypass and LFO",
         48000.0,
         512,
         2,
         {512},
         24,
         {{0, kProgram, 7.0 / 31.0},
          {4, kPan, 0.25},
          {8, kDistance, 0.875},
          {10, kBypass, 1.0},
          {14, kBypass, 0.0},
          {16, kLfoWave, 0.75},
          {16, kLfoToPan, 0.8},
          {20, kTestMono, 1.0}},
         120.0},
        {"mono in, 333-frame blocks, width, generator, tilt and tremolo",
         44100.0,
         512,
         1,
         {333},
         30,
         {{0, kWidth, 0.75},
          {5, kMtoS, 0.625},
          {10, kTilt, 0.25},
          {12, kLfoSynced, 0.0},
          {12, kLfoFreq, 0.5},
          {15, kLfoToGain, 0.125},
          {25, kProgram, 10.0 / 31.0}},
         100.0},
        {"stereo, blocks of 1 to 1300 frames, level, dry/wet and the pan cues",
         96000.0,
         1300,
         2,
         {1, 7, 64, 1300, 333, 512},
         40,
         {{0, kProgram, 8.0 / 31.0},
          {3, kOutputLevel, 0.5},
          {9, kDryWet, 0.625},
          {15, kHeadSize, 0.25},
          {21, kSpectral, 0.75},
          {27, kLevelPan, 0.375},
          {33, kBypass, 1.0},
          {36, kBypass, 0.0}},
         140.0},
    };
    long frames = 0;
    for (const Scenario& s : scenarios) {
        long total = 0;
        for (int k = 0; k < s.blockCount; ++k)
            total += s.blocks[static_cast<std::size_t>(k) % s.blocks.size()];
        std::vector<float> inL(static_cast<std::size_t>(total)), inR(static_cast<std::size_t>(total));
        fillNoise(inL, 31, 0.4f);
        fillNoise(inR, 32, 0.4f);
        for (long i = total / 2; i < total / 2 + 2000 && i < total; ++i) inL[i] = inR[i] = 0.0f;  // a gap

        auto render = [&](bool viaClap) {
            Rendered out{std::vector<float>(static_cast<std::size_t>(total)),
                         std::vector<float>(static_cast<std::size_t>(total))};
            std::unique_ptr<Instance> instance;
            std::unique_ptr<vst3host::Plugin> plugin;
            if (viaClap) {
                instance = clap->instance(host);
                EXPECT_TRUE(instance->prepare(s.rate, s.maxBlock, s.inChannels));
            } else {
                plugin = vst3->instance(&vst3Host);
                EXPECT_EQ(plugin->prepare(s.rate, static_cast<v::int32>(s.maxBlock),
                                          static_cast<v::int32>(s.inChannels)),
                          v::kResultOk);
            }
            long position = 0;
            for (int k = 0; k < s.blockCount; ++k) {
                const std::uint32_t n = s.blocks[static_cast<std::size_t>(k) % s.blocks.size()];
                float* in[2] = {inL.data() + position, inR.data() + position};
                float* outs[2] = {out.left.data() + position, out.right.data() + position};
                if (viaClap) {
                    EventList events;
                    for (const Change& change : s.changes)
                        if (change.block == k)
                            events.addValue(0, change.id, plain(*instance, change.id, change.normalized));
                    const c::EventTransport transport = transportAt(position, s.rate, s.tempo);
                    const std::int32_t status =
                        instance->process(in, s.inChannels, outs, 2, n, &events, &transport);
                    EXPECT_TRUE(status == c::kProcessContinue || status == c::kProcessSleep) << status;
                } else {
                    vst3host::ParameterChanges changes;
                    for (const Change& change : s.changes)
                        if (change.block == k) changes.add(change.id, 0, change.normalized);
                    v::ProcessContext context{};
                    context.state = v::kPlaying | v::kTempoValid;
                    context.sampleRate = s.rate;
                    context.tempo = s.tempo;
                    context.projectTimeSamples = position;
                    EXPECT_EQ(plugin->process(in, static_cast<v::int32>(s.inChannels), outs, 2,
                                              static_cast<v::int32>(n), &changes, &context),
                              v::kResultOk);
                }
                position += n;
            }
            return out;
        };
        const Rendered viaClap = render(true), viaVst3 = render(false);
        float energy = 0.0f;
        for (long i = 0; i < total; ++i) {
            ASSERT_EQ(viaClap.left[i], viaVst3.left[i]) << s.name << ", frame " << i;
            ASSERT_EQ(viaClap.right[i], viaVst3.right[i]) << s.name << ", frame " << i;
            energy += viaClap.left[i] * viaClap.left[i];
        }
        EXPECT_GT(energy, 1.0f) << s.name;  // the effect really ran
        frames += total;
    }
    std::printf("CLAP and VST3 output: %ld stereo frames in 3 scenarios, bit-equal\n", frames);
}

// ---- State --------------------------------------------------------------------------------------

TEST_F(ClapVersusVst3, StatesAreTheVst3ComponentStateBothWays) {
    auto instance = clap->instance(host);
    auto plugin = vst3->instance(&vst3Host);
    // The same settings through each format's own way (values exact in single precision).
    for (const auto& [id, normalized] : {std::pair<c::ClapId, double>{kProgram, 7.0 / 31.0},
                                         {kPan, 0.25},
                                         {kLfoWave, 0.5},
                                         {kTestMono, 1.0},
                                         {kBypass, 1.0}}) {
        ASSERT_EQ(plugin->controller->setParamNormalized(id, normalized), v::kResultOk);
        flushValues(*instance, {{id, plain(*instance, id, normalized)}});
    }
    vst3host::MemoryStream vst3State;
    ASSERT_EQ(plugin->getState(vst3State), v::kResultOk);
    const std::vector<std::uint8_t> clapState = instance->savedState();
    ASSERT_EQ(clapState.size(), 2u + 24u + 4u * 42u);
    EXPECT_EQ(clapState, vst3State.bytes());

    // A VST3 project's state opens in the CLAP build, and the other way round.
    vst3host::MemoryStream defaults;
    auto fresh = vst3->instance(&vst3Host);
    ASSERT_EQ(fresh->getState(defaults), v::kResultOk);
    auto clapFromVst3 = clap->instance(host);
    InStream in(vst3State.bytes());
    ASSERT_TRUE(clapFromVst3->load(in));
    EXPECT_EQ(clapFromVst3->value(kProgram), 7.0);
    EXPECT_EQ(clapFromVst3->value(kPan), 0.25);
    EXPECT_EQ(clapFromVst3->value(kLfoWave), 2.0);
    EXPECT_EQ(clapFromVst3->value(kBypass), 1.0);
    EXPECT_EQ(clapFromVst3->savedState(), vst3State.bytes());
    vst3host::MemoryStream back(clapState);
    ASSERT_EQ(fresh->setState(back), v::kResultOk);
    EXPECT_EQ(fresh->controller->getParamNormalized(kPan), 0.25);
    EXPECT_EQ(fresh->controller->getParamNormalized(kBypass), 1.0);
    EXPECT_EQ(fresh->controller->getParamNormalized(kProgram), 7.0 / 31.0);
    EXPECT_NE(defaults.bytes(), vst3State.bytes());
}

TEST_F(ClapVersusVst3, StreamsMayMoveAFewBytesAndDamageIsRefusedWhole) {
    auto instance = clap->instance(host);
    flushValues(*instance, {{kProgram, 9.0}, {kPan, 0.75}, {kBypass, 1.0}});
    const std::vector<std::uint8_t> state = instance->savedState();
    for (std::uint64_t perCall : {1u, 7u, 64u}) {
        OutStream out;
        out.bytesPerCall = perCall;
        ASSERT_TRUE(instance->save(out));
        EXPECT_EQ(out.bytes, state) << perCall;
        InStream in(state);
        in.bytesPerCall = perCall + 6;
        EXPECT_TRUE(instance->load(in)) << perCall;
    }
    EXPECT_EQ(host.paramRescans.back(), c::kParamRescanValues);  // a load moves the values

    auto target = clap->instance(host);
    const std::vector<std::uint8_t> before = target->savedState();
    auto refused = [&](InStream& in) {
        const bool loaded = target->load(in);
        return !loaded && target->savedState() == before;  // nothing applied, the bypass neither
    };
    auto refusedBytes = [&](std::vector<std::uint8_t> bytes) {
        InStream in(std::move(bytes));
        return refused(in);
    };
    for (std::size_t cut = 0; cut < state.size(); ++cut)
        ASSERT_TRUE(refusedBytes(std::vector<std::uint8_t>(state.begin(), state.begin() + cut))) << cut;
    std::vector<std::uint8_t> wrong = state;
    wrong[0] = 1;  // an adapter state version we do not know
    EXPECT_TRUE(refusedBytes(wrong));
    wrong = state;
    wrong[2] ^= 0xFF;  // the chunk's magic
    EXPECT_TRUE(refusedBytes(wrong));
    InStream failing(state);
    failing.bytesPerCall = 16;
    failing.failAfterCalls = 3;
    EXPECT_TRUE(refused(failing));
    InStream lying(state);
    lying.overclaim = 1 << 20;  // claims more than it was asked for
    EXPECT_TRUE(refused(lying));
    std::vector<std::uint8_t> endless(state);
    endless.resize((std::size_t{1} << 20) + 1, 0);
    EXPECT_TRUE(refusedBytes(endless));
    for (int okCalls = 0; okCalls < 2; ++okCalls) {  // the state takes two writes of 100 bytes
        OutStream out;
        out.bytesPerCall = 100;
        out.failAfterCalls = okCalls;
        EXPECT_FALSE(target->save(out)) << okCalls;
    }
    EXPECT_FALSE(target->state->save(target->plugin, nullptr));
    EXPECT_FALSE(target->state->load(target->plugin, nullptr));
    InStream good(state);
    EXPECT_TRUE(target->load(good));
    EXPECT_EQ(target->savedState(), state);
}

// ---- What only CLAP has -------------------------------------------------------------------------

// After 0.2 s of silent input the effect stops, and says so: the block is silence and the host
// may let it sleep until sound or events come. Bypassed, the same holds.
TEST_F(ClapVersusVst3, SilenceLetsTheHostSleep) {
    auto instance = clap->instance(host);
    ASSERT_TRUE(instance->prepare(48000.0, 512));
    Buffers noise(2, 512), silence(2, 512), out(2, 512);
    fillNoise(noise.data[0], 3, 0.3f);
    fillNoise(noise.data[1], 4, 0.3f);
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(instance->process(noise.ptrs(), 2, out.ptrs(), 2, 512), c::kProcessContinue);
        for (int k = 1; k <= 19; ++k)
            ASSERT_EQ(instance->process(silence.ptrs(), 2, out.ptrs(), 2, 512), c::kProcessContinue) << k;
        EXPECT_EQ(instance->process(silence.ptrs(), 2, out.ptrs(), 2, 512), c::kProcessSleep);
        for (float s : out.data[0]) ASSERT_EQ(s, 0.0f);
        EventList change;
        change.addValue(100, kPan, 0.1);
        EXPECT_EQ(instance->process(silence.ptrs(), 2, out.ptrs(), 2, 512, &change), c::kProcessSleep);
        flushValues(*instance, {{kBypass, 1.0}});  // bypassed for the second round
    }
}

TEST_F(ClapVersusVst3, EventsInsideBlocksAllocateNothingAndNeverBlock) {
    auto instance = clap->instance(host);
    ASSERT_TRUE(instance->prepare(48000.0, 512));
    Buffers in(2, 512), out(2, 512);
    fillNoise(in.data[0], 8, 0.3f);
    fillNoise(in.data[1], 9, 0.3f);
    EventList events;
    for (std::uint32_t t = 0; t < 512; t += 37) events.addValue(t, t % 2 ? kPan : kDistance, (t % 11) / 10.0);
    events.addValue(100, kProgram, 3.0);
    events.addValue(200, kBypass, 1.0);
    events.addValue(300, kBypass, 0.0);
    events.addValue(400, kLfoWave, 4.0);
    korvo::test::RealtimeProbe probe;
    for (int k = 0; k < 8; ++k) {
        ASSERT_EQ(instance->process(in.ptrs(), 2, out.ptrs(), 2, 512, &events), c::kProcessContinue);
        instance->params->flush(instance->plugin, events.input(), nullptr);
    }
    EXPECT_EQ(probe.allocations(), 0u);
    EXPECT_EQ(probe.blockingLocks(), 0u);
    EXPECT_TRUE(vst3it::allFinite(out.data[0]) && vst3it::allFinite(out.data[1]));
}

}  // namespace
}  // namespace clapit
