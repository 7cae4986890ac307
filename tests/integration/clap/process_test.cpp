// Processing through the test module (every channel delayed by 2 samples and scaled by "Level"):
// the lifecycle's rules, events at their offsets, the bypass, programs, flush, ports and their
// configurations, latency and tail, and the real-time rules.
#include <cmath>
#include <limits>

#include "tests/integration/clap/clapfixture.h"
#include "tests/integration/testplugin/testclient.h"
#include "tests/support/realtime.h"

namespace clapit {
namespace {

using vst3test::kInvert;
using vst3test::kLevel;
using vst3test::kMode;

class ClapProcess : public ::testing::Test {
protected:
    void SetUp() override {
        clap = std::make_unique<LoadedClap>(testClapPath());
        ASSERT_TRUE(clap->loaded());
        instance = clap->instance(host);
    }
    // One block of constant input; returns the output.
    Buffers run(std::uint32_t frames, float value, const EventList* events = nullptr, std::uint32_t in = 2,
                std::int32_t* status = nullptr) {
        Buffers input(static_cast<int>(in), static_cast<int>(frames)), out(2, static_cast<int>(frames));
        for (auto& channel : input.data) std::fill(channel.begin(), channel.end(), value);
        const std::int32_t s = instance->process(input.ptrs(), in, out.ptrs(), 2, frames, events);
        if (status != nullptr) *status = s;
        return out;
    }

    Host host{"claphost test"};
    std::unique_ptr<LoadedClap> clap;
    std::unique_ptr<Instance> instance;
};

TEST_F(ClapProcess, TheLifecycleIsEnforced) {
    const c::Plugin* p = instance->plugin;
    float sample[2] = {};
    float* channels[2] = {&sample[0], &sample[1]};
    EXPECT_EQ(instance->process(channels, 2, channels, 2, 1), c::kProcessError);  // never activated
    EXPECT_FALSE(p->startProcessing(p));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const auto& [rate, minFrames, maxFrames] : {std::tuple{0.0, 1u, 512u},
                                                     {nan, 1u, 512u},
                                                     {-48000.0, 1u, 512u},
                                                     {1e9, 1u, 512u},
                                                     {48000.0, 0u, 512u},
                                                     {48000.0, 64u, 32u},
                                                     {48000.0, 1u, 0x80000000u}})
        EXPECT_FALSE(p->activate(p, rate, minFrames, maxFrames))
            << rate << " " << minFrames << " " << maxFrames;
    ASSERT_TRUE(p->activate(p, 48000.0, 1, 512));
    EXPECT_FALSE(p->activate(p, 44100.0, 1, 512));                                // already active
    EXPECT_EQ(instance->process(channels, 2, channels, 2, 1), c::kProcessError);  // not processing
    EXPECT_FALSE(instance->audioPortsConfig->select(p, 1));                       // ports are frozen
    ASSERT_TRUE(p->startProcessing(p));
    EXPECT_EQ(instance->process(channels, 2, channels, 2, 1), c::kProcessContinue);
    p->stopProcessing(p);
    EXPECT_EQ(instance->process(channels, 2, channels, 2, 1), c::kProcessError);
    p->deactivate(p);
    EXPECT_TRUE(instance->audioPortsConfig->select(p, 1));
    EXPECT_FALSE(instance->audioPortsConfig->select(p, 2));
    // Destroyed while active and processing: the plug-in ends both itself.
    ASSERT_TRUE(p->activate(p, 48000.0, 1, 512) && p->startProcessing(p));
    instance->active = instance->processing = false;
    instance.reset();
}

// Hosts stop processing around a sleep: the state goes on afterwards. reset and a new activation
// clear it (the test client's 2-sample delay shows which).
TEST_F(ClapProcess, StoppingKeepsTheStateAndResetOrActivationClearsIt) {
    ASSERT_TRUE(instance->prepare(48000.0, 512));
    const c::Plugin* p = instance->plugin;
    EXPECT_EQ(run(4, 1.0f).data[0][1], 0.0f);  // fresh
    p->stopProcessing(p);
    ASSERT_TRUE(p->startProcessing(p));
    EXPECT_EQ(run(4, 1.0f).data[0][0], 1.0f);  // carried on
    p->reset(p);
    EXPECT_EQ(run(4, 1.0f).data[0][1], 0.0f);
    ASSERT_TRUE(instance->prepare(48000.0, 512));  // the same sizes again
    EXPECT_EQ(run(4, 1.0f).data[0][0], 0.0f);
}

// Changes arrive at their frame: "Level" to 0.5 (plain 0.25) at 100, "Invert" at 300, and the
// delay of 2 samples carries both.
TEST_F(ClapProcess, EventsAreHeardFromTheirFrameOn) {
    ASSERT_TRUE(instance->prepare(48000.0, 512));
    EventList events;
    events.addValue(100, kLevel, 0.25);
    events.addValue(300, kInvert, 1.0);
    events.addValue(300, 3, 1.0);                                           // unknown: ignored
    events.addValue(310, kMode, std::numeric_limits<double>::quiet_NaN());  // NaN: ignored
    c::EventParamValue note{};
    note.header = {sizeof(note), 200, c::kCoreEventSpaceId, c::kEventNoteOn, 0};
    events.addRaw(note.header);  // not a parameter: no cut, no change
    c::EventParamValue shortEvent{};
    shortEvent.header = {20, 250, c::kCoreEventSpaceId, c::kEventParamValue, 0};
    shortEvent.paramId = kLevel;
    events.addRaw(shortEvent.header);  // too short to be read: skipped
    const Buffers out = run(400, 1.0f, &events);
    EXPECT_EQ(out.data[0][1], 0.0f);  // the fresh delay
    for (int i = 2; i < 100; ++i) ASSERT_EQ(out.data[0][i], 1.0f) << i;
    for (int i = 100; i < 300; ++i) ASSERT_EQ(out.data[1][i], 0.5f) << i;
    for (int i = 300; i < 400; ++i) ASSERT_EQ(out.data[0][i], -0.5f) << i;
    EXPECT_DOUBLE_EQ(instance->value(kLevel), 0.25);
    EXPECT_EQ(instance->value(kMode), 0.0);
}

// The bypass event starts the 8 ms crossfade (384 frames at 48 kHz) at its own frame, toward the
// input delayed by the latency; with the client muted the fade is all there is.
TEST_F(ClapProcess, TheBypassFadesInFromItsFrame) {
    ASSERT_TRUE(instance->prepare(48000.0, 1024));
    EventList mute;
    mute.addValue(0, kMode, 2);
    instance->flush(mute);
    Buffers in(2, 800), out(2, 800);
    fillNoise(in.data[0], 5, 0.5f);
    fillNoise(in.data[1], 6, 0.5f);
    EventList bypass;
    bypass.addValue(200, kBypass, 1.0);
    ASSERT_EQ(instance->process(in.ptrs(), 2, out.ptrs(), 2, 800, &bypass), c::kProcessContinue);
    for (int i = 0; i < 200; ++i) ASSERT_EQ(out.data[0][i], 0.0f) << i;
    EXPECT_NEAR(out.data[0][200], in.data[0][198] / 384.0f, 1e-7f);
    EXPECT_NEAR(out.data[1][391], in.data[1][389] * 0.5f, 1e-6f);
    for (int i = 200 + 400; i < 800; ++i) ASSERT_EQ(out.data[1][i], in.data[1][i - 2]) << i;
    EXPECT_EQ(instance->value(kBypass), 1.0);
}

TEST_F(ClapProcess, ProgramChangesTellTheHostFromTheMainThread) {
    ASSERT_TRUE(instance->prepare(48000.0, 512));
    EventList program;
    program.addValue(0, kProgram, 16.0);
    const Buffers out = run(64, 1.0f, &program);
    EXPECT_EQ(instance->value(kProgram), 16.0);
    EXPECT_FLOAT_EQ(out.data[0][10], static_cast<float>(2.0 * static_cast<float>(16.0 / 31.0)));
    EXPECT_EQ(host.callbackRequests.load(), 1);
    EXPECT_TRUE(host.paramRescans.empty());  // never from the audio thread
    instance->plugin->onMainThread(instance->plugin);
    EXPECT_EQ(host.paramRescans, std::vector<std::uint32_t>{c::kParamRescanValues});
    instance->plugin->onMainThread(instance->plugin);
    EXPECT_EQ(host.paramRescans.size(), 1u);
    EventList odd;
    odd.addValue(0, kProgram, -4.0);
    instance->flush(odd);
    EXPECT_EQ(instance->value(kProgram), 0.0);
    odd.clear();
    odd.addValue(0, kProgram, 1e300);
    instance->flush(odd);
    EXPECT_EQ(instance->value(kProgram), 31.0);
}

// Flush applies changes without audio, inactive on the main thread and active on the audio
// thread; the audio's history is left alone.
TEST_F(ClapProcess, FlushAppliesChangesWithoutAudio) {
    flushValues(*instance, {{kLevel, 0.75}, {kMode, 1.0}, {kBypass, 1.0}});
    EXPECT_DOUBLE_EQ(instance->value(kLevel), 0.75);
    EXPECT_EQ(instance->value(kMode), 1.0);
    EXPECT_EQ(instance->value(kBypass), 1.0);
    flushValues(*instance, {{kBypass, 0.0}, {kMode, 0.0}, {kLevel, 0.5}});
    ASSERT_TRUE(instance->prepare(48000.0, 512));
    run(8, 1.0f);
    EventList level;
    level.addValue(0, kLevel, 0.25);
    korvo::test::RealtimeProbe probe;
    instance->flush(level);
    EXPECT_EQ(probe.allocations(), 0u);
    const Buffers out = run(8, 1.0f);
    EXPECT_EQ(out.data[0][0], 0.5f);  // the history carries on, at the new level
}

TEST_F(ClapProcess, SixtyFourBitBuffersAreRefusedAndTheirEventsKept) {
    ASSERT_TRUE(instance->prepare(48000.0, 512));
    double samples[2][16] = {};
    double* channels[2] = {samples[0], samples[1]};
    c::AudioBuffer input{nullptr, channels, 2, 0, 0}, output{nullptr, channels, 2, 0, 0};
    EventList events;
    events.addValue(3, kLevel, 0.1);
    claphost::OutputList out;
    c::Process p{-1, 16, nullptr, &input, &output, 1, 1, events.input(), out.output()};
    EXPECT_EQ(instance->plugin->process(instance->plugin, &p), c::kProcessError);
    EXPECT_DOUBLE_EQ(instance->value(kLevel), static_cast<double>(0.1f));
    EXPECT_EQ(samples[0][5], 0.0);
}

TEST_F(ClapProcess, PortsFollowTheChosenConfiguration) {
    const c::Plugin* p = instance->plugin;
    ASSERT_EQ(instance->audioPortsConfig->count(p), 2u);
    c::AudioPortsConfig config{};
    ASSERT_TRUE(instance->audioPortsConfig->get(p, 0, &config));
    EXPECT_STREQ(config.name, "Mono to Stereo");
    EXPECT_EQ(config.mainInputChannelCount, 1u);
    EXPECT_STREQ(config.mainInputPortType, "mono");
    EXPECT_EQ(config.mainOutputChannelCount, 2u);
    ASSERT_TRUE(instance->audioPortsConfig->get(p, 1, &config));
    EXPECT_STREQ(config.name, "Stereo");
    EXPECT_FALSE(instance->audioPortsConfig->get(p, 2, &config));
    EXPECT_EQ(instance->audioPortsConfigInfo->currentConfig(p), 1u);  // stereo to start with

    c::AudioPortInfo port{};
    EXPECT_EQ(instance->audioPorts->count(p, true), 1u);
    ASSERT_TRUE(instance->audioPorts->get(p, 0, true, &port));
    EXPECT_STREQ(port.name, "Audio Input");
    EXPECT_EQ(port.flags, c::kAudioPortIsMain);
    EXPECT_EQ(port.channelCount, 2u);
    EXPECT_STREQ(port.portType, "stereo");
    EXPECT_EQ(port.inPlacePair, 0u);
    EXPECT_FALSE(instance->audioPorts->get(p, 1, true, &port));
    EXPECT_FALSE(instance->audioPorts->get(p, 0, false, nullptr));

    ASSERT_TRUE(instance->prepare(48000.0, 512, 1));  // mono in, chosen through the configuration
    EXPECT_EQ(instance->audioPortsConfigInfo->currentConfig(p), 0u);
    ASSERT_TRUE(instance->audioPorts->get(p, 0, true, &port));
    EXPECT_EQ(port.channelCount, 1u);
    EXPECT_EQ(port.inPlacePair, c::kInvalidId);
    ASSERT_TRUE(instance->audioPortsConfigInfo->get(p, 1, 0, true, &port));
    EXPECT_EQ(port.channelCount, 2u);  // another configuration's port, asked for by id
    const Buffers out = run(16, 0.5f, nullptr, 1);
    EXPECT_EQ(out.data[0][5], 0.5f);
    EXPECT_EQ(out.data[1][5], 0.5f);  // the mono input on both sides
}

TEST_F(ClapProcess, LatencyIsToldWhileActivatingAndTheTailFollowsTheRate) {
    const c::Plugin* p = instance->plugin;
    EXPECT_EQ(instance->tail->get(p), 8820u);  // 0.2 s at 44100 Hz before any activation
    ASSERT_TRUE(instance->prepare(48000.0, 512));
    EXPECT_EQ(instance->latency->get(p), 2u);  // under the plug-in's floating-point guard
    EXPECT_EQ(host.latencyChanges.load(), 1);  // the host knew of none before
    EXPECT_EQ(instance->tail->get(p), 9600u);
    ASSERT_TRUE(instance->prepare(96000.0, 256));
    EXPECT_EQ(host.latencyChanges.load(), 1);  // unchanged
    EXPECT_EQ(instance->tail->get(p), 19200u);
}

// The audio path allocates nothing and takes no blocking lock: blocks with events, flushes,
// program changes, bypass toggles, resets and restarted processing.
TEST_F(ClapProcess, ProcessingAllocatesNothingAndNeverBlocks) {
    ASSERT_TRUE(instance->prepare(48000.0, 512));
    Buffers in(2, 512), out(2, 512);
    fillNoise(in.data[0], 7, 0.3f);
    std::vector<EventList> changes(4);
    changes[0].addValue(10, kLevel, 0.3);
    changes[0].addValue(400, kMode, 1.0);
    changes[1].addValue(0, kProgram, 9.0);
    changes[2].addValue(100, kBypass, 1.0);
    changes[3].addValue(511, kBypass, 0.0);
    const c::Plugin* p = instance->plugin;
    korvo::test::RealtimeProbe probe;
    for (int round = 0; round < 3; ++round) {
        p->stopProcessing(p);
        ASSERT_TRUE(p->startProcessing(p));
        for (const EventList& events : changes) {
            ASSERT_EQ(instance->process(in.ptrs(), 2, out.ptrs(), 2, 300 + round, &events),
                      c::kProcessContinue);
            instance->params->flush(p, events.input(), nullptr);
        }
        p->reset(p);
    }
    EXPECT_EQ(probe.allocations(), 0u);
    EXPECT_EQ(probe.blockingLocks(), 0u);
}

}  // namespace
}  // namespace clapit
