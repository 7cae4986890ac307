// Component and processor behaviour of the adapter, through the test module, whose client delays
// every channel by 2 samples and scales it by "Level" (a reset clears the delay).
#include "korvo/core/fpcontrol.h"
#include "tests/integration/testplugin/testclient.h"
#include "tests/integration/vst3fixture.h"
#include "tests/support/realtime.h"

namespace vst3it {
namespace {

using vst3test::kInvert;
using vst3test::kLevel;
using vst3test::kMode;

constexpr v::ParamID kBypass = 998;
constexpr v::ParamID kProgram = 999;

class Vst3Processor : public TestModule {
protected:
    // One block of constant input; returns the output.
    Buffers runConstant(int frames, float value, ParameterChanges* changes = nullptr, int inChannels = 2) {
        Buffers in(inChannels, frames), out(2, frames);
        for (auto& c : in.data) std::fill(c.begin(), c.end(), value);
        EXPECT_EQ(plugin->process(in.ptrs(), inChannels, out.ptrs(), 2, frames, changes), v::kResultOk);
        return out;
    }
    int restarts() {
        int n = 0;
        for (const auto& call : handler.calls)
            if (call.kind == ComponentHandler::Kind::restartComponent) {
                EXPECT_EQ(call.flags, 8);
                ++n;
            }
        return n;
    }
};

TEST_F(Vst3Processor, BusesAreMadeByInitialize) {
    v::IComponent* c = plugin->component;
    EXPECT_EQ(c->getBusCount(v::kAudio, v::kInput), 1);
    EXPECT_EQ(c->getBusCount(v::kAudio, v::kOutput), 1);
    EXPECT_EQ(c->getBusCount(v::kEvent, v::kInput), 0);
    EXPECT_EQ(c->getBusCount(v::kEvent, v::kOutput), 0);
    EXPECT_EQ(c->getBusCount(7, v::kInput), 0);
    v::BusInfo bus{};
    ASSERT_EQ(c->getBusInfo(v::kAudio, v::kInput, 0, bus), v::kResultOk);
    EXPECT_EQ(vst3host::narrow(bus.name), "Audio Input");
    EXPECT_EQ(bus.channelCount, 2);
    EXPECT_EQ(bus.busType, v::kMain);
    EXPECT_EQ(bus.flags, 1u);
    ASSERT_EQ(c->getBusInfo(v::kAudio, v::kOutput, 0, bus), v::kResultOk);
    EXPECT_EQ(vst3host::narrow(bus.name), "Audio Output");
    EXPECT_EQ(bus.direction, v::kOutput);
    EXPECT_EQ(c->getBusInfo(v::kAudio, v::kOutput, 1, bus), v::kResultFalse);
    EXPECT_EQ(c->getBusInfo(v::kAudio, 2, 0, bus), v::kInvalidArgument);
    EXPECT_EQ(c->activateBus(v::kAudio, v::kInput, 0, 0), v::kResultOk);
    EXPECT_EQ(c->activateBus(v::kAudio, v::kInput, 3, 0), v::kResultFalse);
    EXPECT_EQ(c->setActive(1), v::kResultOk);
    v::TUID classId;
    EXPECT_EQ(c->getControllerClassId(classId), v::kNotImplemented);
    EXPECT_EQ(c->setIoMode(0), v::kNotImplemented);
}

TEST_F(Vst3Processor, BusArrangementsAcceptMonoOrStereoIntoStereo) {
    v::IAudioProcessor* p = plugin->processor;
    v::SpeakerArrangement stereo = v::kArrStereo, mono = v::kArrMono, surround = 0x3F;
    v::SpeakerArrangement pair[2] = {v::kArrStereo, v::kArrStereo};
    EXPECT_EQ(p->setBusArrangements(&stereo, 1, &stereo, 1), v::kResultOk);
    EXPECT_EQ(p->setBusArrangements(&mono, 1, &stereo, 1), v::kResultOk);
    v::BusInfo bus{};
    plugin->component->getBusInfo(v::kAudio, v::kInput, 0, bus);
    EXPECT_EQ(bus.channelCount, 1);
    v::SpeakerArrangement arr = 0;
    ASSERT_EQ(p->getBusArrangement(v::kInput, 0, arr), v::kResultOk);
    EXPECT_EQ(arr, v::kArrMono);
    ASSERT_EQ(p->getBusArrangement(v::kOutput, 0, arr), v::kResultOk);
    EXPECT_EQ(arr, v::kArrStereo);

    EXPECT_EQ(p->setBusArrangements(&stereo, 1, &mono, 1), v::kResultFalse);
    EXPECT_EQ(p->setBusArrangements(&stereo, 1, &surround, 1), v::kResultFalse);
    EXPECT_EQ(p->setBusArrangements(pair, 2, &stereo, 1), v::kResultFalse);
    EXPECT_EQ(p->setBusArrangements(nullptr, 0, &stereo, 1), v::kResultFalse);  // (0, 2) is no config
    EXPECT_EQ(p->setBusArrangements(&stereo, -1, &stereo, 1), v::kInvalidArgument);
    EXPECT_EQ(p->setBusArrangements(nullptr, 1, &stereo, 1), v::kInvalidArgument);
    // Only mono (kSpeakerM) or left/right in and left/right out: other two-speaker layouts (centre
    // + LFE, a surround pair, a side pair, centre alone) are refused and the arrangement stays.
    ASSERT_EQ(p->setBusArrangements(&stereo, 1, &stereo, 1), v::kResultOk);
    for (v::SpeakerArrangement odd : {0xCull, 0x30ull, 0x600ull, 0x4ull, 0x1ull}) {
        EXPECT_EQ(p->setBusArrangements(&odd, 1, &stereo, 1), v::kResultFalse) << odd;
        EXPECT_EQ(p->setBusArrangements(&stereo, 1, &odd, 1), v::kResultFalse) << odd;
        EXPECT_EQ(p->setBusArrangements(&mono, 1, &odd, 1), v::kResultFalse) << odd;
    }
    ASSERT_EQ(p->getBusArrangement(v::kInput, 0, arr), v::kResultOk);
    EXPECT_EQ(arr, v::kArrStereo);
    ASSERT_EQ(p->getBusArrangement(v::kOutput, 0, arr), v::kResultOk);
    EXPECT_EQ(arr, v::kArrStereo);

    EXPECT_EQ(p->getBusArrangement(2, 0, arr), v::kInvalidArgument);
    EXPECT_EQ(p->getBusArrangement(v::kInput, 1, arr), v::kInvalidArgument);
    EXPECT_EQ(p->getBusArrangement(v::kInput, -1, arr), v::kInvalidArgument);
    EXPECT_EQ(p->canProcessSampleSize(v::kSample32), v::kResultOk);
    EXPECT_EQ(p->canProcessSampleSize(v::kSample64), v::kResultFalse);
}

TEST_F(Vst3Processor, NewSampleRateRequestsALatencyRestart) {
    v::IAudioProcessor* p = plugin->processor;
    EXPECT_EQ(p->getLatencySamples(), 2u);
    v::ProcessSetup setup{v::kRealtime, v::kSample32, 512, 44100.0};
    EXPECT_EQ(p->setupProcessing(setup), v::kResultOk);
    EXPECT_EQ(restarts(), 1);  // the first set-up after initialize always restarts
    EXPECT_EQ(p->setupProcessing(setup), v::kResultOk);
    EXPECT_EQ(restarts(), 1);
    setup.sampleRate = 48000.0;
    EXPECT_EQ(p->setupProcessing(setup), v::kResultOk);
    EXPECT_EQ(restarts(), 2);
    setup.symbolicSampleSize = v::kSample64;
    EXPECT_EQ(p->setupProcessing(setup), v::kResultFalse);
    // Rates and sizes nothing can be sized from are refused and change nothing.
    setup = {v::kRealtime, v::kSample32, 512, std::nan("")};
    EXPECT_EQ(p->setupProcessing(setup), v::kInvalidArgument);
    setup = {v::kRealtime, v::kSample32, 0, 44100.0};
    EXPECT_EQ(p->setupProcessing(setup), v::kInvalidArgument);
    EXPECT_EQ(restarts(), 2);
    EXPECT_EQ(p->getTailSamples(), 9600u);
}

TEST_F(Vst3Processor, TailFollowsTheSampleRate) {
    EXPECT_EQ(plugin->processor->getTailSamples(), 8820u);  // 44100 Hz before any set-up
    ASSERT_EQ(plugin->prepare(96000.0, 512), v::kResultOk);
    EXPECT_EQ(plugin->processor->getTailSamples(), 19200u);
}

TEST_F(Vst3Processor, ResetsOnlyWhenTheBlockSizeOrRestartChanges) {
    ASSERT_EQ(plugin->prepare(44100.0, 512), v::kResultOk);
    Buffers first = runConstant(100, 1.0f);
    EXPECT_EQ(first.data[0][0], 0.0f);  // fresh delay
    EXPECT_EQ(first.data[0][1], 0.0f);
    EXPECT_EQ(first.data[0][2], 1.0f);
    // Another block length with the same announced maximum: the delay carries on.
    Buffers second = runConstant(37, 1.0f);
    EXPECT_EQ(second.data[0][0], 1.0f);
    EXPECT_EQ(second.data[1][1], 1.0f);
    // A new maximum block size resets.
    v::ProcessSetup setup{v::kRealtime, v::kSample32, 256, 44100.0};
    ASSERT_EQ(plugin->processor->setupProcessing(setup), v::kResultOk);
    Buffers third = runConstant(64, 1.0f);
    EXPECT_EQ(third.data[0][0], 0.0f);
    EXPECT_EQ(third.data[0][2], 1.0f);
    // So does restarting processing; a block with another channel count does not.
    Buffers fourth = runConstant(64, 1.0f);
    EXPECT_EQ(fourth.data[0][0], 1.0f);
    plugin->processor->setProcessing(1);
    Buffers fifth = runConstant(64, 1.0f);
    EXPECT_EQ(fifth.data[0][1], 0.0f);
    Buffers mono = runConstant(64, 2.0f, nullptr, 1);
    EXPECT_EQ(mono.data[1][0], 1.0f);  // the history carries on
    EXPECT_EQ(mono.data[1][2], 2.0f);  // the mono input feeds both outputs
}

TEST_F(Vst3Processor, OnlyTheLastPointOfAQueueAppliesFromTheBlockStart) {
    ASSERT_EQ(plugin->prepare(44100.0, 512), v::kResultOk);
    runConstant(8, 1.0f);
    ParameterChanges changes;
    changes.add(kLevel, 0, 1.0);
    changes.add(kLevel, 100, 0.0);
    changes.add(kLevel, 300, 0.25);  // level 0.5
    Buffers out = runConstant(400, 1.0f, &changes);
    for (int i = 0; i < 400; ++i) ASSERT_EQ(out.data[0][i], 0.5f) << i;
    EXPECT_DOUBLE_EQ(normalized(kLevel), 0.25);
}

TEST_F(Vst3Processor, QueuesForUnknownIdsAndBadValuesAreHarmless) {
    ASSERT_EQ(plugin->prepare(44100.0, 512), v::kResultOk);
    ParameterChanges changes;
    for (v::ParamID id : {3u, 997u, 1000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) changes.add(id, 0, 1.0);
    changes.addEmptyQueue(kLevel);
    changes.add(kMode, 0, std::nan(""));
    changes.add(kInvert, 0, 7.5);  // clamped: on
    changes.add(kProgram, 0, std::nan(""));
    Buffers out = runConstant(16, 1.0f, &changes);
    EXPECT_TRUE(allFinite(out.data[0]));
    EXPECT_DOUBLE_EQ(normalized(kLevel), 0.5);
    EXPECT_DOUBLE_EQ(normalized(kMode), 0.0);
    EXPECT_DOUBLE_EQ(normalized(kInvert), 1.0);
    EXPECT_DOUBLE_EQ(normalized(kProgram), 0.0);
    EXPECT_DOUBLE_EQ(normalized(kBypass), 0.0);

    ParameterChanges programs;
    programs.add(kProgram, 0, -3.0);
    runConstant(4, 0.0f, &programs);
    EXPECT_DOUBLE_EQ(normalized(kProgram), 0.0);
    ParameterChanges huge;
    huge.add(kProgram, 0, 1e300);
    runConstant(4, 0.0f, &huge);
    EXPECT_DOUBLE_EQ(normalized(kProgram), 1.0);
}

TEST_F(Vst3Processor, ProgramChangesInsideBlocksSelectPresets) {
    ASSERT_EQ(plugin->prepare(44100.0, 512), v::kResultOk);
    const std::pair<double, int> cases[] = {{1.0, 31},   {0.5, 16}, {0.0, 0},
                                            {0.999, 31}, {0.03, 0}, {0.04, 1}};
    for (auto [value, preset] : cases) {
        ParameterChanges changes;
        changes.add(kProgram, 0, value);
        runConstant(0, 0.0f, &changes);  // a parameter-only call
        EXPECT_DOUBLE_EQ(normalized(kProgram), preset / 31.0) << value;
    }
    ParameterChanges changes;
    changes.add(kProgram, 0, 16.0 / 32.0);
    Buffers out = runConstant(64, 1.0f, &changes);
    // Preset 16: level 16/31 of 2.
    EXPECT_FLOAT_EQ(out.data[0][10], static_cast<float>(2.0 * static_cast<float>(16.0 / 31.0)));
}

// Bypassed, the output is the input delayed by the reported latency (2 for this module), a mono
// input on both outputs; switching crossfades the client's output and that dry path over 8 ms
// (384 frames at 48 kHz) with gains that add up to one.
TEST_F(Vst3Processor, BypassIsTheInputDelayedByTheLatencyWithAnEightMillisecondCrossfade) {
    for (int channels : {2, 1}) {
        ASSERT_EQ(plugin->prepare(48000.0, 256, channels), v::kResultOk);
        EXPECT_EQ(plugin->processor->getLatencySamples(), 2u);
        ParameterChanges on;
        on.add(kBypass, 0, 1.0);
        on.add(kMode, 0, 1.0);  // "Mute": the client's own output is silence
        Buffers in(2, 600), out(2, 600);
        fillNoise(in.data[0], 1, 0.5f);
        fillNoise(in.data[1], 2, 0.5f);
        // Bypass found by the restart's first block: no fade.
        ASSERT_EQ(plugin->process(in.ptrs(), channels, out.ptrs(), 2, 600, &on), v::kResultOk);
        EXPECT_DOUBLE_EQ(normalized(kBypass), 1.0);
        for (int c = 0; c < 2; ++c) {
            const std::vector<float>& source = in.data[channels == 1 ? 0 : c];
            EXPECT_EQ(out.data[c][0], 0.0f);
            EXPECT_EQ(out.data[c][1], 0.0f);
            for (int i = 2; i < 600; ++i)
                ASSERT_EQ(out.data[c][i], source[i - 2]) << channels << " " << c << " " << i;
        }
        ParameterChanges off;
        off.add(kBypass, 0, 0.49);
        Buffers next(2, 600);
        ASSERT_EQ(plugin->process(in.ptrs(), channels, next.ptrs(), 2, 600, &off), v::kResultOk);
        EXPECT_DOUBLE_EQ(normalized(kBypass), 0.0);
        const std::vector<float>& source = in.data[0];
        auto dry = [&](int i) { return i >= 2 ? source[i - 2] : source[598 + i]; };
        EXPECT_NEAR(next.data[0][0], dry(0) * (383.0f / 384.0f), 1e-6f);
        EXPECT_NEAR(next.data[0][191], dry(191) * 0.5f, 1e-6f);
        for (int i = 384; i < 600; ++i) ASSERT_EQ(next.data[0][i], 0.0f) << i;
        plugin->processor->setProcessing(1);
    }
}

TEST_F(Vst3Processor, NullChannelBuffersAreSilenceOrScratch) {
    ASSERT_EQ(plugin->prepare(44100.0, 128), v::kResultOk);
    Buffers in(2, 100), out(2, 100);
    std::fill(in.data[0].begin(), in.data[0].end(), 1.0f);
    float* inputs[2] = {in.data[0].data(), nullptr};
    ASSERT_EQ(plugin->process(inputs, 2, out.ptrs(), 2, 100), v::kResultOk);
    EXPECT_EQ(out.data[0][50], 1.0f);
    EXPECT_EQ(out.data[1][50], 0.0f);
    float* outputs[2] = {nullptr, out.data[1].data()};
    ASSERT_EQ(plugin->process(in.ptrs(), 2, outputs, 2, 100), v::kResultOk);
    // Whole null arrays and missing buses too.
    ASSERT_EQ(plugin->process(nullptr, 2, nullptr, 2, 100), v::kResultOk);
    ASSERT_EQ(plugin->process(in.ptrs(), 2, out.ptrs(), 2, 100, nullptr, nullptr, 0, 1), v::kResultOk);
    EXPECT_TRUE(allFinite(out.data[0]));
}

TEST_F(Vst3Processor, BlocksLongerThanAnnouncedArePiecedToTheBuffers) {
    ASSERT_EQ(plugin->prepare(44100.0, 64), v::kResultOk);
    Buffers in(2, 1000), out(2, 1000);
    fillNoise(in.data[0], 3, 0.5f);
    fillNoise(in.data[1], 4, 0.5f);
    ASSERT_EQ(plugin->process(in.ptrs(), 2, out.ptrs(), 2, 1000), v::kResultOk);
    // The client would see NaN-trapped chunks if any were longer than its reset size.
    for (int c = 0; c < 2; ++c)
        for (int i = 2; i < 1000; ++i) ASSERT_EQ(out.data[c][i], in.data[c][i - 2]) << c << " " << i;
    // In-place buffers are safe: inputs are copied before the client writes.
    Buffers shared(2, 700);
    fillNoise(shared.data[0], 5, 0.5f);
    const std::vector<float> original = shared.data[0];
    ASSERT_EQ(plugin->process(shared.ptrs(), 2, shared.ptrs(), 2, 700), v::kResultOk);
    for (int i = 2; i < 700; ++i) ASSERT_EQ(shared.data[0][i], original[i - 2]) << i;
}

TEST_F(Vst3Processor, ProcessBeforeSetupGivesSilence) {
    Buffers in(2, 32), out(2, 32);
    std::fill(in.data[0].begin(), in.data[0].end(), 1.0f);
    std::fill(out.data[0].begin(), out.data[0].end(), 5.0f);
    ASSERT_EQ(plugin->process(in.ptrs(), 2, out.ptrs(), 2, 32), v::kResultOk);
    for (float s : out.data[0]) ASSERT_EQ(s, 0.0f);
}

}  // namespace
}  // namespace vst3it

namespace vst3it {
namespace {

// Processing through the product module: no allocation and no blocking lock, with parameter
// changes, program changes, bypass toggles, flushes and restarted processing (whose reset block
// clears the whole chain) in the blocks. The buffers are sized by setupProcessing on the main
// thread. (On Windows only the test executable's own allocations are counted, so this proves
// little there.)
TEST(Vst3Realtime, BlocksResetsAndFlushesAllocateNothingAndNeverBlock) {
    LoadedModule m(velmoraBundlePath());
    ASSERT_TRUE(m.loaded());
    HostApplication host;
    auto plugin = m.instance(&host);
    ASSERT_EQ(plugin->prepare(48000.0, 512), v::kResultOk);
    Buffers in(2, 512), out(2, 512);
    fillNoise(in.data[0], 7, 0.3f);
    fillNoise(in.data[1], 8, 0.3f);
    std::vector<ParameterChanges> changes(6);
    changes[1].add(6, 0, 0.2);    // pan
    changes[2].add(0, 0, 0.9);    // distance
    changes[3].add(999, 0, 0.5);  // program
    changes[4].add(998, 0, 1.0);  // bypass on
    changes[5].add(998, 0, 0.0);  // and off
    korvo::test::RealtimeProbe probe;
    for (int round = 0; round < 3; ++round) {
        // setProcessing(true) makes the next block reset the chain.
        ASSERT_EQ(plugin->processor->setProcessing(0), v::kResultOk);
        ASSERT_EQ(plugin->processor->setProcessing(1), v::kResultOk);
        for (auto& c : changes) {
            ASSERT_EQ(plugin->process(in.ptrs(), 2, out.ptrs(), 2, 300 + round, &c), v::kResultOk);
            ASSERT_EQ(plugin->process(nullptr, 0, nullptr, 0, 0, &c, nullptr, 0, 0), v::kResultOk);
        }
    }
    EXPECT_EQ(probe.allocations(), 0u);
    EXPECT_EQ(probe.blockingLocks(), 0u);
}

// Bypass through the product module: on a sine the toggles step no further than the sine itself
// does (a hard switch stepped by 0.37 into and 0.49 out of bypass with "Far-Left"), and since the dry
// path is delayed by the reported latency, toggling at default settings does not shift the audio.
TEST(Vst3Bypass, TogglingNeitherClicksNorShiftsTheAudio) {
    LoadedModule m(velmoraBundlePath());
    ASSERT_TRUE(m.loaded());
    HostApplication host;
    constexpr int kBlock = 512, kBlocks = 160, kOn = 100, kOff = 130;
    for (int preset : {7, 0}) {
        auto plugin = m.instance(&host);
        ASSERT_EQ(plugin->prepare(48000.0, kBlock), v::kResultOk);
        const v::int32 latency = static_cast<v::int32>(plugin->processor->getLatencySamples());
        EXPECT_EQ(latency, 3);
        std::vector<float> sine(kBlock * kBlocks);
        for (std::size_t i = 0; i < sine.size(); ++i)
            sine[i] =
                0.5f * static_cast<float>(std::sin(2.0 * 3.141592653589793 * 440.0 * double(i) / 48000.0));
        Buffers out(2, kBlock * kBlocks);
        for (int k = 0; k < kBlocks; ++k) {
            ParameterChanges changes;
            if (k == 0) changes.add(999, 0, preset / 31.0);
            if (k == kOn || k == kOff) changes.add(998, 0, k == kOn ? 1.0 : 0.0);
            float* inputs[2] = {sine.data() + k * kBlock, sine.data() + k * kBlock};
            float* outputs[2] = {out.data[0].data() + k * kBlock, out.data[1].data() + k * kBlock};
            ASSERT_EQ(plugin->process(inputs, 2, outputs, 2, kBlock, &changes), v::kResultOk);
        }
        float ownStep = 0.0f, step = 0.0f;
        for (std::size_t i = 1; i < sine.size(); ++i)
            ownStep = std::max(ownStep, std::fabs(sine[i] - sine[i - 1]));
        for (int c = 0; c < 2; ++c)
            for (int i = (kOn - 1) * kBlock; i < (kOff + 2) * kBlock; ++i)
                step = std::max(step, std::fabs(out.data[c][i] - out.data[c][i - 1]));
        EXPECT_LE(step, ownStep * 1.05f) << preset;
        if (preset == 0) {
            // Default settings: the settled chain is the input delayed by its latency (its delay
            // glide stalls within a thousandth of a sample of it), and so is the bypass, so the
            // crossfades change nothing audible.
            float worst = 0.0f;
            for (int c = 0; c < 2; ++c)
                for (int i = (kOn - 10) * kBlock; i < kBlocks * kBlock; ++i)
                    worst = std::max(worst, std::fabs(out.data[c][i] - sine[i - latency]));
            EXPECT_LT(worst, 1e-4f);
        }
    }
}

// A host that runs without flush-to-zero gets no denormal samples back (the chain runs under the
// plug-in's own floating-point setting), and finds its own setting again after every call.
TEST(Vst3FloatingPoint, HostsWithoutFlushToZeroGetNoDenormalsAndKeepTheirSetting) {
    LoadedModule m(velmoraBundlePath());
    ASSERT_TRUE(m.loaded());
    HostApplication host;
    auto plugin = m.instance(&host);
    const std::uint32_t saved = korvo::FPControl::readMXCSR();
    constexpr std::uint32_t kHostSetting = 0x1F80;  // exceptions masked, denormals kept
    korvo::FPControl::writeMXCSR(kHostSetting);
    auto expectHostSetting = [&](const char* call) {
        EXPECT_EQ(korvo::FPControl::readMXCSR() & 0xFFC0u, kHostSetting) << call;
        korvo::FPControl::writeMXCSR(kHostSetting);
    };
    ASSERT_EQ(plugin->prepare(48000.0, 512), v::kResultOk);
    expectHostSetting("prepare");
    ASSERT_EQ(plugin->controller->setParamNormalized(999, 7.0 / 31.0), v::kResultOk);  // filters with memory
    expectHostSetting("setParamNormalized");
    Buffers in(2, 512), out(2, 512);
    long denormals = 0;
    for (int k = 0; k < 60; ++k) {
        if (k < 5) {
            fillNoise(in.data[0], 30 + k, 0.3f);
            fillNoise(in.data[1], 60 + k, 0.3f);
        } else {
            // Input just above silence, deep in the denormal range.
            for (int i = 0; i < 512; ++i) in.data[0][i] = in.data[1][i] = (i % 2 ? 1.0f : -1.0f) * 1e-39f;
        }
        ASSERT_EQ(plugin->process(in.ptrs(), 2, out.ptrs(), 2, 512), v::kResultOk);
        expectHostSetting("process");
        for (const auto& channel : out.data)
            for (float x : channel) denormals += x != 0.0f && std::fabs(x) < 1.17549435e-38f;
    }
    EXPECT_EQ(denormals, 0);
    MemoryStream state;
    ASSERT_EQ(plugin->getState(state), v::kResultOk);
    expectHostSetting("getState");
    state.rewind();
    ASSERT_EQ(plugin->setState(state), v::kResultOk);
    expectHostSetting("setState");
    plugin->paramString(6, 0.3);
    expectHostSetting("getParamStringByValue");
    korvo::FPControl::writeMXCSR(saved);
}

// A host's parameter flush (a process call without samples, with or without buses and buffers)
// applies the changes it carries and nothing else: the flushed instance's output equals that of an
// instance that got the same changes in its next block.
TEST(Vst3Flush, FlushesApplyTheirChangesAndLeaveTheAudioAlone) {
    LoadedModule m(velmoraBundlePath());
    ASSERT_TRUE(m.loaded());
    HostApplication host;
    auto plain = m.instance(&host);
    auto flushed = m.instance(&host);
    for (auto* p : {plain.get(), flushed.get()}) {
        ASSERT_EQ(p->controller->setParamNormalized(999, 7.0 / 31.0), v::kResultOk);  // "Far-Left"
        ASSERT_EQ(p->prepare(48000.0, 512), v::kResultOk);
    }
    constexpr int kBlock = 512, kBlocks = 24;
    Buffers in(2, kBlock * kBlocks), a(2, kBlock * kBlocks), b(2, kBlock * kBlocks);
    fillNoise(in.data[0], 21, 0.3f);
    fillNoise(in.data[1], 22, 0.3f);
    for (int k = 0; k < kBlocks; ++k) {
        float* inputs[2] = {in.data[0].data() + k * kBlock, in.data[1].data() + k * kBlock};
        float* outA[2] = {a.data[0].data() + k * kBlock, a.data[1].data() + k * kBlock};
        float* outB[2] = {b.data[0].data() + k * kBlock, b.data[1].data() + k * kBlock};
        ParameterChanges pan;
        pan.add(6, 0, 0.8);
        if (k % 4 == 1) {
            korvo::test::RealtimeProbe probe;
            float* none[2] = {nullptr, nullptr};
            switch (k / 4) {
                case 0:
                    ASSERT_EQ(flushed->process(inputs, 2, outB, 2, 0), v::kResultOk);
                    break;
                case 1:
                    ASSERT_EQ(flushed->process(nullptr, 0, nullptr, 0, 0, nullptr, nullptr, 0, 0),
                              v::kResultOk);
                    break;
                case 2:
                    ASSERT_EQ(flushed->process(none, 2, none, 2, 0), v::kResultOk);
                    break;
                case 3:
                    ASSERT_EQ(flushed->process(inputs, 1, outB, 2, 0), v::kResultOk);
                    break;
                case 4:
                    ASSERT_EQ(flushed->process(nullptr, 0, nullptr, 0, 0, &pan, nullptr, 0, 0), v::kResultOk);
                    break;
                default:
                    break;
            }
            EXPECT_EQ(probe.allocations(), 0u) << "flush " << k / 4;
            if (k / 4 == 4) {
                EXPECT_EQ(flushed->controller->getParamNormalized(6), static_cast<double>(0.8f));
            }
        }
        // The unflushed instance gets the pan change with its next block.
        ASSERT_EQ(plain->process(inputs, 2, outA, 2, kBlock, k == 17 ? &pan : nullptr), v::kResultOk);
        ASSERT_EQ(flushed->process(inputs, 2, outB, 2, kBlock), v::kResultOk);
    }
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < kBlock * kBlocks; ++i) ASSERT_EQ(a.data[c][i], b.data[c][i]) << c << " " << i;
}

}  // namespace
}  // namespace vst3it
