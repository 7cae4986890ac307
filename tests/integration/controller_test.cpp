// Controller, units, programs, view and state of the adapter, through the test module (3 client
// parameters "Level", "Mode", "Invert"; 32 presets "Default", "Preset 1" .. "Preset 31").
#include <cstring>

#include "tests/integration/testplugin/testclient.h"
#include "tests/integration/vst3fixture.h"

namespace vst3it {
namespace {

using vst3test::kInvert;
using vst3test::kLevel;
using vst3test::kMode;

constexpr v::ParamID kBypass = 998;
constexpr v::ParamID kProgram = 999;

class Vst3Controller : public TestModule {
protected:
    std::string valueText(v::ParamID id, double value) { return plugin->paramString(id, value); }
    v::tresult parse(v::ParamID id, const std::string& text, double& value) {
        vst3host::String16 wide = vst3host::widen(text);
        return plugin->controller->getParamValueByString(id, wide.data(), value);
    }
};

TEST_F(Vst3Controller, ParameterListPutsBypassAndProgramFirst) {
    v::IEditController* c = plugin->controller;
    ASSERT_EQ(c->getParameterCount(), 5);
    v::ParameterInfo info{};
    ASSERT_EQ(c->getParameterInfo(0, info), v::kResultOk);
    EXPECT_EQ(info.id, kBypass);
    EXPECT_EQ(vst3host::narrow(info.title), "Bypass");
    EXPECT_EQ(vst3host::narrow(info.shortTitle), "Byp");
    EXPECT_EQ(info.stepCount, 1);
    EXPECT_EQ(info.flags, 0x10009);
    EXPECT_EQ(info.defaultNormalizedValue, 0.0);
    ASSERT_EQ(c->getParameterInfo(1, info), v::kResultOk);
    EXPECT_EQ(info.id, kProgram);
    EXPECT_EQ(vst3host::narrow(info.title), "Preset");
    EXPECT_EQ(vst3host::narrow(info.shortTitle), "Pre");
    EXPECT_EQ(info.stepCount, 31);
    EXPECT_EQ(info.flags, 0x8008);  // a list of programs
    ASSERT_EQ(c->getParameterInfo(2, info), v::kResultOk);
    EXPECT_EQ(info.id, 0u);
    EXPECT_EQ(vst3host::narrow(info.title), "Level");
    EXPECT_EQ(vst3host::narrow(info.shortTitle), "Level");
    EXPECT_EQ(vst3host::narrow(info.units), "x");
    EXPECT_EQ(info.stepCount, 0);
    EXPECT_EQ(info.defaultNormalizedValue, 0.5);
    EXPECT_EQ(info.flags, 1);
    EXPECT_EQ(info.unitId, 0);
    // Stepped parameters show their steps: "Mode" has three values (a list), "Invert" is on/off.
    ASSERT_EQ(c->getParameterInfo(3, info), v::kResultOk);
    EXPECT_EQ(info.stepCount, 2);
    EXPECT_EQ(info.flags, 0x9);
    ASSERT_EQ(c->getParameterInfo(4, info), v::kResultOk);
    EXPECT_EQ(info.stepCount, 1);
    EXPECT_EQ(info.flags, 0x1);
    EXPECT_EQ(c->getParameterInfo(5, info), v::kResultFalse);
    EXPECT_EQ(c->getParameterInfo(-1, info), v::kResultFalse);
}

TEST_F(Vst3Controller, ValueStringsAndParsing) {
    EXPECT_EQ(valueText(kBypass, 0.5), "Yes");
    EXPECT_EQ(valueText(kBypass, 0.49), "No");
    EXPECT_EQ(valueText(kProgram, 0.0), "Default");
    EXPECT_EQ(valueText(kProgram, 1.0), "Preset 31");
    EXPECT_EQ(valueText(kProgram, -2.0), "Default");
    EXPECT_EQ(valueText(kProgram, 9.0), "Preset 31");
    EXPECT_EQ(valueText(kProgram, std::nan("")), "None");
    EXPECT_EQ(valueText(kMode, 0.5), "Swap");
    EXPECT_EQ(valueText(kInvert, 1.0), "yes");
    EXPECT_EQ(valueText(kLevel, 0.25), "0.50");
    EXPECT_EQ(valueText(kLevel, std::nan("")), "1.00");  // NaN shows the current value
    v::String128 text;
    EXPECT_EQ(plugin->controller->getParamStringByValue(3, 0.5, text), v::kResultFalse);
    EXPECT_EQ(plugin->controller->getParamStringByValue(kLevel, 0.5, nullptr), v::kInvalidArgument);

    double value = -1.0;
    EXPECT_EQ(parse(kMode, "Mute", value), v::kResultOk);
    EXPECT_EQ(value, 1.0);
    EXPECT_EQ(parse(kLevel, "1.5", value), v::kResultOk);
    EXPECT_DOUBLE_EQ(value, 0.75);
    EXPECT_EQ(parse(kMode, "mute", value), v::kResultFalse);
    EXPECT_EQ(parse(kBypass, "Yes", value), v::kResultFalse);
    EXPECT_EQ(parse(kProgram, "Default", value), v::kResultFalse);
    EXPECT_EQ(parse(3, "1", value), v::kResultFalse);
    // A host text without a terminator is read no further than its 128 characters.
    v::TChar unterminated[128];
    for (auto& u : unterminated) u = '7';
    EXPECT_EQ(plugin->controller->getParamValueByString(kLevel, unterminated, value), v::kResultFalse);
}

TEST_F(Vst3Controller, PlainValuesAndNormalizedAccess) {
    v::IEditController* c = plugin->controller;
    EXPECT_DOUBLE_EQ(c->normalizedParamToPlain(kLevel, 0.3), 0.3);
    EXPECT_DOUBLE_EQ(c->normalizedParamToPlain(kMode, 0.3), 0.3);
    EXPECT_DOUBLE_EQ(c->normalizedParamToPlain(kProgram, 0.5), 16.0);
    EXPECT_DOUBLE_EQ(c->normalizedParamToPlain(kProgram, 1.0), 31.0);
    EXPECT_DOUBLE_EQ(c->normalizedParamToPlain(kProgram, 1e12), 31.0);
    EXPECT_DOUBLE_EQ(c->normalizedParamToPlain(kBypass, 0.7), 1.0);
    EXPECT_DOUBLE_EQ(c->normalizedParamToPlain(kBypass, 0.2), 0.0);
    EXPECT_DOUBLE_EQ(c->normalizedParamToPlain(50, 0.3), 0.0);
    EXPECT_DOUBLE_EQ(c->plainParamToNormalized(kProgram, 31.0), 1.0);
    EXPECT_DOUBLE_EQ(c->plainParamToNormalized(kBypass, 1.0), 1.0);
    EXPECT_DOUBLE_EQ(c->plainParamToNormalized(kLevel, 0.4), 0.4);
    EXPECT_DOUBLE_EQ(c->plainParamToNormalized(50, 0.4), 0.0);

    EXPECT_EQ(c->setParamNormalized(kLevel, 0.25), v::kResultOk);
    EXPECT_DOUBLE_EQ(c->getParamNormalized(kLevel), 0.25);
    EXPECT_EQ(c->setParamNormalized(kLevel, 3.0), v::kResultOk);
    EXPECT_DOUBLE_EQ(c->getParamNormalized(kLevel), 1.0);
    EXPECT_EQ(c->setParamNormalized(kLevel, std::nan("")), v::kInvalidArgument);
    EXPECT_DOUBLE_EQ(c->getParamNormalized(kLevel), 1.0);
    EXPECT_EQ(c->setParamNormalized(50, 0.5), v::kResultFalse);
    EXPECT_DOUBLE_EQ(c->getParamNormalized(50), 0.0);
    EXPECT_EQ(c->setParamNormalized(kBypass, 0.5), v::kResultOk);
    EXPECT_DOUBLE_EQ(c->getParamNormalized(kBypass), 1.0);
    EXPECT_EQ(c->setParamNormalized(kProgram, 0.5), v::kResultOk);
    EXPECT_DOUBLE_EQ(c->getParamNormalized(kProgram), 16.0 / 31.0);
    EXPECT_EQ(c->setParamNormalized(kProgram, -0.5), v::kResultOk);
    EXPECT_DOUBLE_EQ(c->getParamNormalized(kProgram), 0.0);
    // No editor gesture happened; each program change told the host that the values changed.
    ASSERT_EQ(handler.calls.size(), 2u);
    for (const auto& call : handler.calls) {
        EXPECT_EQ(call.kind, ComponentHandler::Kind::restartComponent);
        EXPECT_EQ(call.flags, v::kParamValuesChanged);
    }
}

TEST_F(Vst3Controller, UnitsProgramsAndKnobMode) {
    v::IUnitInfo* u = plugin->unitInfo;
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->getUnitCount(), 1);
    v::UnitInfo unit{};
    ASSERT_EQ(u->getUnitInfo(0, unit), v::kResultOk);
    EXPECT_EQ(unit.id, 0);
    EXPECT_EQ(unit.parentUnitId, -1);
    EXPECT_EQ(vst3host::narrow(unit.name), "Root Unit");
    EXPECT_EQ(unit.programListId, 999);
    EXPECT_EQ(u->getUnitInfo(1, unit), v::kResultFalse);
    EXPECT_EQ(u->getProgramListCount(), 1);
    v::ProgramListInfo list{};
    ASSERT_EQ(u->getProgramListInfo(5, list), v::kResultOk);
    EXPECT_EQ(list.id, 999);
    EXPECT_EQ(vst3host::narrow(list.name), "Factory Presets");
    EXPECT_EQ(list.programCount, 32);
    v::String128 name;
    ASSERT_EQ(u->getProgramName(999, 0, name), v::kResultOk);
    EXPECT_EQ(vst3host::narrow(name), "Default");
    ASSERT_EQ(u->getProgramName(999, 31, name), v::kResultOk);
    EXPECT_EQ(vst3host::narrow(name), "Preset 31");
    EXPECT_EQ(u->getProgramName(999, 32, name), v::kResultFalse);
    EXPECT_EQ(u->getProgramName(999, -1, name), v::kResultFalse);
    EXPECT_EQ(u->getProgramName(998, 0, name), v::kResultFalse);
    EXPECT_EQ(u->getProgramInfo(999, 0, "x", name), v::kNotImplemented);
    EXPECT_EQ(u->hasProgramPitchNames(999, 0), v::kResultFalse);
    EXPECT_EQ(u->getSelectedUnit(), 0);
    EXPECT_EQ(u->selectUnit(0), v::kResultOk);
    EXPECT_EQ(u->selectUnit(1), v::kResultFalse);
    v::UnitID id = 7;
    EXPECT_EQ(u->getUnitByBus(v::kAudio, v::kInput, 0, 0, id), v::kResultOk);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(u->setUnitProgramData(999, 0, nullptr), v::kNotImplemented);

    ASSERT_NE(plugin->controller2, nullptr);
    EXPECT_EQ(plugin->controller2->setKnobMode(v::kLinearMode), v::kResultOk);
    EXPECT_EQ(plugin->controller2->setKnobMode(v::kCircularMode), v::kResultFalse);
    EXPECT_EQ(plugin->controller2->openHelp(0), v::kResultFalse);
    EXPECT_EQ(plugin->controller2->openAboutBox(0), v::kResultFalse);
}

TEST_F(Vst3Controller, EditorViewForThisPlatformOnly) {
    v::IEditController* c = plugin->controller;
    EXPECT_EQ(c->createView("other"), nullptr);
    EXPECT_EQ(c->createView(nullptr), nullptr);
    v::IPlugView* view = c->createView("editor");
    ASSERT_NE(view, nullptr);
#if defined(_WIN32)
    EXPECT_EQ(view->isPlatformTypeSupported("HWND"), v::kResultOk);
    EXPECT_EQ(view->isPlatformTypeSupported("X11EmbedWindowID"), v::kResultFalse);
#else
    EXPECT_EQ(view->isPlatformTypeSupported("X11EmbedWindowID"), v::kResultOk);
    EXPECT_EQ(view->isPlatformTypeSupported("HWND"), v::kResultFalse);
#endif
    EXPECT_EQ(view->isPlatformTypeSupported("NSView"), v::kResultFalse);
    EXPECT_EQ(view->attached(nullptr, "NSView"), v::kResultFalse);
    v::ViewRect rect{1, 2, 3, 4};
    ASSERT_EQ(view->getSize(&rect), v::kResultOk);
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(rect.right, 240);
    EXPECT_EQ(rect.bottom, 120);
    EXPECT_EQ(view->canResize(), v::kResultTrue);  // every editor of the framework scales
    EXPECT_EQ(view->onSize(&rect), v::kResultOk);
    EXPECT_EQ(view->setFrame(nullptr), v::kResultOk);
    EXPECT_EQ(view->onWheel(1.0f), v::kResultFalse);
    void* face = nullptr;
    ASSERT_EQ(view->queryInterface(v::iidIPlugView.data(), &face), v::kResultOk);
    EXPECT_EQ(face, view);
    EXPECT_EQ(view->release(), 1u);
    EXPECT_EQ(view->release(), 0u);
}

TEST_F(Vst3Controller, HostObjectsAreGivenBack) {
    HostApplication namedHost("a host with a long name");
    namedHost.setUnterminated(true);
    ComponentHandler otherHandler;
    {
        auto second = module->instance(&namedHost);
        EXPECT_EQ(second->initializeResult, v::kResultOk);
        EXPECT_EQ(namedHost.refCount(), 2);
        ASSERT_EQ(second->controller->setComponentHandler(&otherHandler), v::kResultOk);
        ASSERT_EQ(second->controller->setComponentHandler(&otherHandler), v::kResultOk);
        EXPECT_EQ(otherHandler.refCount(), 2);
    }
    EXPECT_EQ(namedHost.refCount(), 1);
    EXPECT_EQ(otherHandler.refCount(), 1);
}

// ---- State ----------------------------------------------------------------------------------------

class Vst3State : public TestModule {
protected:
    std::vector<std::uint8_t> saved() {
        MemoryStream stream;
        EXPECT_EQ(plugin->getState(stream), v::kResultOk);
        return stream.bytes();
    }
};

TEST_F(Vst3State, RoundTripReproducesBypassPresetAndParameters) {
    v::IEditController* c = plugin->controller;
    c->setParamNormalized(kProgram, 5.0 / 31.0 + 0.001);
    c->setParamNormalized(kLevel, 0.8);
    c->setParamNormalized(kMode, 1.0);
    c->setParamNormalized(kBypass, 1.0);
    MemoryStream stream(saved());
    const auto& bytes = stream.bytes();
    ASSERT_EQ(bytes.size(), 2u + 24u + 4u * 3u);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[1], 1);
    EXPECT_EQ(bytes[2], 0x0B);
    EXPECT_EQ(bytes[3], 0x20);
    EXPECT_EQ(bytes[4], 0xBA);
    EXPECT_EQ(bytes[5], 0x92);

    auto fresh = module->instance(&host);
    ASSERT_EQ(fresh->setState(stream), v::kResultOk);
    v::IEditController* f = fresh->controller;
    EXPECT_DOUBLE_EQ(f->getParamNormalized(kBypass), 1.0);
    EXPECT_DOUBLE_EQ(f->getParamNormalized(kProgram), 5.0 / 31.0);
    EXPECT_DOUBLE_EQ(f->getParamNormalized(kLevel), static_cast<double>(0.8f));
    EXPECT_DOUBLE_EQ(f->getParamNormalized(kMode), 1.0);
    EXPECT_DOUBLE_EQ(f->getParamNormalized(kInvert), 0.0);
}

TEST_F(Vst3State, DamagedStatesAreRefused) {
    v::IEditController* c = plugin->controller;
    MemoryStream good(saved());

    MemoryStream wrongVersion(good.bytes());
    wrongVersion.bytes()[0] = 1;
    wrongVersion.bytes()[1] = 1;
    EXPECT_EQ(plugin->setState(wrongVersion), v::kResultFalse);
    EXPECT_DOUBLE_EQ(c->getParamNormalized(kBypass), 0.0);  // nothing changed

    // A correct header with a damaged chunk: refused, and the bypass byte is not applied either.
    MemoryStream badMagic(good.bytes());
    badMagic.bytes()[1] = 1;
    badMagic.bytes()[2] = 0x0C;
    EXPECT_EQ(plugin->setState(badMagic), v::kResultFalse);
    EXPECT_DOUBLE_EQ(c->getParamNormalized(kBypass), 0.0);

    // Cut inside the second value: refused, nothing applied.
    c->setParamNormalized(kLevel, 0.1);
    MemoryStream withLevel(saved());
    c->setParamNormalized(kLevel, 0.9);
    c->setParamNormalized(kMode, 1.0);
    withLevel.bytes().resize(2 + 24 + 4 + 2);
    EXPECT_EQ(plugin->setState(withLevel), v::kResultFalse);
    EXPECT_DOUBLE_EQ(c->getParamNormalized(kLevel), 0.9);
    EXPECT_DOUBLE_EQ(c->getParamNormalized(kMode), 1.0);

    MemoryStream empty;
    EXPECT_EQ(plugin->setState(empty), v::kResultFalse);
    MemoryStream headerOnly(std::vector<std::uint8_t>{0, 0});
    EXPECT_EQ(plugin->setState(headerOnly), v::kResultFalse);
    EXPECT_EQ(plugin->component->setState(nullptr), v::kInvalidArgument);
    EXPECT_EQ(plugin->component->getState(nullptr), v::kInvalidArgument);
}

TEST_F(Vst3State, ImplausibleLengthsAndFailingStreams) {
    MemoryStream good(saved());
    // The state is read to the stream's end, whatever its seek says about where that is.
    MemoryStream huge(good.bytes());
    huge.setClaimedEnd(std::int64_t{1} << 40);
    EXPECT_EQ(plugin->setState(huge), v::kResultOk);
    MemoryStream backwards(good.bytes());
    backwards.setClaimedEnd(1);
    EXPECT_EQ(plugin->setState(backwards), v::kResultOk);
    // A stream longer than any state is refused once it passes 1 MiB.
    std::vector<std::uint8_t> endless(good.bytes());
    endless.resize((std::size_t{1} << 20) + 100, 0);
    MemoryStream tooLong(endless);
    EXPECT_EQ(plugin->setState(tooLong), v::kResultFalse);

    // A read that fails ends the stream: what came before it is a cut state, refused.
    MemoryStream failingRead(good.bytes());
    failingRead.setBytesPerRead(16);
    failingRead.setFailReadsAfter(2);
    EXPECT_EQ(plugin->setState(failingRead), v::kResultFalse);
    MemoryStream failingHeader(good.bytes());
    failingHeader.setFailReadsAfter(0);
    EXPECT_EQ(plugin->setState(failingHeader), v::kResultFalse);

    // 38 bytes in writes of at most 8: the 2-byte header, then 8, 8, 8, 8 and 4 bytes of chunk.
    for (int okWrites = 0; okWrites <= 6; ++okWrites) {
        MemoryStream failingWrite;
        failingWrite.setBytesPerWrite(8);
        failingWrite.setFailWritesAfter(okWrites);
        EXPECT_EQ(plugin->getState(failingWrite), okWrites < 6 ? v::kResultFalse : v::kResultOk) << okWrites;
    }
    // The same good state still loads, and the plug-in gave the streams back.
    EXPECT_EQ(plugin->setState(good), v::kResultOk);
    EXPECT_EQ(good.refCount(), 1);
}

}  // namespace
}  // namespace vst3it
