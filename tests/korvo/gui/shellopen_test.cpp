#include "korvo/window/shellopen.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace korvo {
namespace {

TEST(OpenURL, OnlyAbsoluteWebAddressesWithoutControlCharactersAreOpened) {
    for (const char* good :
         {"http://a", "https://example.com/x?y=1#z", "HTTPS://EXAMPLE.COM", "hTtP://10.0.0.1:8080/"})
        EXPECT_TRUE(isOpenableURL(good)) << good;
    for (const char* bad :
         {"", "example.com", "ftp://example.com", "file:///c:/windows/system.ini", "https://",
          "https:///path", "http://?q", "https://ex ample.com", "https://example.com\n",
          "https://ex\tample.com", "https://\x7f", "https://caf\xc3\xa9.example", "mailto:x@y",
          "javascript:alert(1)", "http:/example.com", "\\\\server\\share"})
        EXPECT_FALSE(isOpenableURL(bad)) << bad;
    EXPECT_FALSE(isOpenableURL("https://" + std::string(3000, 'a')));
}

bool gCalled = false;
bool refuseEverything(const char*) {
    gCalled = true;
    return false;
}

TEST(OpenURL, RefusedAddressesNeverReachTheLauncherAndLauncherFailuresAreReported) {
    const URLLauncher previous = setURLLauncher(&refuseEverything);
    gCalled = false;
    EXPECT_EQ(openURL("file:///etc/passwd"), OpenURLResult::refused);
    EXPECT_FALSE(gCalled);
    EXPECT_EQ(openURL("https://example.com/"), OpenURLResult::failed);
    EXPECT_TRUE(gCalled);
    EXPECT_EQ(setURLLauncher(previous), &refuseEverything);
}

#ifndef _WIN32
// The real launcher with a stand-in xdg-open first on the PATH: the address arrives as one
// argument, shell characters included, and the launcher returns without waiting for the
// "browser": the stand-in only answers after the test, having got control back, says "go" (if the
// launcher waited, the stand-in would give up after 20 s and answer "blocked").
TEST(OpenURL, SystemLauncherStartsADetachedXdgOpenWithTheAddressAsOneArgument) {
    char dirTemplate[] = "/tmp/korvo_openurl_XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    const std::string out = dir + "/received", go = dir + "/go";
    {
        std::ofstream script(dir + "/xdg-open");
        script << "#!/bin/sh\nn=0\nwhile [ ! -f '" << go
               << "' ] && [ $n -lt 400 ]; do sleep 0.05; n=$((n+1)); done\n"
               << "if [ -f '" << go << "' ]; then r=go; else r=blocked; fi\n"
               << "printf '%s|%s|%s' \"$r\" \"$#\" \"$1\" > '" << out << ".tmp'\nmv '" << out << ".tmp' '"
               << out << "'\n";
    }
    ASSERT_EQ(chmod((dir + "/xdg-open").c_str(), 0755), 0);
    const char* oldPath = std::getenv("PATH");
    const std::string savedPath = oldPath != nullptr ? oldPath : "";
    setenv("PATH", (dir + ":" + savedPath).c_str(), 1);

    const std::string url = "https://example.com/a?b=1&c=$(touch " + dir + "/pwned)";
    EXPECT_TRUE(systemURLLauncher(url.c_str()));
    setenv("PATH", savedPath.c_str(), 1);
    std::ofstream(go) << "go";

    std::string received;
    for (int i = 0; i < 800 && received.empty(); ++i) {
        std::ifstream in(out);
        std::getline(in, received);
        if (received.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(received, "go|1|" + url);
    std::ifstream pwned(dir + "/pwned");
    EXPECT_FALSE(pwned.good()) << "the address was run as shell text";
    for (const std::string& f : {out, go, dir + "/xdg-open"}) std::remove(f.c_str());
    rmdir(dir.c_str());
}
#endif

}  // namespace
}  // namespace korvo
