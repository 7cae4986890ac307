#include "korvo/client/client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "tests/korvo/client/test_client.h"
#include "tests/support/realtime.h"

using namespace korvo;
using korvo::test::TestClient;

namespace {

struct Buffers {
    float in[2][2000] = {};
    float out[2][2000] = {};
    const float* ins[2] = {in[0], in[1]};
    float* outs[2] = {out[0], out[1]};
};

}  // namespace

TEST(ClientConstruction, BuildsEverythingAndLinksParametersBack) {
    TestClient client;
    EXPECT_EQ(client.maxInputs(), 2);
    EXPECT_EQ(client.maxOutputs(), 2);
    EXPECT_EQ(client.cachedMaxFramesInProcess(), 512);
    ASSERT_EQ(client.parameterCount(), test::kParamCount);
    for (std::int32_t i = 0; i < client.parameterCount(); ++i) {
        EXPECT_EQ(client.parameter(i).index(), i);
        EXPECT_EQ(client.parameter(i).client(), &client);
    }
    EXPECT_EQ(client.presetBank().count(), 4);
    EXPECT_EQ(client.presetBank().current(), 0);
    EXPECT_EQ(client.hostCommand(), nullptr);
    EXPECT_EQ(client.description().packedVersion(), 0x00010400);
    EXPECT_STRNE(client.supportEmail(), "");
    EXPECT_STRNE(client.homepage(), "");
    EXPECT_TRUE(client.isLegalChannelConfig(1, 2));
    EXPECT_TRUE(client.isLegalChannelConfig(2, 2));
    EXPECT_FALSE(client.isLegalChannelConfig(2, 1));
    EXPECT_FALSE(client.isLegalChannelConfig(1, 1));
}

TEST(ClientConstruction, ChannelMaximaStartAtZero) {
    TestClient none(512, true, {});
    EXPECT_EQ(none.maxInputs(), 0);
    EXPECT_EQ(none.maxOutputs(), 0);
    TestClient mixed(512, true, {{6, 1}, {0, 8}});
    EXPECT_EQ(mixed.maxInputs(), 6);
    EXPECT_EQ(mixed.maxOutputs(), 8);
}

TEST(ClientBlockSplitting, HostBlockIsCutIntoLimitSizedChunks) {
    TestClient client(512);
    Buffers b;
    HostTiming timing{133.0, 1000, true};
    client.processAudioFromHost(b.ins, 2, b.outs, 2, 1300, timing);
    ASSERT_EQ(client.callCount, 3u);
    const std::int32_t frames[] = {512, 512, 276};
    for (int i = 0; i < 3; ++i) {
        const TestClient::Call& c = client.calls[i];
        EXPECT_EQ(c.frames, frames[i]);
        EXPECT_EQ(c.timing.timeInSamples, 1000 + 512 * i);
        EXPECT_EQ(c.timing.tempo, 133.0);
        EXPECT_TRUE(c.timing.hostIsPlaying);
        EXPECT_EQ(c.in0, b.in[0] + 512 * i);
        EXPECT_EQ(c.out0, b.out[0] + 512 * i);
    }
    // The caller's arrays and timing record were advanced in place.
    EXPECT_EQ(b.ins[0], b.in[0] + 1300);
    EXPECT_EQ(b.ins[1], b.in[1] + 1300);
    EXPECT_EQ(b.outs[0], b.out[0] + 1300);
    EXPECT_EQ(b.outs[1], b.out[1] + 1300);
    EXPECT_EQ(timing.timeInSamples, 2300);
}

TEST(ClientBlockSplitting, BlocksWithinTheLimitAndEmptyBlocks) {
    for (std::int32_t frames : {512, 1}) {
        TestClient client(512);
        Buffers b;
        HostTiming timing;
        client.processAudioFromHost(b.ins, 2, b.outs, 2, frames, timing);
        ASSERT_EQ(client.callCount, 1u);
        EXPECT_EQ(client.calls[0].frames, frames);
        EXPECT_EQ(timing.timeInSamples, frames);
    }
    for (std::int32_t frames : {0, -5}) {
        TestClient client(512);
        Buffers b;
        HostTiming timing;
        client.processAudioFromHost(b.ins, 2, b.outs, 2, frames, timing);
        EXPECT_EQ(client.callCount, 0u);
        EXPECT_EQ(timing.timeInSamples, 0);
    }
}

TEST(ClientBlockSplitting, NoLimitPassesTheHostBlockThroughUntouched) {
    TestClient client(0);
    Buffers b;
    HostTiming timing{120.0, 77, false};
    client.processAudioFromHost(b.ins, 2, b.outs, 2, 0, timing);
    client.processAudioFromHost(b.ins, 2, b.outs, 2, 1999, timing);
    ASSERT_EQ(client.callCount, 2u);
    EXPECT_EQ(client.calls[0].frames, 0);
    EXPECT_EQ(client.calls[1].frames, 1999);
    EXPECT_EQ(b.ins[0], b.in[0]);
    EXPECT_EQ(b.outs[1], b.out[1]);
    EXPECT_EQ(timing.timeInSamples, 77);
}

TEST(ClientReset, HostMaximumIsClampedToTheLimit) {
    TestClient client(512);
    client.resetFromHost(48000.0, 100, 2, 2);
    EXPECT_EQ(client.lastResetFrames, 100);
    EXPECT_EQ(client.lastResetRate, 48000.0);
    client.resetFromHost(44100.0, 4096, 2, 2);
    EXPECT_EQ(client.lastResetFrames, 512);
    client.resetFromHost(44100.0, 512, 2, 2);
    EXPECT_EQ(client.lastResetFrames, 512);

    TestClient unlimited(0);
    unlimited.resetFromHost(44100.0, 4096, 2, 2);
    EXPECT_EQ(unlimited.lastResetFrames, 4096);
}

TEST(ClientMidi, QueueIsAMinHeapOnFrameOffset) {
    TestClient client;
    const std::int32_t offsets[] = {40, 7, 7, 90, 3, 55, 3, 12};
    for (std::int32_t o : offsets) client.enqueueMidiFromHost({o, 0x90, 60, 100});
    ASSERT_EQ(client.midiQueueCount(), 8);
    for (std::int32_t slot = 2; slot <= client.midiQueueCount(); ++slot)
        EXPECT_LE(client.midiQueueSlot(slot / 2).offset, client.midiQueueSlot(slot).offset);
    EXPECT_EQ(client.midiQueueSlot(1).offset, 3);

    std::int32_t sorted[8];
    std::copy(std::begin(offsets), std::end(offsets), sorted);
    std::sort(std::begin(sorted), std::end(sorted));
    MidiMessage m;
    for (std::int32_t expected : sorted) {
        ASSERT_TRUE(client.popMidiMessage(m));
        EXPECT_EQ(m.offset, expected);
    }
    EXPECT_FALSE(client.popMidiMessage(m));
}

TEST(ClientMidi, EqualOffsetsDoNotSiftAboveTheirParent) {
    TestClient client;
    client.enqueueMidiFromHost({5, 0x90, 1, 0});
    client.enqueueMidiFromHost({5, 0x90, 2, 0});
    EXPECT_EQ(client.midiQueueSlot(1).data1, 1);
    EXPECT_EQ(client.midiQueueSlot(2).data1, 2);
}

TEST(ClientMidi, FullQueueDropsAndResetEmptiesIt) {
    TestClient client;
    for (int i = 0; i < 511; ++i) client.enqueueMidiFromHost({511 - i, 0x80, 0, 0});
    EXPECT_EQ(client.midiQueueCount(), 511);
    client.enqueueMidiFromHost({0, 0x90, 0, 0});
    EXPECT_EQ(client.midiQueueCount(), 511);
    EXPECT_EQ(client.midiQueueSlot(1).offset, 1) << "the dropped message never entered";
    client.resetFromHost(48000.0, 256, 2, 2);
    EXPECT_EQ(client.midiQueueCount(), 0);
}

TEST(ClientGraphics, CreatedOnFirstNeedAndReusedAcrossAttachments) {
    int destroyed = 0;
    {
        TestClient client;
        client.graphicsDestroyed = &destroyed;
        EXPECT_EQ(client.graphics(), nullptr);
        EXPECT_EQ(client.graphicsAvailable(), 0);
        EXPECT_EQ(client.tryAcquireGraphics(), nullptr);

        IGraphics* g = client.ensureGraphics();  // e.g. the size query before any attach
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(client.graphicsAvailable(), 1);
        std::int32_t w = 0, h = 0;
        g->getGUISize(&w, &h);
        EXPECT_EQ(w, 763);
        g->openUI(nullptr, nullptr, HostKind::reaper, WindowBackend::win32);
        g->closeUI();
        EXPECT_EQ(client.ensureGraphics(), g);
        EXPECT_EQ(client.graphicsCreated, 1);
        EXPECT_EQ(static_cast<test::FakeGraphics*>(g)->opens, 1);
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(ClientGraphics, AudioThreadTakesTheEditorOnlyThroughTheTryLock) {
    TestClient client;
    IGraphics* g = client.ensureGraphics();
    EXPECT_EQ(client.tryAcquireGraphics(), g);
    EXPECT_EQ(client.graphicsAvailable(), 0);
    EXPECT_EQ(client.tryAcquireGraphics(), nullptr) << "already taken: skip the editor this block";
    client.releaseGraphics();
    EXPECT_EQ(client.tryAcquireGraphics(), g);
    client.releaseGraphics();
}

TEST(ClientGraphics, PluginWithoutEditorNeverOffersOne) {
    TestClient client(512, false);
    EXPECT_EQ(client.ensureGraphics(), nullptr);
    EXPECT_EQ(client.graphicsAvailable(), 0);
    EXPECT_EQ(client.tryAcquireGraphics(), nullptr);
}

TEST(ClientGraphics, DestructionWaitsForTheAudioThreadToLetGo) {
    int destroyed = 0;
    auto* client = heapNew<TestClient>();
    client->graphicsDestroyed = &destroyed;
    client->ensureGraphics();
    ASSERT_NE(client->tryAcquireGraphics(), nullptr);  // the "audio thread" holds the editor

    std::atomic<bool> done{false};
    std::thread destroyer([&] {
        heapDelete(client);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(done.load());
    EXPECT_EQ(destroyed, 0);
    client->releaseGraphics();
    destroyer.join();
    EXPECT_TRUE(done.load());
    EXPECT_EQ(destroyed, 1);
}

TEST(ClientRealtime, AudioThreadOperationsNeitherAllocateNorBlock) {
    TestClient client(512);
    Buffers b;
    HostTiming timing;
    client.ensureGraphics();
    client.resetFromHost(48000.0, 1024, 2, 2);  // warm-up outside the probe

    korvo::test::RealtimeProbe probe;
    client.resetFromHost(48000.0, 2048, 2, 2);
    client.processAudioFromHost(b.ins, 2, b.outs, 2, 1300, timing);
    for (std::int32_t i = 0; i < client.parameterCount(); ++i) client.setParameterFromHost(i, 0.75f);
    client.presetBank().selectPresetFromHost(2);
    client.presetBank().selectPresetFromHost(1);
    client.enqueueMidiFromHost({3, 0x90, 60, 100});
    IGraphics* g = client.tryAcquireGraphics();
    client.releaseGraphics();
    const std::uint64_t allocations = probe.allocations();
    const std::uint64_t blocking = probe.blockingLocks();

    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(blocking, 0u);
    EXPECT_NE(g, nullptr);
    EXPECT_EQ(client.callCount, 3u);
}

TEST(ClientRealtime, DspReadOfAParameterTakesNoLock) {
    TestClient client;
    client.setParameterFromHost(test::kPan, 1.0f);
    auto& pan = static_cast<LinearFloatParameter&>(client.parameter(test::kPan));
    auto& mode = static_cast<IntegerParameter&>(client.parameter(test::kMode));
    auto& bypass = static_cast<BoolParameter&>(client.parameter(test::kBypass));

    korvo::test::RealtimeProbe probe;
    const double p = pan.value();
    const std::int32_t m = mode.value();
    const bool by = bypass.value();
    const std::uint64_t locks = probe.blockingLocks(), tries = probe.tryLocks(), allocs = probe.allocations();

    EXPECT_EQ(locks, 0u);
    EXPECT_EQ(tries, 0u);
    EXPECT_EQ(allocs, 0u);
    EXPECT_EQ(p, 1.0);
    EXPECT_EQ(m, 2);
    EXPECT_FALSE(by);
}

TEST(ClientParameters, HostValueIsWidenedFromFloat) {
    TestClient client;
    client.setParameterFromHost(test::kPan, 0.6f);
    auto& pan = static_cast<LinearFloatParameter&>(client.parameter(test::kPan));
    EXPECT_EQ(pan.value(), -1.0 + 2.0 * static_cast<double>(0.6f));
}
