#include "korvo/client/hostprocessor.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "tests/support/realtime.h"

using namespace korvo;

namespace {

// Output = input x "Gain", the gain read once per processAudio call as a real client reads its
// parameters once per block; pieces are recorded in fixed storage.
class GainClient : public Client {
public:
    GainClient() { initialize(); }
    void processAudio(const float* const* inputs, std::int32_t numInputs, float* const* outputs,
                      std::int32_t numOutputs, std::int32_t frames, HostTiming timing) noexcept override {
        const float gain = static_cast<float>(static_cast<const LinearFloatParameter&>(parameter(0)).value());
        for (std::int32_t c = 0; c < numOutputs; ++c)
            for (std::int32_t i = 0; i < frames; ++i) outputs[c][i] = inputs[c < numInputs ? c : 0][i] * gain;
        if (pieces < starts.size()) starts[pieces] = {timing.timeInSamples, frames};
        ++pieces;
    }
    std::int32_t maxFramesInProcess() noexcept override { return 0; }
    bool isAsleep() const noexcept override { return asleep; }
    ParameterList buildParameters() override {
        ParameterList p;
        p.push_back(makeHeap<LinearFloatParameter>(0, "Gain", "", 0.0, 1.0, 1.0));
        return p;
    }
    PresetList buildPresets() override {
        PresetList list;
        list.push_back(buildDefaultPreset(*this));
        return list;
    }
    PluginDescription buildDescription() override { return PluginDescription{}; }
    Vec<ChannelConfig> buildChannelConfigs() override {
        Vec<ChannelConfig> v;
        v.push({1, 2});
        v.push({2, 2});
        return v;
    }

    std::array<std::pair<std::int64_t, std::int32_t>, 32> starts{};  // piece start and length
    std::size_t pieces = 0;
    bool asleep = false;
};

// Gain changes at given offsets, as an adapter's event list would give them.
class GainEvents final : public IBlockEvents {
public:
    struct Change {
        std::int32_t offset;
        float gain;
    };
    GainEvents(Client& client, std::vector<Change> changes) : client_(client), changes_(std::move(changes)) {}
    std::int32_t nextEventOffset() noexcept override {
        return next_ < changes_.size() ? changes_[next_].offset : std::numeric_limits<std::int32_t>::max();
    }
    void applyEventsUpTo(std::int32_t position) noexcept override {
        for (; next_ < changes_.size() && changes_[next_].offset <= position; ++next_)
            client_.setParameterFromHost(0, changes_[next_].gain);
    }

private:
    Client& client_;
    std::vector<Change> changes_;
    std::size_t next_ = 0;
};

struct Stereo {
    explicit Stereo(int frames, float value = 0.0f)
        : left(static_cast<std::size_t>(frames), value), right(static_cast<std::size_t>(frames), value) {}
    float* const* ptrs() {
        pointers[0] = left.data();
        pointers[1] = right.data();
        return pointers;
    }
    std::vector<float> left, right;
    float* pointers[2] = {};
};

}  // namespace

TEST(HostProcessorEvents, ChangesAreHeardFromTheirOffsetAndCutThePieces) {
    GainClient client;
    HostProcessor processing(client);
    ASSERT_TRUE(processing.prepare(48000.0f, 256, 2, 2));
    Stereo in(600, 1.0f), out(600);
    // 700 lies past the block: it is applied after the block. The second change at 100 comes with
    // the first; 50 after 333 is out of order and is applied at the next cut.
    GainEvents events(client,
                      {{0, 1.0f}, {100, 0.5f}, {100, 0.25f}, {333, 0.75f}, {50, 0.125f}, {700, 0.0f}});
    const HostTiming timing{120.0, 1000, true};
    EXPECT_FALSE(processing.process(in.ptrs(), 2, out.ptrs(), 2, 600, timing, &events));
    const std::vector<std::pair<std::int64_t, std::int32_t>> expected = {
        {1000, 100}, {1100, 233}, {1333, 256}, {1589, 11}};
    ASSERT_EQ(client.pieces, expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k) EXPECT_EQ(client.starts[k], expected[k]) << k;
    for (int i = 0; i < 600; ++i) {
        const float gain = i < 100 ? 1.0f : (i < 333 ? 0.25f : 0.125f);
        ASSERT_EQ(out.left[i], gain) << i;
        ASSERT_EQ(out.right[i], gain) << i;
    }
    EXPECT_EQ(static_cast<const LinearFloatParameter&>(client.parameter(0)).value(), 0.0);
}

TEST(HostProcessorEvents, WithoutEventsPiecesAreAsLongAsTheBuffers) {
    GainClient client;
    HostProcessor processing(client);
    processing.prepare(44100.0f, 512, 2, 2);
    Stereo in(1300, 0.5f), out(1300);
    processing.process(in.ptrs(), 2, out.ptrs(), 2, 1300, HostTiming{});
    ASSERT_EQ(client.pieces, 3u);
    EXPECT_EQ(client.starts[2], (std::pair<std::int64_t, std::int32_t>{1024, 276}));
}

TEST(HostProcessorEvents, BeforeAnyPrepareTheOutputIsSilentAndTheEventsStillApply) {
    GainClient client;
    HostProcessor processing(client);
    Stereo in(64, 1.0f), out(64, 7.0f);
    GainEvents events(client, {{10, 0.5f}});
    processing.process(in.ptrs(), 2, out.ptrs(), 2, 64, HostTiming{}, &events);
    EXPECT_EQ(client.pieces, 0u);
    for (float s : out.left) ASSERT_EQ(s, 0.0f);
    EXPECT_EQ(static_cast<const LinearFloatParameter&>(client.parameter(0)).value(),
              static_cast<double>(0.5f));
    EXPECT_FALSE(processing.prepare(48000.0f, 0, 2, 2));  // no block size: nothing to size
}

TEST(HostProcessorInput, BadSamplesMissingChannelsAndSharedBuffersAreSafe) {
    GainClient client;
    HostProcessor processing(client);
    processing.prepare(48000.0f, 64, 2, 2);
    Stereo io(100, 0.25f);
    io.left[3] = std::numeric_limits<float>::quiet_NaN();
    io.left[4] = -std::numeric_limits<float>::infinity();
    io.right[5] = 3.0e38f;  // finite: kept
    // In place, more channels than the client takes, and one of them missing.
    float* channels[3] = {io.left.data(), io.right.data(), nullptr};
    processing.process(channels, 3, channels, 3, 100, HostTiming{});
    EXPECT_EQ(io.left[3], 0.0f);
    EXPECT_EQ(io.left[4], 0.0f);
    EXPECT_EQ(io.right[5], 3.0e38f);
    EXPECT_EQ(io.left[99], 0.25f);
    float* missing[2] = {nullptr, io.right.data()};
    processing.process(missing, 2, channels, 2, 100, HostTiming{});
    EXPECT_EQ(io.left[50], 0.0f);  // a null input channel is silence
    processing.process(nullptr, 2, nullptr, 2, 100, HostTiming{});
    EXPECT_EQ(client.pieces, 6u);  // the client's time goes on without buffers too
}

TEST(HostProcessorRealtime, ProcessWithEventsAllocatesNothingAndSleepFollowsTheClient) {
    GainClient client;
    HostProcessor processing(client);
    processing.prepare(48000.0f, 128, 2, 2);
    Stereo in(1000, 0.1f), out(1000);
    GainEvents events(client, {{0, 0.1f}, {1, 0.2f}, {500, 0.3f}, {999, 0.4f}});
    test::RealtimeProbe probe;
    processing.requestReset();
    processing.setBypassed(true);
    EXPECT_FALSE(processing.process(in.ptrs(), 2, out.ptrs(), 2, 1000, HostTiming{}, &events));
    processing.setBypassed(false);
    client.asleep = true;
    EXPECT_TRUE(processing.process(in.ptrs(), 2, out.ptrs(), 2, 1000, HostTiming{}));
    EXPECT_FALSE(processing.process(in.ptrs(), 2, out.ptrs(), 2, 0, HostTiming{}));  // nothing ran
    EXPECT_EQ(probe.allocations(), 0u);
    EXPECT_EQ(probe.blockingLocks(), 0u);
}

TEST(HostProcessorState, WritesHeaderAndChunkAndRefusesDamageWholly) {
    GainClient client;
    HostProcessor processing(client);
    processing.setBypassed(true);
    client.setParameterFromHost(0, 0.5f);
    const std::vector<std::uint8_t> saved = processing.writeState();
    ASSERT_EQ(saved.size(), kStateHeaderBytes + 24 + 4);
    EXPECT_EQ(saved[0], 0);
    EXPECT_EQ(saved[1], 1);
    EXPECT_EQ(saved[2], 0x0B);  // the chunk's big-endian magic

    processing.setBypassed(false);
    client.setParameterFromHost(0, 0.25f);
    std::vector<std::uint8_t> damaged = saved;
    damaged[0] = 1;  // a version we do not know
    EXPECT_FALSE(processing.readState(damaged.data(), damaged.size()));
    damaged = saved;
    damaged.resize(damaged.size() - 1);  // the value cut short
    EXPECT_FALSE(processing.readState(damaged.data(), damaged.size()));
    EXPECT_FALSE(processing.readState(saved.data(), 1));
    EXPECT_FALSE(processing.readState(nullptr, 0));
    EXPECT_FALSE(processing.bypassed());  // nothing was applied, the bypass neither
    EXPECT_EQ(client.parameter(0).getNormalized(), static_cast<double>(0.25f));

    ASSERT_TRUE(processing.readState(saved.data(), saved.size()));
    EXPECT_TRUE(processing.bypassed());
    EXPECT_EQ(client.parameter(0).getNormalized(), static_cast<double>(0.5f));
}
