// The GUI storm's own parts: the gesture ledger's rules, the handler's thread check, the heap
// figure and the audio thread, so a storm that reports every check held has looked.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "tests/integration/testplugin/testclient.h"
#include "tests/integration/vst3fixture.h"
#include "tools/vst3host/gestures.h"
#include "tools/vst3host/stormaudio.h"
#include "tools/vst3host/system.h"

#if !defined(_WIN32)
#include "tools/allocations/allocations.h"
#endif

namespace vst3it {
namespace {

using vst3host::GestureLedger;
using Call = ComponentHandler::Call;
using Kind = ComponentHandler::Kind;

Call begin(v::ParamID id) { return {Kind::beginEdit, id, 0.0, 0}; }
Call perform(v::ParamID id) { return {Kind::performEdit, id, 0.5, 0}; }
Call end(v::ParamID id) { return {Kind::endEdit, id, 0.0, 0}; }
Call group(bool start) { return {start ? Kind::startGroupEdit : Kind::finishGroupEdit, 0, 0.0, 0}; }

// The first broken rule of one sequence, with the editor gone after it ("" when all held).
std::string firstBreak(const std::vector<Call>& calls) {
    GestureLedger ledger;
    if (ledger.take(calls) && ledger.editorGone()) return "";
    return ledger.failure();
}

TEST(StormGestures, PairedGesturesPassAndEveryBrokenRuleIsNamed) {
    // Two parameters interleaved, a group edit around two gestures, edits split over two takes.
    GestureLedger ledger;
    EXPECT_TRUE(ledger.take({begin(3), perform(3), begin(7), perform(7), perform(3)}));
    EXPECT_FALSE(ledger.editorGone()) << "3 and 7 are still open";
    GestureLedger split;
    EXPECT_TRUE(split.take({begin(3), perform(3), begin(7)}));
    EXPECT_TRUE(split.take({perform(7), end(3), end(7), group(true), begin(1), perform(1), end(1), group(false)}));
    EXPECT_TRUE(split.editorGone());
    EXPECT_EQ(split.gestures(), 3);
    EXPECT_EQ(split.edits(), 3);

    EXPECT_EQ(firstBreak({perform(4)}), "performEdit(4) outside a gesture");
    EXPECT_EQ(firstBreak({begin(4), perform(4), end(4), perform(4)}), "performEdit(4) outside a gesture");
    EXPECT_EQ(firstBreak({begin(4), end(4), end(4)}), "endEdit(4) without beginEdit");
    EXPECT_EQ(firstBreak({begin(4), perform(5)}), "performEdit(5) outside a gesture");
    EXPECT_EQ(firstBreak({begin(4), begin(4)}), "beginEdit(4) inside its open gesture");
    EXPECT_EQ(firstBreak({begin(4), perform(4)}), "the gesture of parameter 4 was left open when the editor went");
    EXPECT_EQ(firstBreak({group(true), begin(4), end(4)}), "a group edit was left open when the editor went");
    EXPECT_EQ(firstBreak({group(false)}), "finishGroupEdit without startGroupEdit");

    // The first break stays; what follows does not replace it, nor does a clean take pass again.
    GestureLedger broken;
    EXPECT_FALSE(broken.take({end(2), perform(9)}));
    EXPECT_FALSE(broken.take({begin(1), end(1)}));
    EXPECT_EQ(broken.failure(), "endEdit(2) without beginEdit");
}

struct Caller {
    ComponentHandler* handler;
    std::uint64_t thread = 0;
};

TEST(StormThreads, HandlerCallsFromAnotherThreadAreCountedNotRecorded) {
    ComponentHandler handler;
    handler.beginEdit(1);
    Caller caller{&handler};
    vst3host::HostThread other;
    ASSERT_TRUE(other.start(
        [](void* object) {
            auto* c = static_cast<Caller*>(object);
            c->thread = vst3host::currentThreadId();
            c->handler->performEdit(1, 0.25);
            c->handler->endEdit(1);
        },
        &caller));
    other.join();
    EXPECT_FALSE(other.running());
    EXPECT_NE(caller.thread, vst3host::currentThreadId());
    EXPECT_EQ(handler.callsOffThread.load(), 2);
    ASSERT_EQ(handler.calls.size(), 1u);
    EXPECT_EQ(handler.calls[0].kind, Kind::beginEdit);
}

TEST(StormHeap, TheFigureSeesABlockHeldAndLetGo) {
    constexpr std::size_t kBytes = 4u << 20;
    std::uint64_t before = 0, held = 0, after = 0;
    ASSERT_TRUE(vst3host::heapBytesInUse(before));
    auto block = std::make_unique<unsigned char[]>(kBytes);
    block[0] = block[kBytes - 1] = 1;
    ASSERT_TRUE(vst3host::heapBytesInUse(held));
    block.reset();
    ASSERT_TRUE(vst3host::heapBytesInUse(after));
    EXPECT_GE(held, before + kBytes);
    EXPECT_LT(after, held - kBytes / 2);
}

// The audio thread on the test module: blocks with automation (the test module's level), every
// call counted, the output checked, nothing allocated on the thread, and nothing after stop.
TEST_F(TestModule, TheStormsAudioThreadProcessesAutomatedBlocksUntilStopped) {
    ASSERT_EQ(plugin->prepare(vst3host::StormAudio::kRate, vst3host::StormAudio::kFrames), v::kResultOk);
    std::vector<std::unique_ptr<ParameterChanges>> automation;
    for (int b = 0; b < 4; ++b) {
        automation.push_back(std::make_unique<ParameterChanges>());
        automation.back()->add(vst3test::kLevel, 0, 0.2 * b);
        automation.back()->add(vst3test::kLevel, 128, 0.2 * b + 0.1);
    }
#if defined(_WIN32)
    vst3host::AllocationCounter counter = nullptr;
#else
    vst3host::AllocationCounter counter = &korvo::allocations::onThisThread;
#endif
    vst3host::StormAudio audio(*plugin, automation, counter, true);
    ASSERT_TRUE(audio.start());
    while (audio.processCalls() < 12) vst3host::sleepMs(2);
    audio.stop();
    const std::int64_t calls = audio.processCalls();
    vst3host::sleepMs(20);
    EXPECT_EQ(audio.processCalls(), calls);
    EXPECT_EQ(audio.failedCall(), -1);
    EXPECT_EQ(audio.nonFiniteCall(), -1);
    EXPECT_EQ(audio.allocations(), 0);
    EXPECT_EQ(handler.callsOffThread.load(), 0) << "process never calls the handler";
}

}  // namespace
}  // namespace vst3it
