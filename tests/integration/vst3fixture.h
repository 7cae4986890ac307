#pragma once
// Shared set-up of the VST3 integration tests: module paths, loading through vst3host, and small
// audio helpers. Every test goes through the modules' exported entry points and the published
// binary interface only.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tools/vst3host/host.h"

namespace vst3it {

namespace v = korvo::vst3;
using vst3host::ComponentHandler;
using vst3host::HostApplication;
using vst3host::MemoryStream;
using vst3host::Module;
using vst3host::ParameterChanges;
using vst3host::Plugin;

// A path of the build tree as this platform's loader wants it (under Wine: Z:\ with backslashes).
inline std::string platformPath(std::string path) {
#if defined(_WIN32)
    if (!path.empty() && path[0] == '/') {
        for (char& c : path)
            if (c == '/') c = '\\';
        path = "Z:" + path;
    }
#endif
    return path;
}

inline std::string testModulePath() {
    return platformPath(KORVO_TEST_MODULE_BUNDLE);
}
inline std::string velmoraBundlePath() {
    return platformPath(VELMORA_BUNDLE);
}

// Loads a module, finds its first class, and makes initialised instances of it.
class LoadedModule {
public:
    explicit LoadedModule(const std::string& path) {
        std::string error;
        loaded_ = module_.load(path, error);
        EXPECT_TRUE(loaded_) << error;
        if (loaded_ && module_.factory()->countClasses() > 0) {
            v::PClassInfo info{};
            module_.factory()->getClassInfo(0, &info);
            std::memcpy(cid_, info.cid, 16);
        }
    }
    bool loaded() const { return loaded_; }
    Module& module() { return module_; }
    v::IPluginFactory* factory() { return module_.factory(); }
    const char* cid() const { return cid_; }
    std::unique_ptr<Plugin> instance(HostApplication* host) {
        auto plugin = std::make_unique<Plugin>(factory(), cid_, host);
        EXPECT_TRUE(plugin->ok());
        return plugin;
    }

private:
    Module module_;
    bool loaded_ = false;
    char cid_[16] = {};
};

// Planar stereo buffers with channel pointer arrays.
struct Buffers {
    Buffers(int channels, int frames) : data(static_cast<std::size_t>(channels), std::vector<float>(frames)) {
        for (auto& c : data) pointers.push_back(c.data());
    }
    float** ptrs() { return pointers.data(); }
    std::vector<std::vector<float>> data;
    std::vector<float*> pointers;
};

// Deterministic noise in [-amplitude, amplitude].
inline void fillNoise(std::vector<float>& out, std::uint32_t seed, float amplitude) {
    std::uint32_t state = seed;
    for (float& s : out) {
        state = state * 1664525u + 1013904223u;
        s = amplitude * (static_cast<float>(state >> 8) / 8388608.0f - 1.0f);
    }
}

inline bool allFinite(const std::vector<float>& v) {
    for (float s : v)
        if (!std::isfinite(s)) return false;
    return true;
}

// A fixture with the test module loaded, one instance initialised with a recording handler.
class TestModule : public ::testing::Test {
protected:
    void SetUp() override {
        module = std::make_unique<LoadedModule>(testModulePath());
        ASSERT_TRUE(module->loaded());
        plugin = module->instance(&host);
        ASSERT_TRUE(plugin->ok());
        ASSERT_EQ(plugin->controller->setComponentHandler(&handler), v::kResultOk);
    }
    void TearDown() override {
        plugin.reset();
        module.reset();
    }
    double normalized(v::ParamID id) { return plugin->controller->getParamNormalized(id); }

    HostApplication host{"vst3host test"};
    ComponentHandler handler;
    std::unique_ptr<LoadedModule> module;
    std::unique_ptr<Plugin> plugin;
};

}  // namespace vst3it
