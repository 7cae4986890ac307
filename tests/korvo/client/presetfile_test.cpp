// Preset files: the layout hosts read, the reader's refusals, safe names and safe writes.
#include "korvo/client/presetfile.h"

#include "korvo/client/hostprocessor.h"
#include "tests/korvo/client/test_client.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace korvo {
namespace {

constexpr char kId[] = "0B20BA920CE0B1457972735437317640";

std::uint64_t le(const std::vector<std::uint8_t>& b, std::size_t at, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | b[at + static_cast<std::size_t>(i)];
    return v;
}

TEST(PresetFile, TheLayoutIsTheOneHostsReadAndReadsBack) {
    const std::vector<std::uint8_t> component = {1, 2, 3, 4, 5}, controller = {'K', 'Z'};
    const std::vector<std::uint8_t> file = writePresetFile(kId, component, controller);
    ASSERT_EQ(file.size(), 48u + 7u + 8u + 2u * 20u);
    EXPECT_EQ(std::memcmp(file.data(), "VST3", 4), 0);
    EXPECT_EQ(le(file, 4, 4), 1u);
    EXPECT_EQ(std::memcmp(file.data() + 8, kId, 32), 0);
    EXPECT_EQ(le(file, 40, 8), 55u);
    EXPECT_EQ(std::memcmp(file.data() + 55, "List", 4), 0);
    EXPECT_EQ(le(file, 59, 4), 2u);
    EXPECT_EQ(std::memcmp(file.data() + 63, "Comp", 4), 0);
    EXPECT_EQ(le(file, 67, 8), 48u);
    EXPECT_EQ(le(file, 75, 8), 5u);
    EXPECT_EQ(std::memcmp(file.data() + 83, "Cont", 4), 0);
    EXPECT_EQ(le(file, 87, 8), 53u);

    PresetFileContents read;
    ASSERT_EQ(readPresetFile(file.data(), file.size(), kId, read), nullptr);
    EXPECT_EQ(read.component, component);
    EXPECT_EQ(read.controller, controller);
    EXPECT_EQ(writePresetFile(kId, read.component, read.controller), file);  // byte for byte

    // Chunks are found through the list: another writer's order and an unknown chunk are fine.
    std::vector<std::uint8_t> other(file.begin(), file.begin() + 48);
    const std::vector<std::uint8_t> info = {'<', 'x', '/', '>'};
    other.insert(other.end(), info.begin(), info.end());
    other.insert(other.end(), component.begin(), component.end());
    for (int i = 0; i < 8; ++i) other[40 + i] = static_cast<std::uint8_t>(i == 0 ? 57 : 0);
    const auto entry = [&](const char* id, std::uint64_t at, std::uint64_t size) {
        other.insert(other.end(), id, id + 4);
        for (int i = 0; i < 8; ++i) other.push_back(static_cast<std::uint8_t>(at >> (8 * i)));
        for (int i = 0; i < 8; ++i) other.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
    };
    other.insert(other.end(), {'L', 'i', 's', 't', 2, 0, 0, 0});
    entry("Info", 48, 4);
    entry("Comp", 52, 5);
    PresetFileContents fromOther;
    ASSERT_EQ(readPresetFile(other.data(), other.size(), kId, fromOther), nullptr);
    EXPECT_EQ(fromOther.component, component);
    EXPECT_TRUE(fromOther.controller.empty());
}

TEST(PresetFile, DamagedForeignAndNewerFilesAreRefusedWithNothingFilled) {
    const std::vector<std::uint8_t> file = writePresetFile(kId, {9, 8, 7}, {6});
    const std::vector<std::uint8_t> untouched = {42};
    auto refused = [&](const std::vector<std::uint8_t>& bytes) {
        PresetFileContents out{untouched, untouched};
        const char* problem = readPresetFile(bytes.data(), bytes.size(), kId, out);
        EXPECT_EQ(out.component, untouched);
        EXPECT_EQ(out.controller, untouched);
        return problem;
    };
    for (std::size_t n = 0; n < file.size(); ++n) {
        const char* problem = refused({file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n)});
        EXPECT_NE(problem, nullptr) << n;
    }
    std::vector<std::uint8_t> foreign = file;
    foreign[8 + 31] = '1';
    EXPECT_EQ(refused(foreign), kPresetFileForeign);
    std::vector<std::uint8_t> newer = file;
    newer[4] = 2;
    EXPECT_EQ(refused(newer), kPresetFileNewer);
    std::vector<std::uint8_t> wrongMagic = file;
    wrongMagic[0] = 'X';
    EXPECT_EQ(refused(wrongMagic), kPresetFileNotAPreset);
    // A chunk reaching past the list, a list past the end, an entry count beyond the file.
    std::vector<std::uint8_t> longChunk = file;
    longChunk[file.size() - 40 + 12] = 200;
    EXPECT_EQ(refused(longChunk), kPresetFileDamaged);
    std::vector<std::uint8_t> farList = file;
    farList[41] = 1;
    EXPECT_EQ(refused(farList), kPresetFileDamaged);
    std::vector<std::uint8_t> manyEntries = file;
    manyEntries[file.size() - 40 - 4 + 3] = 0x7F;
    EXPECT_EQ(refused(manyEntries), kPresetFileDamaged);
    EXPECT_EQ(refused(writePresetFile(kId, {}, {6})), kPresetFileNoState);
}

// A client's preset file holds what the host's getState stores, so a host loading the file hands
// setState bytes it accepts; reading it back goes through the same checks, all or nothing.
TEST(PresetFile, AClientsFileHoldsItsHostStateAndReadsBackWholeOrNotAtAll) {
    test::TestClient source;
    source.parameter(test::kPan).setNormalizedFromHost(0.8);
    source.parameter(test::kCutoff).setNormalizedFromHost(0.3);
    const std::vector<std::uint8_t> file = presetFileOf(source);
    PresetFileContents contents;
    ASSERT_EQ(readPresetFile(file.data(), file.size(), classIdText(source.description()), contents), nullptr);
    HostProcessor processor(source);
    EXPECT_EQ(contents.component, processor.writeState());

    test::TestClient target;
    HostProcessor host(target);
    EXPECT_TRUE(host.readState(contents.component.data(), contents.component.size()));
    EXPECT_FLOAT_EQ(static_cast<float>(target.parameter(test::kPan).getNormalized()), 0.8f);

    test::TestClient fresh;
    const double before = fresh.parameter(test::kPan).getNormalized();
    EXPECT_EQ(readPresetFileInto(fresh, file.data(), file.size(), false), nullptr);
    EXPECT_EQ(fresh.parameter(test::kPan).getNormalized(), before);  // checked, not applied
    // The settings' chunk cut anywhere: the file is refused and nothing applied.
    for (std::size_t cut = 1; cut < contents.component.size(); cut += 3) {
        std::vector<std::uint8_t> damaged = contents.component;
        damaged.resize(damaged.size() - cut);
        const std::vector<std::uint8_t> bad =
            writePresetFile(classIdText(source.description()), damaged, contents.controller);
        EXPECT_NE(readPresetFileInto(fresh, bad.data(), bad.size(), true), nullptr) << cut;
        EXPECT_EQ(fresh.parameter(test::kPan).getNormalized(), before);
    }
    EXPECT_EQ(readPresetFileInto(fresh, file.data(), file.size(), true), nullptr);
    EXPECT_FLOAT_EQ(static_cast<float>(fresh.parameter(test::kPan).getNormalized()), 0.8f);
}

TEST(PresetFile, NamesBecomeSafeFileNames) {
    EXPECT_EQ(presetFileName("Far Left 2"), "Far Left 2");
    EXPECT_EQ(presetFileName("a/b\\c:d*e?f\"g<h>i|j"), "a_b_c_d_e_f_g_h_i_j");
    EXPECT_EQ(presetFileName("  ..hidden. "), "hidden");
    EXPECT_EQ(presetFileName("tab\there"), "tab_here");
    EXPECT_EQ(presetFileName("con"), "con_");
    EXPECT_EQ(presetFileName("COM1.x"), "COM1.x_");
    EXPECT_EQ(presetFileName("Console"), "Console");
    EXPECT_EQ(presetFileName(" . "), "");
    // At most 64 bytes, never half a character: 40 two-byte letters keep 32.
    std::string umlauts;
    for (int i = 0; i < 40; ++i) umlauts += "\xC3\xBC";
    EXPECT_EQ(presetFileName(umlauts).size(), 64u);
    EXPECT_EQ(presetFileName("x" + umlauts).size(), 63u);
}

TEST(PresetFile, WritesReplaceWholeFilesAndAFailureLeavesNothing) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("korvo-presetfile-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::remove_all(dir);
    std::string error;
    const std::string folder = (dir / "Vendor" / "Plug").string();
    ASSERT_TRUE(makeFolders(folder, error)) << error;
    EXPECT_TRUE(presetFilesIn(folder).empty());
    const std::string b = folder + "/b.vstpreset", a = folder + "/a.vstpreset";
    ASSERT_TRUE(writeFileAtomically(b, {1, 2, 3}, error)) << error;
    ASSERT_TRUE(writeFileAtomically(b, {4}, error)) << error;
    ASSERT_TRUE(writeFileAtomically(a, {5}, error)) << error;
    ASSERT_TRUE(writeFileAtomically(folder + "/notes.txt", {5}, error)) << error;
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(readWholeFile(b, bytes, error)) << error;
    EXPECT_EQ(bytes, std::vector<std::uint8_t>{4});
    // A folder named like a preset, or a name that only starts like one, is no preset.
    ASSERT_TRUE(makeFolders(joinPath(folder, "c.vstpreset"), error)) << error;
    ASSERT_TRUE(writeFileAtomically(joinPath(folder, "d.vstpresets"), {5}, error)) << error;
    EXPECT_EQ(presetFilesIn(folder), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(pathExists(a));
    EXPECT_TRUE(pathExists(joinPath(folder, "c.vstpreset")));
    EXPECT_FALSE(pathExists(joinPath(folder, "e.vstpreset")));
    EXPECT_EQ(joinPath(folder + "/", "x"), folder + "/x");
    EXPECT_FALSE(readWholeFile(b, bytes, error, 0));  // over the limit

    const std::string missing = folder + "/no such folder/c.vstpreset";
    EXPECT_FALSE(writeFileAtomically(missing, {1}, error));
    EXPECT_NE(error.find(missing), std::string::npos);
    EXPECT_FALSE(readWholeFile(missing, bytes, error));
    std::size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder)) entries += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(entries, 4u);  // no temporary left behind
    std::filesystem::remove_all(dir);

#if defined(_WIN32)
    const char* home = std::getenv("USERPROFILE");
    ASSERT_NE(home, nullptr);
    EXPECT_EQ(userPresetFolder("Tessary", "Velmora"), std::string(home) + "\\Documents\\VST3 Presets\\Tessary\\Velmora");
#else
    const char* home = std::getenv("HOME");
    ASSERT_NE(home, nullptr);
    EXPECT_EQ(userPresetFolder("Tessary", "Velmora"), std::string(home) + "/.vst3/presets/Tessary/Velmora");
#endif
}

}  // namespace
}  // namespace korvo
