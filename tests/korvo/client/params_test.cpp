#include "korvo/client/params.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cmath>
#include <limits>
#include <string>
#include <thread>

#include "tests/korvo/client/test_client.h"

using namespace korvo;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::string formatNormalized(const Parameter& p, double n) {
    char buffer[64];
    p.formatNormalized(n, buffer, sizeof buffer);
    return buffer;
}

std::string formatValue(const Parameter& p) {
    char buffer[64];
    p.formatValue(buffer, sizeof buffer);
    return buffer;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

struct CountingListener : IParameterListener {
    void onParameterChanged(Parameter&) noexcept override { changed.fetch_add(1); }
    void onBeginParameterEdit(Parameter&) noexcept override { ++begins; }
    void onEndParameterEdit(Parameter&) noexcept override { ++ends; }
    std::atomic<int> changed{0};
    int begins = 0, ends = 0;
};

}  // namespace

TEST(BoolParameter, ThresholdTextAndParsing) {
    BoolParameter p(0, "Bypass", false);
    p.setNormalized(0.49);
    EXPECT_FALSE(p.value());
    p.setNormalized(0.5);
    EXPECT_TRUE(p.value());
    EXPECT_EQ(p.getNormalized(), 1.0);
    EXPECT_EQ(p.getNormalizedDefault(), 0.0);
    EXPECT_EQ(formatValue(p), "yes");
    EXPECT_EQ(formatNormalized(p, 0.2), "no");
    EXPECT_EQ(p.parseToNormalized("yes").normalized, 1.0);
    EXPECT_EQ(p.parseToNormalized("no").normalized, 0.0);
    const ParseResult bad = p.parseToNormalized("Yes");
    EXPECT_FALSE(bad.ok);
    EXPECT_TRUE(std::isnan(bad.normalized));
    EXPECT_FALSE(p.parseToNormalized("yes ").ok);
    EXPECT_TRUE(p.isStepped());
    EXPECT_EQ(p.label(), "");
}

TEST(IntegerParameter, RoundsHalfAwayFromZeroAndClamps) {
    IntegerParameter p(0, "Mode", "", 0, 4, 9);
    EXPECT_EQ(p.defaultValue(), 4) << "default clamped into range";
    p.setNormalized(0.625);  // 2.5
    EXPECT_EQ(p.value(), 3);
    EXPECT_EQ(formatNormalized(p, 1.2), "4");
    p.setNormalized(0.25);
    EXPECT_EQ(p.getNormalized(), 0.25);
    EXPECT_EQ(formatValue(p), "1");

    IntegerParameter neg(0, "Offset", "st", -4, 4, 0);
    neg.setNormalized(0.1875);  // -2.5 rounds to -3
    EXPECT_EQ(neg.value(), -3);
    EXPECT_EQ(neg.fromNormalized(-3.0), -4);
}

TEST(IntegerParameter, ParsingLengthLimitAndSingleConversion) {
    IntegerParameter p(0, "Mode", "", 0, 4, 0);
    EXPECT_EQ(p.parseToNormalized("3").normalized, 0.75);
    EXPECT_EQ(p.parseToNormalized("  2 steps").normalized, 0.5);
    EXPECT_EQ(p.parseToNormalized("-7").normalized, 0.0);
    EXPECT_FALSE(p.parseToNormalized("three").ok);
    EXPECT_FALSE(p.parseToNormalized("").ok);

    const std::string accepted = std::string(62, ' ') + "1";
    const std::string refused = std::string(63, ' ') + "1";
    EXPECT_TRUE(p.parseToNormalized(accepted).ok);
    EXPECT_FALSE(p.parseToNormalized(refused).ok);
    // Overflowing numbers saturate instead of being undefined.
    EXPECT_EQ(p.parseToNormalized("99999999999999999999999").normalized, 1.0);
    EXPECT_EQ(p.parseToNormalized("-99999999999999999999999").normalized, 0.0);
}

TEST(EnumParameter, TextIsExactAndCaseSensitive) {
    EnumParameter p(0, "Shape", {"Sine", "Square", "Saw"}, 0);
    EXPECT_EQ(p.maxValue(), 2);
    EXPECT_EQ(p.parseToNormalized("Square").normalized, 0.5);
    EXPECT_FALSE(p.parseToNormalized("square").ok);
    EXPECT_FALSE(p.parseToNormalized("Squar").ok);
    EXPECT_EQ(formatNormalized(p, 1.0), "Saw");
    p.setNormalized(0.5);
    EXPECT_EQ(formatValue(p), "Square");
    char tiny[4];
    p.formatValue(tiny, sizeof tiny);
    EXPECT_STREQ(tiny, "Squ");
    char untouched = 'x';
    p.formatValue(&untouched, 0);
    EXPECT_EQ(untouched, 'x');

    EnumParameter single(0, "Only", {"One"}, 0);
    EXPECT_EQ(single.getNormalized(), 0.0) << "a one-value range maps to 0, not NaN";
    EXPECT_EQ(single.parseToNormalized("One").normalized, 0.0);
}

TEST(FloatParameters, MappingsAtTheirCharacteristicPoints) {
    LinearFloatParameter lin(0, "Pan", "", -1.0f, 1.0f, 0.2f);
    EXPECT_EQ(lin.defaultValue(), 0.20000000298023224) << "float default widened";
    EXPECT_EQ(lin.toNormalized(0.0), 0.5);
    EXPECT_EQ(lin.fromNormalized(1.5), 1.0);

    LogFloatParameter log(0, "Cutoff", "Hz", 20.0f, 20000.0f, 1000.0f);
    EXPECT_NEAR(log.fromNormalized(0.5), 632.4555320336759, 1e-9);
    EXPECT_EQ(log.toNormalized(10.0), 0.0);
    EXPECT_NEAR(log.toNormalized(log.fromNormalized(0.3)), 0.3, 1e-12);

    GainParameter gain(0, "Output", 6.0, 0.0);
    EXPECT_EQ(gain.label(), "dB");
    EXPECT_NEAR(gain.fromNormalized(1.0), 6.0, 1e-12);
    EXPECT_EQ(gain.fromNormalized(0.0), -kInf);
    EXPECT_NEAR(gain.fromNormalized(0.5), 6.0 - 12.041199826559248, 1e-9);
    EXPECT_EQ(gain.toNormalized(-kInf), 0.0);
    EXPECT_NEAR(gain.toNormalized(6.0), 1.0, 1e-12);
    EXPECT_NE(lower(formatNormalized(gain, 0.0)).find("inf"), std::string::npos);
    EXPECT_EQ(formatNormalized(gain, 1.0), "6.0");

    PowFloatParameter pw(0, "Amount", "%", 0.0, 100.0, 50.0, 2.0);
    EXPECT_EQ(pw.fromNormalized(0.5), 25.0);
    EXPECT_EQ(pw.toNormalized(25.0), 0.5);
    EXPECT_FALSE(pw.isStepped());
    EXPECT_EQ(formatNormalized(pw, 0.5), "25.00");
}

TEST(FloatParameters, ParsingUsesAFloatAndTheLengthLimit) {
    LinearFloatParameter p(0, "Pan", "", -1.0f, 1.0f, 0.0f);
    EXPECT_EQ(p.parseToNormalized("0.5").normalized, 0.75);
    EXPECT_EQ(p.parseToNormalized("0.1").normalized, (static_cast<double>(0.1f) + 1.0) / 2.0);
    EXPECT_FALSE(p.parseToNormalized("left").ok);
    EXPECT_TRUE(p.parseToNormalized(std::string(62, ' ') + "1").ok);
    EXPECT_FALSE(p.parseToNormalized(std::string(63, ' ') + "1").ok);
    EXPECT_EQ(p.parseToNormalized("1e300").normalized, 1.0);  // overflows the float to infinity
    const ParseResult nan = p.parseToNormalized("nan");
    EXPECT_TRUE(nan.ok);
    EXPECT_EQ(nan.normalized, 0.0);
}

TEST(ParameterNonFinite, NaNNeverChangesAValueAndInfinityClamps) {
    test::TestClient client;
    for (std::int32_t i = 0; i < client.parameterCount(); ++i) {
        Parameter& p = client.parameter(i);
        p.setNormalized(0.75);
        const double before = p.getNormalized();
        const std::string text = formatValue(p);
        p.setNormalizedFromHost(kNaN);
        p.setFromEditorNormalized(kNaN);
        EXPECT_EQ(p.getNormalized(), before) << p.name();
        EXPECT_EQ(formatNormalized(p, kNaN), text) << p.name();

        p.setNormalized(kInf);
        EXPECT_NEAR(p.getNormalized(), 1.0, 1e-12) << p.name();
        p.setNormalized(1e300);
        EXPECT_NEAR(p.getNormalized(), 1.0, 1e-12) << p.name();
        p.setNormalized(-kInf);
        EXPECT_EQ(p.getNormalized(), 0.0) << p.name();
        p.setNormalized(-1e300);
        EXPECT_EQ(p.getNormalized(), 0.0) << p.name();
        formatNormalized(p, kInf);
        formatNormalized(p, -1e308);
    }
    auto& log = static_cast<LogFloatParameter&>(client.parameter(test::kCutoff));
    log.setNormalized(5.0);
    EXPECT_NEAR(log.value(), 20000.0, 1e-9) << "unclamped mapping fed a clamped input";
    auto& gain = static_cast<GainParameter&>(client.parameter(test::kOutput));
    gain.setFromEditor(kInf);
    EXPECT_EQ(gain.value(), 6.0);
    gain.setFromEditor(kNaN);
    EXPECT_EQ(gain.value(), 6.0);
    auto& mode = static_cast<IntegerParameter&>(client.parameter(test::kMode));
    EXPECT_EQ(mode.fromNormalized(kNaN), 0);
    EXPECT_EQ(mode.fromNormalized(-kInf), 0);
    EXPECT_EQ(mode.fromNormalized(kInf), 4);
}

TEST(ParameterEditor, SetFromEditorClampsReportsAndNotifies) {
    test::TestClient client;
    test::RecordingHostCommand host;
    client.setHostCommand(&host);
    auto& pan = static_cast<LinearFloatParameter&>(client.parameter(test::kPan));
    CountingListener listener;
    pan.addListener(&listener);

    pan.beginEdit();
    pan.setFromEditor(3.0);
    pan.setFromEditorNormalized(0.25);
    pan.endEdit();

    EXPECT_EQ(pan.value(), -0.5);
    ASSERT_EQ(host.events.size(), 4u);
    EXPECT_EQ(host.events[0].kind, 'b');
    EXPECT_EQ(host.events[1].kind, 'a');
    EXPECT_EQ(host.events[1].value, 1.0f) << "clamped to max before reporting";
    EXPECT_EQ(host.events[2].value, 0.25f);
    EXPECT_EQ(host.events[3].kind, 'e');
    for (const auto& e : host.events) EXPECT_EQ(e.index, test::kPan);
    EXPECT_EQ(listener.changed.load(), 2);
    EXPECT_EQ(listener.begins, 1);
    EXPECT_EQ(listener.ends, 1);

    auto& mode = static_cast<IntegerParameter&>(client.parameter(test::kMode));
    mode.setFromEditorNormalized(0.625);  // drag: rounds like the host path
    EXPECT_EQ(mode.value(), 3);
    mode.setFromEditor(-8);
    EXPECT_EQ(mode.value(), 0);
    pan.removeListener(&listener);

    auto& cutoff = static_cast<LogFloatParameter&>(client.parameter(test::kCutoff));
    cutoff.setFromEditor(50.0);
    host.events.clear();
    cutoff.resetToDefaultFromEditor();
    EXPECT_EQ(cutoff.value(), 1000.0) << "the default itself, not a round trip through normalized";
    ASSERT_EQ(host.events.size(), 3u);
    EXPECT_EQ(host.events[0].kind, 'b');
    EXPECT_EQ(host.events[1].kind, 'a');
    EXPECT_EQ(host.events[2].kind, 'e');
}

TEST(ParameterEditor, WorksBeforeTheAdapterSetsAHostCommand) {
    test::TestClient client;
    auto& bypass = static_cast<BoolParameter&>(client.parameter(test::kBypass));
    bypass.beginEdit();
    bypass.setFromEditor(true);
    bypass.endEdit();
    EXPECT_TRUE(bypass.value());
}

TEST(ParameterListeners, RemovalMovesTheLastIntoThePlace) {
    struct Ordered : IParameterListener {
        Ordered(std::string* into, char name) : log(into), id(name) {}
        void onParameterChanged(Parameter&) noexcept override { log->push_back(id); }
        void onBeginParameterEdit(Parameter&) noexcept override {}
        void onEndParameterEdit(Parameter&) noexcept override {}
        std::string* log;
        char id;
    };
    std::string log;
    log.reserve(16);
    Ordered a(&log, '1'), b(&log, '2'), c(&log, '3');
    BoolParameter p(0, "Bypass", false);
    p.addListener(&a);
    p.addListener(&b);
    p.addListener(&c);
    p.setNormalizedFromHost(1.0);
    EXPECT_EQ(log, "123");
    log.clear();
    p.removeListener(&a);
    p.removeListener(&a);  // absent: nothing
    p.setNormalizedFromHost(0.0);
    EXPECT_EQ(log, "32");
}

TEST(ParameterListeners, RegistrationAndNotificationRunOnTwoThreads) {
    // Registration on one thread, notification on another. A listener is never called after
    // removeListener returned, and notification never waits.
    struct Guarded : IParameterListener {
        void onParameterChanged(Parameter&) noexcept override {
            if (!registered.load()) lateCalls.fetch_add(1);
            calls.fetch_add(1);
        }
        void onBeginParameterEdit(Parameter&) noexcept override {}
        void onEndParameterEdit(Parameter&) noexcept override {}
        std::atomic<bool> registered{false};
        std::atomic<int> lateCalls{0}, calls{0};
    };
    LinearFloatParameter p(0, "Pan", "", -1.0f, 1.0f, 0.0f);
    Guarded stable, churn[3];
    stable.registered = true;
    p.addListener(&stable);

    std::atomic<bool> stop{false};
    std::atomic<int> notifications{0};
    std::thread audio([&] {
        double n = 0.0;
        while (!stop.load()) {
            p.setNormalizedFromHost(n);
            n = n > 0.9 ? 0.0 : n + 0.01;
            notifications.fetch_add(1);
        }
    });
    for (int round = 0; round < 3000; ++round) {
        for (Guarded& g : churn) {
            g.registered = true;
            p.addListener(&g);
        }
        for (Guarded& g : churn) {
            p.removeListener(&g);
            g.registered = false;
        }
    }
    // With registration over, the next notifications all reach the stable listener.
    const int settled = notifications.load() + 2;
    while (notifications.load() < settled + 100) std::this_thread::yield();
    stop = true;
    audio.join();

    for (Guarded& g : churn) EXPECT_EQ(g.lateCalls.load(), 0);
    EXPECT_GE(stable.calls.load(), 100);
    EXPECT_LE(stable.calls.load(), notifications.load());
}
