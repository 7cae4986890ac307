#include "korvo/client/daw.h"

#include <gtest/gtest.h>

#include <string>

using korvo::HostKind;
using korvo::identifyHost;
using korvo::identifyHostUtf16;
using korvo::narrowHostName;

TEST(HostKind, EveryKeyGivesItsCode) {
    const struct {
        const char* name;
        HostKind kind;
        int code;
    } table[] = {
        {"reaper", HostKind::reaper, 1},
        {"cubase", HostKind::cubase, 3},
        {"nuendo", HostKind::nuendo, 4},
        {"cakewalk", HostKind::cakewalk, 5},
        {"samplitude", HostKind::samplitude, 8},
        {"fruity", HostKind::fruity, 7},
        {"live", HostKind::live, 9},
        {"melodyne", HostKind::melodyne, 12},
        {"vstmanlib", HostKind::vstmanlib, 13},
        {"aulab", HostKind::aulab, 14},
        {"garageband", HostKind::garageband, 22},
        {"forte", HostKind::forte, 15},
        {"chainer", HostKind::chainer, 16},
        {"audition", HostKind::audition, 17},
        {"orion", HostKind::orion, 18},
        {"sawstudio", HostKind::sawstudio, 20},
        {"logic", HostKind::logic, 21},
        {"digital", HostKind::digital, 23},
        {"audiomulch", HostKind::audiomulch, 25},
        {"presonus", HostKind::presonus, 26},
        {"vst3plugintesthost", HostKind::vst3PluginTestHost, 27},
        {"protools", HostKind::protools, 2},
        {"ardour", HostKind::ardour, 28},
        {"standalone", HostKind::standalone, 24},
    };
    for (const auto& row : table) {
        EXPECT_EQ(identifyHost(row.name), row.kind) << row.name;
        EXPECT_EQ(static_cast<int>(row.kind), row.code) << row.name;
    }
}

TEST(HostKind, SearchIsCaseSensitiveOrderedAndBySubstring) {
    EXPECT_EQ(identifyHost("my cubase 12"), HostKind::cubase);
    EXPECT_EQ(identifyHost("Cubase 12"), HostKind::unknown);
    EXPECT_EQ(identifyHost("Cubase live"), HostKind::live);
    EXPECT_EQ(identifyHost("logic and live"), HostKind::live);
    EXPECT_EQ(identifyHost("digital protools"), HostKind::digital);
    EXPECT_EQ(identifyHost("Studio One"), HostKind::unknown);
    EXPECT_EQ(identifyHost(""), HostKind::unknown);
}

TEST(HostKind, Utf16NamesAreNarrowedSafely) {
    char out[129];
    const char16_t accented[] = {u'r', 0x00E9, u'a', 0x7F, 0x7E, 0};
    EXPECT_EQ(narrowHostName(accented, out, sizeof out), 5u);
    EXPECT_STREQ(out, "r?a?~");

    // Stops after 128 characters even without a NUL within reach.
    char16_t longName[200];
    for (char16_t& c : longName) c = u'x';
    EXPECT_EQ(narrowHostName(longName, out, sizeof out), 128u);
    EXPECT_EQ(std::string(out), std::string(128, 'x'));

    char small[4];
    EXPECT_EQ(narrowHostName(u"reaper", small, sizeof small), 3u);
    EXPECT_STREQ(small, "rea");
    EXPECT_EQ(narrowHostName(nullptr, out, sizeof out), 0u);
    EXPECT_STREQ(out, "");

    EXPECT_EQ(identifyHostUtf16(u"REAPER reaper64"), HostKind::reaper);
    EXPECT_EQ(identifyHostUtf16(u"Ableton Live 11"), HostKind::unknown);
    const char16_t withNul[] = {u'x', 0, u'l', u'i', u'v', u'e', 0};
    EXPECT_EQ(identifyHostUtf16(withNul), HostKind::unknown) << "stops at the first NUL";
}
