#include "tools/vst3host/fuzz.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <vector>

#include "tools/vst3host/editor.h"
#include "tools/vst3host/host.h"
#include "tools/vst3host/random.h"

namespace vst3host {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

double oddValue(Random& random) {
    static const double kSpecial[] = {kNaN, kInf, -kInf, -1.0, -1e-300, 0.0, 1.0, 1.0000001, 2.0, 1e300, 0.5};
    return random.chance(0.3) ? random.pick(kSpecial) : random.unit();
}

v::ParamID oddParamId(Random& random) {
    static const v::ParamID kSpecial[] = {998, 999, 42, 997, 1000, 0x7FFFFFFF, 0xFFFFFFFF};
    return random.chance(0.25) ? random.pick(kSpecial) : static_cast<v::ParamID>(random.below(42));
}

class Fuzzer {
public:
    Fuzzer(const FuzzOptions& options, FuzzReport& report)
        : options_(options), report_(report), random_(options.seed) {}

    bool run() {
        std::string error;
        if (!module_.load(options_.modulePath, error)) {
            report_.failure = "cannot load " + options_.modulePath + ": " + error;
            return false;
        }
        v::PClassInfo info{};
        if (module_.factory()->countClasses() < 1 ||
            module_.factory()->getClassInfo(0, &info) != v::kResultOk) {
            report_.failure = "the module has no class";
            return false;
        }
        std::memcpy(cid_, info.cid, 16);
        if (!makeInstance()) return false;
        const auto start = std::chrono::steady_clock::now();
        for (std::int64_t step = 0;; ++step) {
            if (options_.steps > 0
                    ? step >= options_.steps
                    : std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >=
                          options_.seconds)
                break;
            report_.steps = step + 1;
            if (!oneStep()) {
                report_.failure +=
                    " (seed " + std::to_string(options_.seed) + ", step " + std::to_string(step) + ")";
                for (const std::string& line : recent_) report_.recentSteps += line + "\n";
                return false;
            }
        }
        closeEditor();
        plugin_.reset();
        return true;
    }

private:
    bool fail(const std::string& what) {
        report_.failure = what;
        return false;
    }
    void note(const std::string& what) {
        recent_.push_back(what);
        if (recent_.size() > 24) recent_.pop_front();
    }

    bool makeInstance() {
        closeEditor();
        plugin_.reset();
        plugin_ = std::make_unique<Plugin>(module_.factory(), cid_, &host_);
        if (!plugin_->ok()) return fail("createInstance or a face failed");
        plugin_->controller->setComponentHandler(&handler_);
        ++report_.instances;
        return true;
    }

    bool oneStep() {
        // While an editor is open it gets a share of the steps of its own, between the others.
        if (editor_ != nullptr && random_.chance(0.2)) return openView();
        const std::int32_t roll = random_.below(100);
        if (roll < 34) return process(false);
        if (roll < 40) return process(true);
        if (roll < 44) return setup();
        if (roll < 48) {
            const v::TBool state = random_.below(2);
            note("setActive(" + std::to_string(state) + ")");
            plugin_->component->setActive(state);
            return true;
        }
        if (roll < 52) {
            const v::TBool state = random_.below(2);
            note("setProcessing(" + std::to_string(state) + ")");
            plugin_->processor->setProcessing(state);
            return true;
        }
        if (roll < 55) return arrangements();
        if (roll < 62) return setParameter();
        if (roll < 68) return controllerQueries();
        if (roll < 73) return stateRoundTrip();
        if (roll < 77) return damagedState();
        if (roll < 81) {
            const double value = oddValue(random_);
            note("program " + std::to_string(value));
            plugin_->controller->setParamNormalized(999, value);
            return true;
        }
        if (roll < 84) return view();
        if (roll < 86) {
            note("terminate");
            closeEditor();  // hosts close the editor before they end the plug-in
            plugin_->component->terminate();
            return true;
        }
        if (roll < 88) {
            note("initialize");
            plugin_->component->initialize(&host_);
            return true;
        }
        if (roll < 90) {
            note("unit info");
            v::UnitInfo unit{};
            plugin_->unitInfo->getUnitInfo(random_.below(3) - 1, unit);
            v::String128 name{};
            plugin_->unitInfo->getProgramName(random_.chance(0.8) ? 999 : random_.below(2000),
                                              random_.below(40) - 4, name);
            return true;
        }
        if (roll < 91) {
            note("new instance");
            return makeInstance();
        }
        return process(false);
    }

    bool setup() {
        static const double kRates[] = {8000,   8062,   11025, 22050, 44100,    48000, 88200, 96000,
                                        192000, 384000, kNaN,  0.0,   -48000.0, 1e12,  1.0};
        static const v::int32 kBlocks[] = {1, 2, 31, 32, 64, 100, 256, 512, 513, 1024, 4096, 8192, 0, -5};
        v::ProcessSetup setup{};
        setup.processMode = random_.below(3);
        setup.symbolicSampleSize = random_.chance(0.9) ? v::kSample32 : v::kSample64;
        setup.maxSamplesPerBlock = random_.chance(0.8) ? random_.pick(kBlocks) : 1 + random_.below(8192);
        setup.sampleRate = random_.chance(0.8) ? random_.pick(kRates) : 1000.0 + random_.unit() * 400000.0;
        note("setupProcessing(" + std::to_string(setup.sampleRate) + ", " +
             std::to_string(setup.maxSamplesPerBlock) + ")");
        plugin_->processor->setupProcessing(setup);
        return true;
    }

    bool arrangements() {
        static const v::SpeakerArrangement kLayouts[] = {v::kArrStereo, v::kArrMono, 0x0,  0x1,  0x4,
                                                         0xC,           0x30,        0x3F, 0x600};
        v::SpeakerArrangement in[2] = {random_.pick(kLayouts), random_.pick(kLayouts)};
        v::SpeakerArrangement out[2] = {random_.pick(kLayouts), random_.pick(kLayouts)};
        const v::int32 numIns = random_.chance(0.8) ? 1 : random_.below(3);
        const v::int32 numOuts = random_.chance(0.8) ? 1 : random_.below(3);
        note("setBusArrangements");
        plugin_->processor->setBusArrangements(in, numIns, out, numOuts);
        return true;
    }

    void fillChanges(ParameterChanges& changes) {
        for (std::int32_t q = random_.below(6); q > 0; --q) {
            const v::ParamID id = oddParamId(random_);
            for (std::int32_t p = 1 + random_.below(3); p > 0; --p)
                changes.add(id, random_.below(600) - 50, oddValue(random_));
        }
        if (random_.chance(0.1)) changes.addEmptyQueue(oddParamId(random_));
    }

    void fillInput(std::vector<float>& samples) {
        static const float kLevels[] = {0.0f, 1e-39f, 1e-20f, 0.3f, 1.0f, 1e6f, 3e38f};
        const float level = random_.chance(0.7) ? 0.3f : random_.pick(kLevels);
        for (float& x : samples) x = level * static_cast<float>(random_.unit() * 2.0 - 1.0);
        if (random_.chance(0.15)) {
            static const float kBad[] = {std::numeric_limits<float>::quiet_NaN(),
                                         std::numeric_limits<float>::infinity(),
                                         -std::numeric_limits<float>::infinity(),
                                         3.4e38f,
                                         -1e30f,
                                         1e-45f};
            for (std::int32_t k = 1 + random_.below(4); k > 0 && !samples.empty(); --k)
                samples[static_cast<std::size_t>(random_.below(static_cast<std::int32_t>(samples.size())))] =
                    random_.pick(kBad);
        }
    }

    bool process(bool flush) {
        static const v::int32 kFrames[] = {1,   2,   3,   7,   31,   32,   33,   64,  100,
                                           256, 511, 512, 513, 1024, 2048, 4096, 8192};
        const v::int32 frames =
            flush ? 0 : (random_.chance(0.7) ? random_.pick(kFrames) : random_.below(8193));
        const v::int32 inChannels = random_.chance(0.8) ? 1 + random_.below(2) : random_.below(3);
        const v::int32 outChannels = random_.chance(0.9) ? 2 : random_.below(3);
        const v::int32 numInputs = random_.chance(0.9) ? 1 : 0;
        const v::int32 numOutputs = random_.chance(0.95) ? 1 : 0;
        const bool inPlace = random_.chance(0.1);
        std::vector<std::vector<float>> in(2, std::vector<float>(static_cast<std::size_t>(frames)));
        std::vector<std::vector<float>> out(2, std::vector<float>(static_cast<std::size_t>(frames), 7.0f));
        for (auto& channel : in) fillInput(channel);
        float* inPointers[2] = {in[0].data(), in[1].data()};
        float* outPointers[2] = {out[0].data(), out[1].data()};
        if (inPlace) {
            out = in;
            outPointers[0] = out[0].data();
            outPointers[1] = out[1].data();
            inPointers[0] = outPointers[0];
            inPointers[1] = outPointers[1];
        }
        for (float*& p : inPointers)
            if (random_.chance(0.04)) p = nullptr;
        bool outputNull[2] = {false, false};
        for (int c = 0; c < 2; ++c)
            if (random_.chance(0.04)) {
                outPointers[c] = nullptr;
                outputNull[c] = true;
            }
        const bool inArrayNull = random_.chance(0.03), outArrayNull = random_.chance(0.03);
        ParameterChanges changes;
        const bool withChanges = flush || random_.chance(0.3);
        if (withChanges) fillChanges(changes);
        v::ProcessContext context{};
        const bool withContext = random_.chance(0.5);
        if (withContext) {
            static const double kTempos[] = {120.0, 0.0, -60.0, kNaN, kInf, 1e9, 1e-9, 97.5};
            context.state = static_cast<v::uint32>(random_.next());
            context.tempo = random_.pick(kTempos);
            context.sampleRate = 48000.0;
            context.projectTimeSamples = random_.chance(0.8) ? static_cast<v::int64>(random_.below(1 << 30))
                                                             : static_cast<v::int64>(random_.next());
        }
        note(std::string(flush ? "flush" : "process") + " " + std::to_string(frames) + " frames, in " +
             std::to_string(numInputs) + "x" + std::to_string(inChannels) + ", out " +
             std::to_string(numOutputs) + "x" + std::to_string(outChannels) + (inPlace ? ", in place" : "") +
             (withChanges ? ", changes" : ""));

        const std::uint64_t before = options_.allocationCount != nullptr ? options_.allocationCount() : 0;
        const v::tresult result = plugin_->process(inArrayNull ? nullptr : inPointers, inChannels,
                                                   outArrayNull ? nullptr : outPointers, outChannels, frames,
                                                   withChanges ? &changes : nullptr,
                                                   withContext ? &context : nullptr, numInputs, numOutputs);
        const std::uint64_t allocations =
            options_.allocationCount != nullptr ? options_.allocationCount() - before : 0;
        ++report_.processCalls;
        report_.framesProcessed += frames;
        if (result != v::kResultOk) return fail("process returned " + std::to_string(result));
        if (allocations != 0) return fail("process allocated " + std::to_string(allocations) + " times");
        if (options_.checkFiniteOutput && numOutputs == 1 && !outArrayNull) {
            for (v::int32 c = 0; c < outChannels && c < 2; ++c) {
                if (outputNull[c]) continue;
                for (v::int32 i = 0; i < frames; ++i)
                    if (!std::isfinite(out[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)]))
                        return fail("output sample " + std::to_string(i) + " of channel " +
                                    std::to_string(c) + " is not finite");
            }
        }
        return true;
    }

    bool setParameter() {
        const v::ParamID id = oddParamId(random_);
        const double value = oddValue(random_);
        note("setParamNormalized(" + std::to_string(id) + ", " + std::to_string(value) + ")");
        plugin_->controller->setParamNormalized(id, value);
        const double back = plugin_->controller->getParamNormalized(id);
        if (!(back >= 0.0 && back <= 1.0)) return fail("getParamNormalized gave " + std::to_string(back));
        return true;
    }

    bool controllerQueries() {
        const v::ParamID id = oddParamId(random_);
        const double value = oddValue(random_);
        note("controller queries on " + std::to_string(id));
        v::String128 text{};
        plugin_->controller->getParamStringByValue(id, value, text);
        v::String128 input{};
        const std::int32_t length = random_.below(130);
        for (std::int32_t i = 0; i < length && i < 127; ++i) {
            static const v::char16 kUnits[] = {'1',  '-',    '.',    'e',    'x', ' ',
                                               0xB0, 0xD800, 0xDC00, 0xFFFF, 'y', 's'};
            input[i] =
                random_.chance(0.5) ? kUnits[random_.below(12)] : static_cast<v::char16>(random_.next());
        }
        v::ParamValue parsed = 0.0;
        if (plugin_->controller->getParamValueByString(id, input, parsed) == v::kResultOk &&
            !(parsed >= 0.0 && parsed <= 1.0))
            return fail("getParamValueByString gave " + std::to_string(parsed));
        v::ParameterInfo info{};
        plugin_->controller->getParameterInfo(random_.below(50) - 3, info);
        plugin_->controller->normalizedParamToPlain(id, value);
        plugin_->controller->plainParamToNormalized(id, value);
        plugin_->controller2->setKnobMode(random_.below(4));
        return true;
    }

    bool saveState(std::vector<std::uint8_t>& bytes) {
        MemoryStream stream;
        stream.setBytesPerWrite(random_.chance(0.5) ? 1 + random_.below(64) : 0);
        if (plugin_->getState(stream) != v::kResultOk) return fail("getState failed");
        bytes = stream.bytes();
        return true;
    }

    bool stateRoundTrip() {
        note("state round trip");
        std::vector<std::uint8_t> first, second;
        if (!saveState(first)) return false;
        MemoryStream in(first);
        in.setBytesPerRead(random_.chance(0.5) ? 1 + random_.below(64) : 0);
        if (plugin_->setState(in) != v::kResultOk) return fail("setState refused the instance's own state");
        if (!saveState(second)) return false;
        if (first != second) return fail("a state read back differs from the state written");
        ++report_.stateRoundTrips;
        return true;
    }

    bool damagedState() {
        std::vector<std::uint8_t> before, bytes, after;
        if (!saveState(before)) return false;
        if (random_.chance(0.5)) {
            bytes.assign(before.begin(),
                         before.begin() + random_.below(static_cast<std::int32_t>(before.size())));
            note("truncated state of " + std::to_string(bytes.size()) + " bytes");
        } else {
            bytes = before;
            if (random_.chance(0.3)) bytes.resize(static_cast<std::size_t>(random_.below(300)));
            for (std::int32_t k = 1 + random_.below(8); k > 0 && !bytes.empty(); --k)
                bytes[static_cast<std::size_t>(random_.below(static_cast<std::int32_t>(bytes.size())))] =
                    static_cast<std::uint8_t>(random_.next());
            note("damaged state of " + std::to_string(bytes.size()) + " bytes");
        }
        MemoryStream in(bytes);
        in.setBytesPerRead(random_.chance(0.5) ? 1 + random_.below(64) : 0);
        if (plugin_->setState(in) == v::kResultOk) return true;  // random bytes may still make a state
        ++report_.refusedStates;
        if (!saveState(after)) return false;
        if (after != before) return fail("a refused state changed the instance");
        return true;
    }

    bool view() {
        if (options_.openViews && (editor_ != nullptr || random_.chance(0.7))) return openView();
        note("view");
        v::IPlugView* view = plugin_->controller->createView(random_.chance(0.9) ? "editor" : "other");
        if (view == nullptr) return true;
        v::ViewRect rect{};
        view->getSize(&rect);
        view->isPlatformTypeSupported(random_.chance(0.5) ? "HWND" : "X11EmbedWindowID");
        view->onSize(&rect);
        view->checkSizeConstraint(&rect);
        view->canResize();
        view->onFocus(random_.below(2));
        view->setFrame(nullptr);
        view->removed();  // closing what was never opened must be harmless
        view->release();
        return true;
    }

    // The editor in a real window of ours: opened, used, detached and attached again, closed. It
    // stays open across steps, so audio, states and program changes reach an open editor.
    bool openView() {
        if (editor_ == nullptr) {
            // A plug-in without an editor (or one not initialised) may give no view at all.
            v::IPlugView* probe = plugin_->controller->createView(v::kEditorViewType);
            if (probe == nullptr) {
                note("no editor to open");
                return true;
            }
            probe->release();
            note("open the editor in a window");
            editor_ = std::make_unique<EditorHost>();
            std::string error;
            if (!editor_->open(plugin_->controller, error)) {
                editor_.reset();
                return fail("the editor did not open: " + error);
            }
            ++report_.viewsOpened;
            handler_.calls.clear();
            editor_->run(static_cast<std::uint32_t>(10 + random_.below(30)));
            return true;
        }
        const v::ViewRect size = editor_->size();
        const std::int32_t width = size.right - size.left, height = size.bottom - size.top;
        const std::int32_t roll = random_.below(10);
        if (roll < 2) {
            note("close the editor");
            closeEditor();
        } else if (roll < 3) {
            note("detach and attach the editor");
            editor_->detach();
            std::string error;
            if (!editor_->reattach(error)) return fail("the editor did not attach again: " + error);
            editor_->run(20);
        } else if (roll < 7) {
            const std::int32_t x0 = random_.below(width), y0 = random_.below(height);
            const std::int32_t x1 = random_.below(width), y1 = random_.below(height);
            note("drag in the editor from " + std::to_string(x0) + "," + std::to_string(y0) + " to " +
                 std::to_string(x1) + "," + std::to_string(y1));
            editor_->mouseMove(x0, y0);
            editor_->mouseButton(1, true);
            editor_->mouseMove(x1, y1);
            editor_->mouseButton(1, false);
        } else if (roll < 8) {
            const std::int32_t x = random_.below(width), y = random_.below(height);
            const int notches = random_.below(7) - 3;
            note("wheel " + std::to_string(notches) + " at " + std::to_string(x) + "," + std::to_string(y));
            editor_->mouseMove(x, y);
            editor_->wheel(notches);
        } else {
            note("let the editor run");
            editor_->run(static_cast<std::uint32_t>(10 + random_.below(50)));
        }
        return true;
    }

    void closeEditor() {
        if (editor_ == nullptr) return;
        for (const ComponentHandler::Call& call : handler_.calls)
            if (call.kind == ComponentHandler::Kind::performEdit) ++report_.editorEdits;
        handler_.calls.clear();
        editor_->close();
        editor_.reset();
    }

    const FuzzOptions& options_;
    FuzzReport& report_;
    Random random_;
    Module module_;
    char cid_[16] = {};
    HostApplication host_{"vst3host fuzz"};
    ComponentHandler handler_;
    std::unique_ptr<Plugin> plugin_;
    std::unique_ptr<EditorHost> editor_;  // the open editor, when views are opened
    std::deque<std::string> recent_;
};

}  // namespace

bool runFuzz(const FuzzOptions& options, FuzzReport& report) {
    report = FuzzReport{};
    Fuzzer fuzzer(options, report);
    return fuzzer.run();
}

}  // namespace vst3host
