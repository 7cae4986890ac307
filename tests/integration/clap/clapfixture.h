#pragma once
// Shared set-up of the CLAP integration tests: module paths, loading through claphost, events and
// the VST3 side for comparisons. Everything goes through the modules' exported entry points.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "tests/integration/vst3fixture.h"
#include "tools/claphost/host.h"

namespace clapit {

namespace c = korvo::clap;
using claphost::EventList;
using claphost::Host;
using claphost::Instance;
using claphost::InStream;
using claphost::Module;
using claphost::OutStream;
using vst3it::Buffers;
using vst3it::fillNoise;

constexpr c::ClapId kBypass = 998, kProgram = 999;

inline std::string velmoraClapPath() {
    return vst3it::platformPath(VELMORA_CLAP);
}
inline std::string testClapPath() {
    return vst3it::platformPath(TEST_CLAP);
}

// A module loaded once per test.
class LoadedClap {
public:
    explicit LoadedClap(const std::string& path) {
        std::string error;
        loaded_ = module_.load(path, error);
        EXPECT_TRUE(loaded_) << error;
    }
    bool loaded() const { return loaded_; }
    Module& module() { return module_; }
    std::unique_ptr<Instance> instance(Host& host) {
        auto instance = std::make_unique<Instance>(module_, host);
        EXPECT_TRUE(instance->ok());
        return instance;
    }

private:
    Module module_;
    bool loaded_ = false;
};

// One flush of parameter values (id, plain value) on an instance.
inline void flushValues(Instance& instance, std::initializer_list<std::pair<c::ClapId, double>> values) {
    EventList events;
    for (const auto& [id, value] : values) events.addValue(0, id, value);
    instance.flush(events);
}

// A transport that places a block at `position` frames, playing at `tempo`.
inline c::EventTransport transportAt(std::int64_t position, double rate, double tempo) {
    c::EventTransport t{};
    t.header = {sizeof(t), 0, c::kCoreEventSpaceId, c::kEventTransport, 0};
    t.flags = c::kTransportHasTempo | c::kTransportIsPlaying | c::kTransportHasSecondsTimeline;
    t.tempo = tempo;
    t.songPosSeconds = std::llround(static_cast<double>(position) / rate * c::kFixedPointFactor);
    return t;
}

}  // namespace clapit
