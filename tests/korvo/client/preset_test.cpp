#include "korvo/client/preset.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "tests/korvo/client/test_client.h"

using namespace korvo;
using korvo::test::TestClient;

namespace {

// Chunk builder for the reader tests.
struct ChunkBytes {
    std::vector<std::uint8_t> bytes;
    ChunkBytes& be32(std::uint32_t v) {
        for (int s = 24; s >= 0; s -= 8) bytes.push_back(static_cast<std::uint8_t>(v >> s));
        return *this;
    }
    ChunkBytes& le32(std::uint32_t v) {
        for (int s = 0; s < 32; s += 8) bytes.push_back(static_cast<std::uint8_t>(v >> s));
        return *this;
    }
    ChunkBytes& f32(float f) {
        std::uint32_t u;
        std::memcpy(&u, &f, 4);
        return le32(u);
    }
    // magic, version, reserved, plug-in version, preset index, count
    static ChunkBytes header(std::uint32_t version, std::int32_t preset, std::int32_t count) {
        ChunkBytes c;
        c.be32(kStateChunkMagic).le32(version).le32(0).le32(0x00010400);
        c.le32(static_cast<std::uint32_t>(preset)).le32(static_cast<std::uint32_t>(count));
        return c;
    }
};

std::vector<double> normalizedValues(const Client& client) {
    std::vector<double> v;
    for (std::int32_t i = 0; i < client.parameterCount(); ++i)
        v.push_back(client.parameter(i).getNormalized());
    return v;
}

}  // namespace

TEST(PresetBank, DefaultPresetHoldsEveryDefault) {
    TestClient client;
    const Preset& d = client.presetBank().preset(0);
    EXPECT_EQ(d.name, "Default");
    ASSERT_EQ(d.normalizedValues.length(), static_cast<std::size_t>(client.parameterCount()));
    for (std::int32_t i = 0; i < client.parameterCount(); ++i)
        EXPECT_EQ(d.normalizedValues[static_cast<std::size_t>(i)],
                  static_cast<float>(client.parameter(i).getNormalizedDefault()));
    EXPECT_EQ(client.presetBank().presetName(3), "Full B");
}

TEST(PresetBank, SwitchingAwayAndBackKeepsEdits) {
    TestClient client;
    PresetBank& bank = client.presetBank();
    bank.selectPresetFromHost(2);
    EXPECT_EQ(bank.current(), 2);
    EXPECT_FLOAT_EQ(static_cast<float>(client.parameter(test::kPan).getNormalized()), 0.1f);
    client.setParameterFromHost(test::kPan, 0.8f);
    bank.selectPresetFromHost(3);
    EXPECT_FLOAT_EQ(static_cast<float>(client.parameter(test::kPan).getNormalized()), 0.9f);
    bank.selectPresetFromHost(2);
    EXPECT_FLOAT_EQ(static_cast<float>(client.parameter(test::kPan).getNormalized()), 0.8f);
    EXPECT_FLOAT_EQ(bank.preset(2).normalizedValues[test::kPan], 0.8f);
}

TEST(PresetBank, ShortPresetUsesDefaultsAndIsNeverWrittenPastItsEnd) {
    TestClient client;
    PresetBank& bank = client.presetBank();
    bank.selectPresetFromHost(3);  // every parameter away from its default
    bank.selectPresetFromHost(1);  // "Short": two values
    EXPECT_EQ(client.parameter(test::kBypass).getNormalized(), 1.0);
    EXPECT_EQ(client.parameter(test::kMode).getNormalized(), 0.0);
    for (std::int32_t i = 2; i < client.parameterCount(); ++i)
        EXPECT_EQ(client.parameter(i).getNormalized(), client.parameter(i).getNormalizedDefault()) << i;

    client.setParameterFromHost(test::kMode, 1.0f);
    client.setParameterFromHost(test::kAmount, 1.0f);
    bank.storeCurrentIntoPreset();  // ASan catches a write past the two values
    EXPECT_EQ(bank.preset(1).normalizedValues.length(), 2u);
    EXPECT_EQ(bank.preset(1).normalizedValues[1], 1.0f);
}

TEST(PresetBank, OutOfRangeProgramChangeIsIgnored) {
    TestClient client;
    client.presetBank().selectPresetFromHost(2);
    const auto before = normalizedValues(client);
    client.presetBank().selectPresetFromHost(4);
    client.presetBank().selectPresetFromHost(-1);
    EXPECT_EQ(client.presetBank().current(), 2);
    EXPECT_EQ(normalizedValues(client), before);
}

TEST(StateChunk, WrittenLayoutIsExact) {
    TestClient client;
    client.presetBank().selectPresetFromHost(2);
    const Vec<std::uint8_t> chunk = client.presetBank().writeStateChunk();
    ASSERT_EQ(chunk.length(), 24u + 4u * test::kParamCount);
    const std::uint8_t header[24] = {0x0B, 0x20, 0xBA, 0x92, 0, 0, 0, 0, 0, 0, 0, 0,
                                     0x00, 0x04, 0x01, 0x00, 2, 0, 0, 0, 7, 0, 0, 0};
    EXPECT_EQ(std::memcmp(chunk.data(), header, 24), 0);
    // Value 1 (Mode 0.25f) as a little-endian float32.
    const std::uint8_t quarter[4] = {0x00, 0x00, 0x80, 0x3E};
    EXPECT_EQ(std::memcmp(chunk.data() + 28, quarter, 4), 0);
}

TEST(StateChunk, RoundTripRestoresPresetIndexAndValues) {
    TestClient source;
    source.presetBank().selectPresetFromHost(3);
    source.setParameterFromHost(test::kCutoff, 0.123f);
    const Vec<std::uint8_t> chunk = source.presetBank().writeStateChunk();

    TestClient target;
    const ChunkResult r = target.presetBank().readStateChunk(chunk.view());
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.message, nullptr);
    EXPECT_EQ(target.presetBank().current(), 3);
    for (std::int32_t i = 0; i < source.parameterCount(); ++i)
        EXPECT_FLOAT_EQ(static_cast<float>(target.parameter(i).getNormalized()),
                        static_cast<float>(source.parameter(i).getNormalized()))
            << i;
}

TEST(StateChunk, FailuresCarryTheirExactMessages) {
    TestClient client;
    PresetBank& bank = client.presetBank();
    EXPECT_STREQ(bank.readStateChunk(nullptr, 0).message, "Expected a byte, but found end of input");
    const std::uint8_t three[3] = {0x0B, 0x20, 0xBA};
    EXPECT_STREQ(bank.readStateChunk(three, 3).message, "Expected a byte, but found end of input");

    ChunkBytes badMagic = ChunkBytes::header(0, 0, 0);
    badMagic.bytes[3] = 0x93;
    EXPECT_STREQ(bank.readStateChunk(badMagic.bytes).message, "Can not load, magic number didn't match");
    ChunkBytes littleMagic;
    littleMagic.le32(kStateChunkMagic);
    EXPECT_STREQ(bank.readStateChunk(littleMagic.bytes).message, "Can not load, magic number didn't match");

    const ChunkResult newer = bank.readStateChunk(ChunkBytes::header(1, 0, 0).bytes);
    EXPECT_FALSE(newer.ok);
    EXPECT_STREQ(newer.message, "Can not load chunk done with a newer, incompatible korvo library");
    EXPECT_TRUE(bank.readStateChunk(ChunkBytes::header(0xFFFFFFFFu, 1, 0).bytes).ok) << "version -1 loads";
    EXPECT_EQ(bank.current(), 1);

    for (std::int32_t index : {4, -1, 1 << 30}) {
        const ChunkResult r = bank.readStateChunk(ChunkBytes::header(0, index, 0).bytes);
        EXPECT_STREQ(r.message, "Invalid preset index in state chunk") << index;
    }
    EXPECT_EQ(bank.current(), 1);

    ChunkBytes noCount = ChunkBytes::header(0, 2, 0);
    noCount.bytes.resize(22);
    EXPECT_STREQ(bank.readStateChunk(noCount.bytes).message, "Expected a byte, but found end of input");
    EXPECT_EQ(bank.current(), 1) << "a failed chunk applies nothing";
}

TEST(StateChunk, HeaderOnlyChunkSetsTheIndexAndNoValue) {
    TestClient client;
    const auto before = normalizedValues(client);
    for (std::int32_t n : {0, -3}) {
        const ChunkBytes c = ChunkBytes::header(0, 3, n);
        ASSERT_EQ(c.bytes.size(), 24u);
        EXPECT_TRUE(client.presetBank().readStateChunk(c.bytes).ok);
        EXPECT_EQ(client.presetBank().current(), 3);
        EXPECT_EQ(normalizedValues(client), before);
    }
}

// A chunk is checked whole before anything is applied: cut anywhere (here inside the fourth
// value, and at every length of a real chunk), it fails and leaves index and values as they were.
TEST(StateChunk, CutChunksChangeNothing) {
    TestClient client;
    ChunkBytes c = ChunkBytes::header(0, 2, test::kParamCount);
    c.f32(1.0f).f32(1.0f).f32(1.0f).f32(0.0f);
    c.bytes.resize(c.bytes.size() - 2);
    const auto before = normalizedValues(client);
    const ChunkResult r = client.presetBank().readStateChunk(c.bytes);
    EXPECT_STREQ(r.message, "Expected a byte, but found end of input");
    EXPECT_EQ(client.presetBank().current(), 0);
    EXPECT_EQ(normalizedValues(client), before);

    TestClient source;
    source.presetBank().selectPresetFromHost(3);
    for (std::int32_t i = 0; i < source.parameterCount(); ++i)
        source.parameter(i).setNormalizedFromHost(0.25);
    const Vec<std::uint8_t> full = source.presetBank().writeStateChunk();
    for (std::size_t length = 0; length < full.size(); ++length) {
        std::vector<std::uint8_t> cut(full.data(), full.data() + length);
        EXPECT_FALSE(client.presetBank().readStateChunk(cut.data(), cut.size()).ok) << length;
        ASSERT_EQ(client.presetBank().current(), 0) << length;
        ASSERT_EQ(normalizedValues(client), before) << length;
    }
    EXPECT_TRUE(client.presetBank().readStateChunk(full.data(), full.size()).ok);
    EXPECT_EQ(client.presetBank().current(), 3);
}

TEST(StateChunk, ValueCountMayDifferFromTheParameterCount) {
    TestClient client;
    ChunkBytes more = ChunkBytes::header(0, 0, test::kParamCount + 3);
    for (int i = 0; i < test::kParamCount + 3; ++i) more.f32(1.0f);
    more.le32(0xDEADBEEF);  // trailing bytes are ignored
    EXPECT_TRUE(client.presetBank().readStateChunk(more.bytes).ok);
    for (std::int32_t i = 0; i < client.parameterCount(); ++i)
        EXPECT_NEAR(client.parameter(i).getNormalized(), 1.0, 1e-12) << i;

    ChunkBytes fewer = ChunkBytes::header(0, 0, 2);
    fewer.f32(0.0f).f32(0.0f);
    EXPECT_TRUE(client.presetBank().readStateChunk(fewer.bytes).ok);
    EXPECT_EQ(client.parameter(0).getNormalized(), 0.0);
    EXPECT_EQ(client.parameter(1).getNormalized(), 0.0);
    EXPECT_NEAR(client.parameter(test::kPan).getNormalized(), 1.0, 1e-12);

    ChunkBytes huge = ChunkBytes::header(0, 0, 0x7FFFFFFF);
    huge.f32(0.5f);
    EXPECT_STREQ(client.presetBank().readStateChunk(huge.bytes).message,
                 "Expected a byte, but found end of input");
}

TEST(StateChunk, NonFiniteValuesAreHandledSafely) {
    TestClient client;
    ChunkBytes c = ChunkBytes::header(0, 0, 4);
    c.f32(std::numeric_limits<float>::quiet_NaN()).f32(std::numeric_limits<float>::infinity());
    c.f32(-std::numeric_limits<float>::infinity()).f32(std::numeric_limits<float>::quiet_NaN());
    const double bypassBefore = client.parameter(test::kBypass).getNormalized();
    const double panBefore = client.parameter(test::kPan).getNormalized();
    EXPECT_TRUE(client.presetBank().readStateChunk(c.bytes).ok);
    EXPECT_EQ(client.parameter(test::kBypass).getNormalized(), bypassBefore) << "NaN leaves the value";
    EXPECT_EQ(client.parameter(test::kMode).getNormalized(), 1.0);
    EXPECT_EQ(client.parameter(test::kShape).getNormalized(), 0.0);
    EXPECT_EQ(client.parameter(test::kPan).getNormalized(), panBefore);
}

TEST(StateChunk, FuzzedChunksNeverBreakTheBank) {
    TestClient client;
    const Vec<std::uint8_t> valid = client.presetBank().writeStateChunk();
    const char* const messages[] = {kChunkEndOfInput, kChunkBadMagic, kChunkNewerVersion,
                                    kChunkBadPresetIndex};
    std::mt19937 rng(1234);
    std::vector<std::uint8_t> bytes;
    int loaded = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int iteration = 0; iteration < 4000; ++iteration) {
        if (iteration % 2 == 0) {  // random bytes, sometimes with a valid magic
            bytes.resize(rng() % 80);
            for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
            if (bytes.size() >= 4 && rng() % 2) std::memcpy(bytes.data(), valid.data(), 4);
        } else {  // a valid chunk with a few bytes changed, then maybe cut
            bytes.assign(valid.begin(), valid.end());
            for (unsigned k = rng() % 4; k > 0; --k)
                bytes[rng() % bytes.size()] = static_cast<std::uint8_t>(rng());
            if (rng() % 3 == 0) bytes.resize(rng() % (bytes.size() + 1));
        }
        // Exact-size heap copy so ASan sees any read past the end.
        std::vector<std::uint8_t> exact(bytes);
        const ChunkResult r = client.presetBank().readStateChunk(exact.data(), exact.size());
        if (r.ok) {
            ++loaded;
            EXPECT_EQ(r.message, nullptr);
        } else {
            bool known = false;
            for (const char* m : messages) known = known || r.message == m;
            ASSERT_TRUE(known) << r.message;
        }
        ASSERT_GE(client.presetBank().current(), 0);
        ASSERT_LT(client.presetBank().current(), client.presetBank().count());
        for (std::int32_t i = 0; i < client.parameterCount(); ++i) {
            const double n = client.parameter(i).getNormalized();
            ASSERT_TRUE(n >= 0.0 && n <= 1.0) << i;
        }
    }
    EXPECT_GT(loaded, 100);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}
