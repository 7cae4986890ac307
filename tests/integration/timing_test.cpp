// What the adapter hands its client: block splitting, reset sizes, transport and MIDI. The client
// records every call, so this file drives the adapter library directly rather than a module.
#include <gtest/gtest.h>

#include <vector>

#include "korvo/client/client.h"
#include "korvo/vst3/client.h"
#include "tools/vst3host/host.h"

namespace vst3it {
namespace {

namespace v = korvo::vst3;

struct Call {
    std::int32_t frames;
    korvo::HostTiming timing;
};

class RecordingClient final : public korvo::Client {
public:
    explicit RecordingClient(bool midi) : midi_(midi) {
        calls.reserve(64);
        initialize();
    }
    void reset(double sampleRate, std::int32_t maxFrames, std::int32_t numInputs,
               std::int32_t numOutputs) noexcept override {
        lastResetRate = sampleRate;
        lastResetFrames = maxFrames;
        lastResetChannels = {numInputs, numOutputs};
        ++resets;
    }
    std::int32_t maxFramesInProcess() noexcept override { return 512; }
    void processAudio(const float* const*, std::int32_t, float* const*, std::int32_t, std::int32_t frames,
                      korvo::HostTiming timing) noexcept override {
        if (calls.size() < calls.capacity()) calls.push_back({frames, timing});
    }
    korvo::ParameterList buildParameters() override { return {}; }
    korvo::PresetList buildPresets() override {
        korvo::PresetList presets;
        presets.push_back(korvo::Preset("Only", {}));
        return presets;
    }
    korvo::PluginDescription buildDescription() override {
        korvo::PluginDescription d;
        d.vendorUniqueID = "Test";
        d.pluginUniqueID = "Time";
        d.receivesMIDI = midi_;
        return d;
    }
    korvo::Vec<korvo::ChannelConfig> buildChannelConfigs() override {
        korvo::Vec<korvo::ChannelConfig> configs;
        configs.push(korvo::ChannelConfig{2, 2});
        return configs;
    }

    std::vector<Call> calls;
    double lastResetRate = 0.0;
    std::int32_t lastResetFrames = 0;
    korvo::ChannelConfig lastResetChannels{0, 0};
    int resets = 0;

private:
    bool midi_;
};

class Vst3Timing : public ::testing::Test {
protected:
    void make(bool midi) {
        auto owned = korvo::makeHeap<RecordingClient>(midi);
        client = owned.get();
        object = korvo::heapNew<v::VST3Client>(std::move(owned));
        object->componentFace()->initialize(nullptr);
    }
    void TearDown() override {
        if (object != nullptr) {
            object->componentFace()->terminate();
            EXPECT_EQ(object->processorFace()->release(), 0u);
        }
    }
    void setup(double rate, std::int32_t maxBlock) {
        v::ProcessSetup s{v::kRealtime, v::kSample32, maxBlock, rate};
        ASSERT_EQ(object->processorFace()->setupProcessing(s), v::kResultOk);
    }
    void run(std::int32_t frames, v::ProcessContext* context = nullptr, v::IEventList* events = nullptr) {
        std::vector<float> l(static_cast<std::size_t>(frames)), r(static_cast<std::size_t>(frames));
        float* channels[2] = {l.data(), r.data()};
        v::AudioBusBuffers in{};
        in.numChannels = 2;
        in.channelBuffers32 = channels;
        v::AudioBusBuffers out = in;
        v::ProcessData data{};
        data.symbolicSampleSize = v::kSample32;
        data.numSamples = frames;
        data.numInputs = data.numOutputs = 1;
        data.inputs = &in;
        data.outputs = &out;
        data.processContext = context;
        data.inputEvents = events;
        ASSERT_EQ(object->processorFace()->process(data), v::kResultOk);
    }

    RecordingClient* client = nullptr;
    v::VST3Client* object = nullptr;
};

TEST_F(Vst3Timing, BlocksWithoutContextAreCountedFromZero) {
    make(false);
    setup(44100.0, 2048);
    run(1300);
    run(100);
    ASSERT_EQ(client->calls.size(), 4u);
    EXPECT_EQ(client->calls[0].frames, 512);
    EXPECT_EQ(client->calls[0].timing.timeInSamples, 0);
    EXPECT_EQ(client->calls[1].timing.timeInSamples, 512);
    EXPECT_EQ(client->calls[2].frames, 276);
    EXPECT_EQ(client->calls[2].timing.timeInSamples, 1024);
    EXPECT_EQ(client->calls[3].frames, 100);
    EXPECT_EQ(client->calls[3].timing.timeInSamples, 1300);
    EXPECT_EQ(client->calls[3].timing.tempo, 120.0);
    EXPECT_FALSE(client->calls[3].timing.hostIsPlaying);
}

TEST_F(Vst3Timing, ContextGivesPositionTempoAndPlayState) {
    make(false);
    setup(48000.0, 256);
    v::ProcessContext context{};
    context.state = v::kPlaying | v::kTempoValid;
    context.tempo = 90.0;
    context.projectTimeSamples = 5000;
    run(200, &context);
    context.state = v::kPlaying;  // tempo not valid this time
    context.tempo = 200.0;
    context.projectTimeSamples = 7000;
    run(200, &context);
    run(50);
    ASSERT_EQ(client->calls.size(), 3u);
    EXPECT_EQ(client->calls[0].timing.timeInSamples, 5000);
    EXPECT_EQ(client->calls[0].timing.tempo, 90.0);
    EXPECT_TRUE(client->calls[0].timing.hostIsPlaying);
    EXPECT_EQ(client->calls[1].timing.timeInSamples, 7000);
    EXPECT_EQ(client->calls[1].timing.tempo, 90.0);
    EXPECT_EQ(client->calls[2].timing.timeInSamples, 7200);  // continues after the last block
    EXPECT_TRUE(client->calls[2].timing.hostIsPlaying);
}

TEST_F(Vst3Timing, ResetReceivesTheRateAndTheClampedBlockSize) {
    make(false);
    setup(96000.0, 100);
    run(10);
    EXPECT_EQ(client->resets, 1);
    EXPECT_EQ(client->lastResetRate, 96000.0);
    EXPECT_EQ(client->lastResetFrames, 100);
    EXPECT_EQ(client->lastResetChannels.numInputs, 2);
    EXPECT_EQ(client->lastResetChannels.numOutputs, 2);
    setup(96000.0, 4096);
    run(10);
    EXPECT_EQ(client->resets, 2);
    EXPECT_EQ(client->lastResetFrames, 512);
    run(4096);
    EXPECT_EQ(client->resets, 2);
}

TEST_F(Vst3Timing, NoteEventsReachTheMidiQueueOnlyWhenTheClientTakesMidi) {
    make(true);
    EXPECT_EQ(object->componentFace()->getBusCount(v::kEvent, v::kInput), 1);
    v::BusInfo bus{};
    ASSERT_EQ(object->componentFace()->getBusInfo(v::kEvent, v::kInput, 0, bus), v::kResultOk);
    EXPECT_EQ(vst3host::narrow(bus.name), "MIDI Input");
    EXPECT_EQ(bus.channelCount, 1);
    setup(44100.0, 512);
    vst3host::EventList events;
    events.addNoteOn(40, 3, 60, 0.5f);
    events.addNoteOff(10, 3, 60, 1.0f);
    run(64, nullptr, &events);
    ASSERT_EQ(client->midiQueueCount(), 2);
    korvo::MidiMessage m{};
    ASSERT_TRUE(client->popMidiMessage(m));
    EXPECT_EQ(m.offset, 10);
    EXPECT_EQ(m.status, 0x83);
    EXPECT_EQ(m.data1, 60);
    EXPECT_EQ(m.data2, 127);
    ASSERT_TRUE(client->popMidiMessage(m));
    EXPECT_EQ(m.offset, 40);
    EXPECT_EQ(m.status, 0x93);
    EXPECT_EQ(m.data2, 64);  // 0.5 x 127 rounded to nearest
}

TEST_F(Vst3Timing, EventsAreIgnoredWithoutMidi) {
    make(false);
    EXPECT_EQ(object->componentFace()->getBusCount(v::kEvent, v::kInput), 0);
    setup(44100.0, 512);
    vst3host::EventList events;
    events.addNoteOn(0, 0, 60, 1.0f);
    run(64, nullptr, &events);
    EXPECT_EQ(client->midiQueueCount(), 0);
}

}  // namespace
}  // namespace vst3it
