// What hosts see of the product module: its state through streams that hand out a few bytes per
// call, program changes that move many parameters, how parameters present themselves, and text.
#include <cstdint>
#include <vector>

#include "tests/integration/vst3fixture.h"

namespace vst3it {
namespace {

constexpr v::ParamID kPan = 6, kProgram = 999, kBypass = 998;

class VelmoraHost : public ::testing::Test {
protected:
    void SetUp() override {
        module = std::make_unique<LoadedModule>(velmoraBundlePath());
        ASSERT_TRUE(module->loaded());
    }
    std::unique_ptr<Plugin> instance(ComponentHandler* handler = nullptr) {
        auto plugin = module->instance(&host);
        if (handler != nullptr) {
            EXPECT_EQ(plugin->controller->setComponentHandler(handler), v::kResultOk);
        }
        return plugin;
    }
    static std::vector<double> values(Plugin& p) {
        std::vector<double> out;
        for (v::ParamID id = 0; id < 42; ++id) out.push_back(p.controller->getParamNormalized(id));
        out.push_back(p.controller->getParamNormalized(kProgram));
        out.push_back(p.controller->getParamNormalized(kBypass));
        return out;
    }
    // The state keeps normalized values as floats.
    static void expectNear(const std::vector<double>& got, const std::vector<double>& wanted) {
        ASSERT_EQ(got.size(), wanted.size());
        for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], wanted[i], 1e-6) << i;
    }
    static int restarts(const ComponentHandler& handler, v::int32 flags) {
        int n = 0;
        for (const auto& call : handler.calls)
            n += call.kind == ComponentHandler::Kind::restartComponent && call.flags == flags;
        return n;
    }

    HostApplication host{"vst3host test"};
    std::unique_ptr<LoadedModule> module;
};

// A state is read until the stream ends, however few bytes each read gives, and written the same
// way; a state cut at any length is refused and changes nothing.
TEST_F(VelmoraHost, StatesSurviveShortReadsAndWritesAndCutsChangeNothing) {
    auto source = instance();
    ASSERT_EQ(source->controller->setParamNormalized(kProgram, 7.0 / 31.0), v::kResultOk);
    ASSERT_EQ(source->controller->setParamNormalized(kPan, 0.3), v::kResultOk);
    ASSERT_EQ(source->controller->setParamNormalized(kBypass, 1.0), v::kResultOk);
    const std::vector<double> wanted = values(*source);
    std::vector<std::uint8_t> state;
    for (int perCall : {0, 1, 7, 16}) {
        MemoryStream out;
        out.setBytesPerWrite(perCall);
        ASSERT_EQ(source->getState(out), v::kResultOk) << perCall;
        ASSERT_EQ(out.bytes().size(), 2u + 24u + 4u * 42u) << perCall;
        if (state.empty()) state = out.bytes();
        EXPECT_EQ(out.bytes(), state) << perCall;
    }
    for (int perCall : {1, 7, 16}) {
        auto target = instance();
        MemoryStream in(state);
        in.setBytesPerRead(perCall);
        ASSERT_EQ(target->setState(in), v::kResultOk) << perCall;
        expectNear(values(*target), wanted);
    }
    auto target = instance();
    const std::vector<double> before = values(*target);
    for (std::size_t length = 0; length < state.size(); ++length) {
        MemoryStream cut(std::vector<std::uint8_t>(state.begin(), state.begin() + static_cast<long>(length)));
        cut.setBytesPerRead(7);
        ASSERT_EQ(target->setState(cut), v::kResultFalse) << length;
        ASSERT_EQ(values(*target), before) << length;
    }
    // A state from an older version with fewer values applies those it has.
    std::vector<std::uint8_t> older(state.begin(), state.begin() + 2 + 24 + 4 * 10);
    older[2 + 20] = 10;
    MemoryStream oldStream(older);
    ASSERT_EQ(target->setState(oldStream), v::kResultOk);
    const std::vector<double> now = values(*target);
    for (int i = 0; i < 10; ++i) EXPECT_NEAR(now[i], wanted[i], 1e-6) << i;
    for (int i = 10; i < 42; ++i) EXPECT_EQ(now[i], before[i]) << i;
}

// A program change moves many parameters; the host hears of it through restartComponent with
// kParamValuesChanged on the main thread: at once for the program parameter and setState, and for
// a change inside an audio block at the host's next main-thread call.
TEST_F(VelmoraHost, ProgramChangesTellTheHostThatValuesChanged) {
    ComponentHandler handler;
    auto plugin = instance(&handler);
    handler.calls.clear();
    ASSERT_EQ(plugin->controller->setParamNormalized(kProgram, 8.0 / 31.0), v::kResultOk);
    EXPECT_EQ(restarts(handler, v::kParamValuesChanged), 1);

    MemoryStream state;
    ASSERT_EQ(plugin->getState(state), v::kResultOk);
    ComponentHandler other;
    auto second = instance(&other);
    other.calls.clear();
    state.rewind();
    ASSERT_EQ(second->setState(state), v::kResultOk);
    EXPECT_EQ(restarts(other, v::kParamValuesChanged), 1);

    ASSERT_EQ(plugin->prepare(48000.0, 512), v::kResultOk);
    handler.calls.clear();
    ParameterChanges changes;
    changes.add(kProgram, 0, 10.0 / 31.0);
    Buffers in(2, 64), out(2, 64);
    ASSERT_EQ(plugin->process(in.ptrs(), 2, out.ptrs(), 2, 64, &changes), v::kResultOk);
    EXPECT_EQ(restarts(handler, v::kParamValuesChanged), 0) << "never from the audio thread";
    EXPECT_DOUBLE_EQ(plugin->controller->getParamNormalized(kProgram), 10.0 / 31.0);
    EXPECT_EQ(restarts(handler, v::kParamValuesChanged), 1);
    plugin->controller->getParamNormalized(kPan);
    EXPECT_EQ(restarts(handler, v::kParamValuesChanged), 1) << "once";
}

// Booleans show one step, enumerations their values less one, integers their range; the program is
// a list of 32; the "Reserved" parameters are hidden and not automatable but keep their IDs.
TEST_F(VelmoraHost, ParametersShowTheirStepsAndTheReservedOnesAreHidden) {
    auto plugin = instance();
    v::ParameterInfo info{};
    struct Expected {
        v::ParamID id;
        v::int32 steps, flags;
    };
    const Expected cases[] = {
        {9, 4, 0x9},     // "LFO Wave": five shapes, a list
        {10, 1, 0x1},    // "LFO Synced"
        {11, 11, 0x9},   // "LFO Tempo": twelve values
        {20, 1, 0x1},    // "Test Mono"
        {6, 0, 0x1},     // "Pan"
        {21, 16, 0x10},  // "Reserved #0": an integer 0..16, hidden
        {22, 0, 0x1},    // "Level pan" sits between the reserved ones
        {29, 1, 0x10},   // "Reserved #8"
        {41, 0, 0x10},   // "Reserved #20"
    };
    for (const Expected& e : cases) {
        ASSERT_EQ(plugin->controller->getParameterInfo(static_cast<v::int32>(e.id) + 2, info), v::kResultOk);
        EXPECT_EQ(info.id, e.id);
        EXPECT_EQ(info.stepCount, e.steps) << vst3host::narrow(info.title);
        EXPECT_EQ(info.flags, e.flags) << vst3host::narrow(info.title);
    }
    int hidden = 0;
    for (v::int32 index = 2; index < 44; ++index) {
        ASSERT_EQ(plugin->controller->getParameterInfo(index, info), v::kResultOk);
        hidden += (info.flags & 0x10) != 0;
    }
    EXPECT_EQ(hidden, 20);
    ASSERT_EQ(plugin->controller->getParameterInfo(1, info), v::kResultOk);
    EXPECT_EQ(info.stepCount, 31);
    EXPECT_EQ(info.flags, 0x8008);
    // Values and their texts are as before: normalized 0.5 of "LFO Wave" is "square".
    EXPECT_EQ(plugin->paramString(9, 0.5), "square");
}

// Text reaches the host decoded from UTF-8: the degree sign is one unit, U+00B0.
TEST_F(VelmoraHost, UnitsAreDecodedFromUtf8) {
    auto plugin = instance();
    v::ParameterInfo info{};
    for (v::ParamID id : {6u, 12u}) {
        ASSERT_EQ(plugin->controller->getParameterInfo(static_cast<v::int32>(id) + 2, info), v::kResultOk);
        EXPECT_EQ(info.units[0], 0x00B0) << id;
        EXPECT_EQ(info.units[1], 0) << id;
    }
    // Host text comes back the other way: "-45" parses, and so does text with a degree sign after it.
    const vst3host::String16 text = {'-', '4', '5', 0x00B0, 0};
    v::ParamValue value = 0.0;
    ASSERT_EQ(plugin->controller->getParamValueByString(kPan, const_cast<v::char16*>(text.data()), value),
              v::kResultOk);
    EXPECT_DOUBLE_EQ(value, 0.25);
}

}  // namespace
}  // namespace vst3it
