// The audio thread's feed of the editor's displays, through a running VelmoraClient.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/effect/display_scene.h"
#include "tests/support/realtime.h"

namespace velmora {
namespace {

using test::EditorClient;

void setPlain(VelmoraClient& client, Param index, const char* text) {
    client.parameter(index).setNormalizedFromHost(client.parameter(index).parseToNormalized(text).normalized);
}

// A host feeding stereo noise, one host block at a time.
struct Host {
    explicit Host(VelmoraClient& c, std::int32_t maxBlock = 2048)
        : client(c),
          in(2 * static_cast<std::size_t>(maxBlock)),
          outLeft(in.size() / 2),
          outRight(in.size() / 2) {
        client.resetFromHost(48000.0, maxBlock, 2, 2);
    }
    void process(std::int32_t frames, bool silent = false) {
        for (float& x : in)
            x = silent ? 0.0f
                       : static_cast<float>((seed = seed * 1664525u + 1013904223u) >> 8) * 3e-8f - 0.25f;
        const float* ins[2] = {in.data(), in.data() + in.size() / 2};
        float* outs[2] = {outLeft.data(), outRight.data()};
        client.processAudioFromHost(ins, 2, outs, 2, frames, timing);
    }
    VelmoraClient& client;
    std::vector<float> in, outLeft, outRight;
    korvo::HostTiming timing;
    std::uint32_t seed = 99;
};

TEST(DisplayFeed, EveryBlockReachesBothDisplays) {
    EditorClient client;
    ASSERT_NE(client.ensureGraphics(), nullptr);
    EXPECT_EQ(client.panoramaDisplay(), client.editor()->panorama());
    EXPECT_EQ(client.phaseDisplay(), client.editor()->phase());
    setPlain(client, kPan, "45");
    setPlain(client, kDryWet, "50");
    setPlain(client, kDistance, "-12");
    setPlain(client, kTilt, "3");
    Host host(client);
    host.process(1300);  // blocks of 512, 512, 276

    // One panorama state per block: pan 45 x 0.5 / 90, distance and tilt after "Dry / Wet".
    auto& states = client.editor()->panorama()->stateFifo();
    ASSERT_EQ(states.count(), 3);
    PanoramaDisplay::State state;
    ASSERT_EQ(states.readOldestAndDrop(&state, 1, 0.0, 0), 1);
    EXPECT_FLOAT_EQ(state.pan, 0.25f);
    EXPECT_FLOAT_EQ(state.distance, -6.0f);
    EXPECT_FLOAT_EQ(state.tilt, 1.5f);
    EXPECT_FLOAT_EQ(state.gain, 1.0f);
    // The final output samples, one pair in four across the blocks.
    auto& samples = client.editor()->phase()->sampleFifo();
    ASSERT_EQ(samples.count(), 325);
    std::vector<PhaseDisplay::Pair> pairs(256);
    ASSERT_EQ(samples.readOldestAndDrop(pairs.data(), 256, 0.0, 0), 256);
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        ASSERT_EQ(pairs[k].a, host.outLeft[4 * k + 3]) << k;
        ASSERT_EQ(pairs[k].b, host.outRight[4 * k + 3]) << k;
    }
}

TEST(DisplayFeed, MakesNoAllocationAndTakesNoBlockingLock) {
    EditorClient client;
    client.ensureGraphics();
    setPlain(client, kLfoToPan, "40");
    setPlain(client, kLfoToGain, "60");
    Host host(client);
    host.process(512);
    korvo::test::RealtimeProbe probe;
    for (std::int32_t frames : {512, 1300, 64, 2048, 1}) host.process(frames);
    for (int i = 0; i < 30; ++i) host.process(512, true);  // into the silenced state, still fed
    EXPECT_EQ(probe.allocations(), 0u);
    EXPECT_EQ(probe.blockingLocks(), 0u);
    EXPECT_GE(probe.tryLocks(), 2u * 40u);  // both FIFOs tried on every block
}

TEST(DisplayFeed, NothingIsFedWhileTheEditorIsBusyOrToDetachedDisplays) {
    EditorClient client;
    client.ensureGraphics();
    Host host(client);
    auto& samples = client.editor()->phase()->sampleFifo();
    ASSERT_NE(client.tryAcquireGraphics(), nullptr);  // as while the editor is torn down
    host.process(512);
    EXPECT_EQ(samples.count(), 0);
    client.releaseGraphics();
    host.process(512);
    EXPECT_EQ(samples.count(), 128);
    client.attachDisplays(nullptr, client.editor()->phase());
    host.process(512);
    EXPECT_EQ(samples.count(), 256);
    EXPECT_EQ(client.editor()->panorama()->stateFifo().count(), 1);
}

// The editor is created and destroyed while the audio thread keeps processing: no block may reach a
// display that is being or has been destroyed (AddressSanitizer watches the frees).
TEST(DisplayFeed, EditorComesAndGoesWhileAudioRuns) {
    EditorClient client;
    std::atomic<bool> stop{false};
    std::atomic<std::int64_t> blocks{0};
    std::thread audio([&] {
        Host host(client, 512);
        while (!stop.load(std::memory_order_acquire)) host.process(256), blocks.fetch_add(1);
    });
    auto waitForBlocks = [&](std::int64_t n) {
        for (const std::int64_t target = blocks.load() + n; blocks.load() < target;)
            std::this_thread::yield();
    };
    for (int round = 0; round < 12; ++round) {
        ASSERT_NE(client.ensureGraphics(), nullptr);
        waitForBlocks(3);
        if (round % 3 == 1) {  // detach and attach again while the editor is live
            client.attachDisplays(nullptr, nullptr);
            waitForBlocks(2);
            client.attachDisplays(client.editor()->panorama(), client.editor()->phase());
            waitForBlocks(2);
        }
        client.destroyGraphics();
        EXPECT_EQ(client.panoramaDisplay(), nullptr);
        EXPECT_EQ(client.phaseDisplay(), nullptr);
        waitForBlocks(2);
    }
    stop.store(true, std::memory_order_release);
    audio.join();
}

}  // namespace
}  // namespace velmora
