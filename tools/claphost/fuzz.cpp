#include "tools/claphost/fuzz.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <vector>

#include "tools/claphost/host.h"
#include "tools/vst3host/random.h"

namespace claphost {

namespace {

using vst3host::Random;  // the generator both randomised hosts share

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class Fuzzer {
public:
    Fuzzer(const FuzzOptions& options, FuzzReport& report)
        : options_(options), report_(report), random_(options.seed) {}

    bool run() {
        std::string error;
        if (!module_.load(options_.modulePath, error))
            return fail("cannot load " + options_.modulePath + ": " + error);
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
        instance_.reset();
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
        instance_.reset();
        instance_ = std::make_unique<Instance>(module_, host_);
        if (!instance_->ok() || instance_->params == nullptr || instance_->state == nullptr)
            return fail("create_plugin, init or an extension failed");
        ++report_.instances;
        return true;
    }

    const c::Plugin* plugin() const { return instance_->plugin; }

    bool oneStep() {
        const std::int32_t roll = random_.below(100);
        if (roll < 40) return process();
        if (roll < 45) return flush();
        if (roll < 50) return activate();
        if (roll < 53) {
            note("deactivate");
            instance_->stop();
            return true;
        }
        if (roll < 57) {
            if (!instance_->active) return activate();
            const bool start = random_.chance(0.6);
            note(start ? "start_processing" : "stop_processing");
            if (start && !instance_->processing) instance_->processing = plugin()->startProcessing(plugin());
            if (!start && instance_->processing) {
                plugin()->stopProcessing(plugin());
                instance_->processing = false;
            }
            return true;
        }
        if (roll < 59) {
            note("reset");
            if (instance_->active) plugin()->reset(plugin());
            return true;
        }
        if (roll < 62) return configuration();
        if (roll < 72) return parameterQueries();
        if (roll < 78) return stateRoundTrip();
        if (roll < 83) return damagedState();
        if (roll < 85) {
            note("on_main_thread");
            plugin()->onMainThread(plugin());
            return true;
        }
        if (roll < 86) {
            note("init again");
            return plugin()->init(plugin()) ? true : fail("a second init failed");
        }
        if (roll < 87) {
            note("destroy (perhaps while active) and make a new instance");
            if (instance_->active && random_.chance(0.5)) instance_->active = instance_->processing = false;
            return makeInstance();
        }
        return process();
    }

    bool activate() {
        static const double kRates[] = {44100, 48000, 96000,    192000, 8000, 22050,
                                        kNaN,  0.0,   -48000.0, 1e12,   1.0};
        static const std::uint32_t kMax[] = {1, 32, 64, 256, 512, 1024, 4096, 8192, 0};
        const double rate = random_.chance(0.7) ? random_.pick(kRates) : 1000.0 + random_.unit() * 300000.0;
        const std::uint32_t maxFrames = random_.pick(kMax);
        const std::uint32_t minFrames = random_.chance(0.9) ? 1 : random_.below(3) + maxFrames;
        note("activate(" + std::to_string(rate) + ", " + std::to_string(minFrames) + ", " +
             std::to_string(maxFrames) + ")");
        instance_->stop();
        instance_->active = plugin()->activate(plugin(), rate, minFrames, maxFrames);
        if (instance_->active) {
            maxFrames_ = maxFrames;
            if (instance_->latency != nullptr) instance_->latency->get(plugin());
            instance_->processing = random_.chance(0.8) && plugin()->startProcessing(plugin());
        }
        return true;
    }

    bool configuration() {
        if (instance_->audioPortsConfig == nullptr) return true;
        const c::ClapId id = static_cast<c::ClapId>(random_.below(4));
        note("select configuration " + std::to_string(id) + (instance_->active ? " while active" : ""));
        const bool selected = instance_->audioPortsConfig->select(plugin(), id);
        if (selected && instance_->active) return fail("a configuration was chosen while active");
        c::AudioPortInfo info{};
        if (instance_->audioPorts != nullptr)
            instance_->audioPorts->get(plugin(), random_.below(3), random_.chance(0.5), &info);
        return true;
    }

    c::ClapId paramId(std::uint32_t count) {
        static const c::ClapId kOdd[] = {998, 999, 997, 1000, 42, 0x7FFFFFFF, 0xFFFFFFFE, c::kInvalidId};
        if (random_.chance(0.2)) return random_.pick(kOdd);
        c::ParamInfo info{};
        if (instance_->params->getInfo(plugin(), random_.below(static_cast<std::int32_t>(count)), &info))
            return info.id;
        return 0;
    }

    double value() {
        static const double kSpecial[] = {kNaN, kInf, -kInf, -1.0, 0.0,   0.5,
                                          1.0,  2.0,  3.7,   31.0, 1e300, -1e300};
        return random_.chance(0.3) ? random_.pick(kSpecial) : random_.unit() * 40.0 - 5.0;
    }

    void fillEvents(EventList& events, std::uint32_t frames) {
        const std::uint32_t count = instance_->params->count(plugin());
        std::uint32_t time = 0;
        for (std::int32_t k = random_.below(12); k > 0; --k) {
            if (random_.chance(0.9))
                time += static_cast<std::uint32_t>(random_.below(static_cast<std::int32_t>(frames / 3 + 2)));
            else
                time = static_cast<std::uint32_t>(
                    random_.below(static_cast<std::int32_t>(frames + 100)));  // unsorted
            const std::int32_t kind = random_.below(10);
            if (kind < 7) {
                events.addValue(time, paramId(count), value());
            } else {
                // Other things in the list: a modulation, a note, a value in another space or
                // claiming too small a size, a transport.
                c::EventParamValue e{};
                e.header = {sizeof(e), time, c::kCoreEventSpaceId, c::kEventParamMod, 0};
                e.paramId = paramId(count);
                e.value = value();
                if (kind == 8) e.header.spaceId = 7, e.header.type = c::kEventParamValue;
                if (kind == 9) e.header.size = 20, e.header.type = c::kEventParamValue;
                if (random_.chance(0.2)) e.header.type = static_cast<std::uint16_t>(random_.below(16));
                events.addRaw(e.header);
            }
            ++report_.eventsSent;
        }
    }

    void fillInput(std::vector<float>& samples) {
        static const float kLevels[] = {0.0f, 1e-39f, 1e-20f, 0.3f, 1.0f, 1e6f, 3e38f};
        const float level = random_.chance(0.7) ? 0.3f : random_.pick(kLevels);
        for (float& x : samples) x = level * static_cast<float>(random_.unit() * 2.0 - 1.0);
        if (random_.chance(0.15) && !samples.empty()) {
            static const float kBad[] = {std::numeric_limits<float>::quiet_NaN(),
                                         std::numeric_limits<float>::infinity(),
                                         -std::numeric_limits<float>::infinity(),
                                         3.4e38f,
                                         -1e30f,
                                         1e-45f};
            for (std::int32_t k = 1 + random_.below(4); k > 0; --k)
                samples[static_cast<std::size_t>(random_.below(static_cast<std::int32_t>(samples.size())))] =
                    random_.pick(kBad);
        }
    }

    bool process() {
        // Hosts mostly process: an idle instance is usually set going first.
        if (!instance_->processing && random_.chance(0.75)) activate();
        std::uint32_t frames =
            maxFrames_ > 0
                ? 1 + static_cast<std::uint32_t>(random_.below(static_cast<std::int32_t>(maxFrames_)))
                : 64;
        if (random_.chance(0.05)) frames = 0;
        if (random_.chance(0.05))
            frames = static_cast<std::uint32_t>(random_.below(8193));  // beyond what was announced
        const std::uint32_t inChannels = random_.chance(0.85) ? 1 + random_.below(2) : random_.below(4);
        const std::uint32_t outChannels = random_.chance(0.9) ? 2 : random_.below(4);
        std::vector<std::vector<float>> in(3, std::vector<float>(frames)),
            out(3, std::vector<float>(frames, 7.0f));
        for (auto& channel : in) fillInput(channel);
        float* inPointers[3] = {in[0].data(), in[1].data(), in[2].data()};
        float* outPointers[3] = {out[0].data(), out[1].data(), out[2].data()};
        const bool inPlace = random_.chance(0.1);
        if (inPlace)
            for (int ch = 0; ch < 3; ++ch)
                inPointers[ch] = outPointers[ch] = in[static_cast<std::size_t>(ch)].data();
        bool outputNull[3] = {};
        for (int ch = 0; ch < 3; ++ch)
            if (random_.chance(0.03)) {
                outPointers[ch] = nullptr;
                outputNull[ch] = true;
            }
        const bool nullArrays = random_.chance(0.03);
        const bool only64 = random_.chance(0.02);
        EventList events;
        if (random_.chance(0.4)) fillEvents(events, frames);
        c::EventTransport transport{};
        const bool withTransport = random_.chance(0.5);
        if (withTransport) {
            static const double kTempos[] = {120.0, 0.0, -60.0, kNaN, kInf, 1e9, 97.5};
            transport.header = {sizeof(transport), 0, c::kCoreEventSpaceId, c::kEventTransport, 0};
            transport.flags = static_cast<std::uint32_t>(random_.next() & 0xFF);
            transport.tempo = random_.pick(kTempos);
            transport.songPosSeconds = static_cast<std::int64_t>(random_.next() >> random_.below(64));
        }
        note("process " + std::to_string(frames) + " frames, " + std::to_string(inChannels) + " in, " +
             std::to_string(outChannels) + " out, " + std::to_string(events.count()) + " events" +
             (inPlace ? ", in place" : "") + (only64 ? ", 64-bit only" : "") +
             (instance_->processing ? "" : " (not processing)"));

        c::AudioBuffer input{};
        input.data32 = nullArrays || only64 ? nullptr : inPointers;
        input.channelCount = inChannels;
        c::AudioBuffer output{};
        output.data32 = nullArrays || only64 ? nullptr : outPointers;
        output.channelCount = outChannels;
        double sixtyFour[64] = {};
        double* sixtyFourChannels[3] = {sixtyFour, sixtyFour, sixtyFour};
        if (only64) input.data64 = output.data64 = sixtyFourChannels;
        OutputList outEvents;
        c::Process p{};
        p.steadyTime = -1;
        p.framesCount = frames;
        p.transport = withTransport ? &transport : nullptr;
        p.audioInputs = &input;
        p.audioOutputs = &output;
        p.audioInputsCount = random_.chance(0.95) ? 1 : 0;
        p.audioOutputsCount = random_.chance(0.97) ? 1 : 0;
        p.inEvents = events.input();
        p.outEvents = outEvents.output();
        if (only64) frames = std::min<std::uint32_t>(frames, 64), p.framesCount = frames;

        const std::uint64_t before = options_.allocationCount != nullptr ? options_.allocationCount() : 0;
        const std::int32_t status = plugin()->process(plugin(), &p);
        const std::uint64_t allocations =
            options_.allocationCount != nullptr ? options_.allocationCount() - before : 0;
        ++report_.processCalls;
        if (status == c::kProcessError)
            ++report_.processErrors;
        else
            report_.framesProcessed += frames;
        if (status < c::kProcessError || status > c::kProcessSleep)
            return fail("process returned " + std::to_string(status));
        if (!instance_->processing)
            return status == c::kProcessError ? true : fail("process outside processing did not fail");
        if (allocations != 0) return fail("process allocated " + std::to_string(allocations) + " times");
        const bool offered64 =
            (p.audioInputsCount > 0 && inChannels > 0) || (p.audioOutputsCount > 0 && outChannels > 0);
        if (only64 && offered64 && status != c::kProcessError)
            return fail("64-bit buffers alone were not refused");
        if (status == c::kProcessError || nullArrays || only64 || p.audioOutputsCount == 0) return true;
        for (std::uint32_t ch = 0; ch < outChannels && ch < 2 && options_.checkFiniteOutput; ++ch) {
            if (outputNull[ch]) continue;
            const float* samples = inPlace ? in[ch].data() : out[ch].data();
            for (std::uint32_t i = 0; i < frames; ++i)
                if (!std::isfinite(samples[i]))
                    return fail("output sample " + std::to_string(i) + " of channel " + std::to_string(ch) +
                                " is not finite");
        }
        return true;
    }

    bool flush() {
        EventList events;
        fillEvents(events, 512);
        note("flush of " + std::to_string(events.count()) + " events" +
             (instance_->active ? " while active" : ""));
        OutputList out;
        const std::uint64_t before = options_.allocationCount != nullptr ? options_.allocationCount() : 0;
        instance_->params->flush(plugin(), events.input(), out.output());
        if (instance_->active && options_.allocationCount != nullptr && options_.allocationCount() != before)
            return fail("an active flush allocated");
        return true;
    }

    bool parameterQueries() {
        const std::uint32_t count = instance_->params->count(plugin());
        note("parameter queries");
        c::ParamInfo info{};
        instance_->params->getInfo(
            plugin(), static_cast<std::uint32_t>(random_.below(static_cast<std::int32_t>(count) + 4)), &info);
        for (std::uint32_t i = 0; i < count; ++i) {
            if (!instance_->params->getInfo(plugin(), i, &info))
                return fail("get_info " + std::to_string(i) + " failed");
            double v = 0.0;
            if (!instance_->params->getValue(plugin(), info.id, &v) ||
                !(v >= info.minValue && v <= info.maxValue))
                return fail("the value of " + std::to_string(info.id) + " is " + std::to_string(v) +
                            ", outside its range");
        }
        const c::ClapId id = paramId(count);
        char text[64];
        const std::uint32_t capacity =
            static_cast<std::uint32_t>(random_.chance(0.8) ? sizeof(text) : random_.below(8));
        instance_->params->valueToText(plugin(), id, value(), random_.chance(0.95) ? text : nullptr,
                                       capacity);
        char typed[80] = {};
        static const char* const kWords[] = {
            "Yes", "No",   "yes", "no", "Default", "-inf dB",  "12.5 %",   "1e40",
            "nan", "sine", "-",   "",   "0x10",    "Far-Left", "\xC2\xB0", "\xFF\xFE"};
        std::snprintf(typed, sizeof(typed), "%s%s", random_.pick(kWords),
                      random_.chance(0.3) ? random_.pick(kWords) : "");
        double parsed = 0.0;
        if (instance_->params->textToValue(plugin(), id, typed, &parsed)) {
            for (std::uint32_t i = 0; i < count; ++i)
                if (instance_->params->getInfo(plugin(), i, &info) && info.id == id &&
                    !(parsed >= info.minValue && parsed <= info.maxValue))
                    return fail("text \"" + std::string(typed) + "\" parsed to " + std::to_string(parsed));
        }
        instance_->params->textToValue(plugin(), id, nullptr, &parsed);
        return true;
    }

    bool saveState(std::vector<std::uint8_t>& bytes) {
        OutStream stream;
        stream.bytesPerCall = random_.chance(0.5) ? 1 + random_.below(64) : 0;
        if (!instance_->save(stream)) return fail("state.save failed");
        bytes = stream.bytes;
        return true;
    }

    bool stateRoundTrip() {
        note("state round trip");
        std::vector<std::uint8_t> first, second;
        if (!saveState(first)) return false;
        InStream in(first);
        in.bytesPerCall = random_.chance(0.5) ? 1 + random_.below(64) : 0;
        if (!instance_->load(in)) return fail("state.load refused the instance's own state");
        if (!saveState(second)) return false;
        if (first != second) return fail("a state read back differs from the state written");
        ++report_.stateRoundTrips;
        return true;
    }

    bool damagedState() {
        std::vector<std::uint8_t> before, bytes, after;
        if (!saveState(before)) return false;
        InStream in;
        const std::int32_t kind = random_.below(4);
        if (kind == 0) {
            bytes.assign(before.begin(),
                         before.begin() + random_.below(static_cast<std::int32_t>(before.size())));
            note("cut state of " + std::to_string(bytes.size()) + " bytes");
        } else if (kind == 1) {
            bytes = before;
            for (std::int32_t k = 1 + random_.below(8); k > 0; --k)
                bytes[static_cast<std::size_t>(random_.below(static_cast<std::int32_t>(bytes.size())))] =
                    static_cast<std::uint8_t>(random_.next());
            note("damaged state of " + std::to_string(bytes.size()) + " bytes");
        } else {
            bytes = before;
            in.failAfterCalls = kind == 2 ? random_.below(4) : -1;
            in.overclaim = kind == 3 ? 5000 + random_.below(5000) : 0;  // always more than asked
            note(kind == 2 ? "state stream that fails" : "state stream that claims more than it gives");
        }
        in.bytes = bytes;
        in.bytesPerCall = random_.chance(0.5) ? 1 + random_.below(64) : 0;
        // Random bytes may still make a state; a stream that failed or lied never does.
        if (instance_->load(in))
            return kind <= 1 || (kind == 2 && !in.failed) ? true
                                                          : fail("a failing state stream was accepted");
        ++report_.refusedStates;
        if (!saveState(after)) return false;
        if (after != before) return fail("a refused state changed the instance");
        return true;
    }

    const FuzzOptions& options_;
    FuzzReport& report_;
    Random random_;
    Module module_;
    Host host_{"claphost fuzz"};
    std::unique_ptr<Instance> instance_;
    std::uint32_t maxFrames_ = 0;
    std::deque<std::string> recent_;
};

}  // namespace

bool runFuzz(const FuzzOptions& options, FuzzReport& report) {
    report = FuzzReport{};
    Fuzzer fuzzer(options, report);
    return fuzzer.run();
}

}  // namespace claphost
