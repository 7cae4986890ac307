#include "korvo/client/params.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "korvo/client/client.h"

namespace korvo {

namespace {

constexpr double kLn10Over20 = 0.11512925464970229;    // dB -> natural-log amplitude
constexpr double kTwentyOverLn10 = 8.685889638065035;  // natural-log amplitude -> dB

// Texts of this many characters or more are refused by the parsers.
constexpr std::size_t kParseBufferBytes = 64;

static_assert(std::atomic<double>::is_always_lock_free, "the DSP reads parameter values lock-free");
static_assert(std::atomic<std::int32_t>::is_always_lock_free, "the DSP reads parameter values lock-free");
static_assert(std::atomic<bool>::is_always_lock_free, "the DSP reads parameter values lock-free");

// Normalized results: NaN becomes 0, everything else is clamped to [0, 1].
double clampUnit(double v) noexcept {
    if (!(v > 0.0)) return 0.0;
    return v > 1.0 ? 1.0 : v;
}

// Clamp to [lo, hi]; NaN gives lo.
double clampRange(double v, double lo, double hi) noexcept {
    if (!(v >= lo)) return lo;
    return v > hi ? hi : v;
}

// Half away from zero.
double roundHalfAway(double x) noexcept {
    return x >= 0.0 ? std::trunc(x + 0.5) : std::trunc(x - 0.5);
}

void writeText(char* buffer, std::size_t size, std::string_view text) noexcept {
    if (size == 0) return;
    const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

void writeInt(char* buffer, std::size_t size, std::int32_t v) noexcept {
    if (size == 0) return;
    std::snprintf(buffer, size, "%d", static_cast<int>(v));
}

constexpr ParseResult parseFailure() noexcept {
    return {false, std::nan("")};
}

// Copies text into the parse buffer the way "%.*s" does (stopping at an embedded NUL). False when
// the text is too long.
bool copyForParse(std::string_view text, char (&buffer)[kParseBufferBytes]) noexcept {
    if (text.size() >= kParseBufferBytes) return false;
    std::snprintf(buffer, sizeof buffer, "%.*s", static_cast<int>(text.size()), text.data());
    return true;
}

// One "%d" conversion. strtol is what the scanf family is defined by, but saturates on overflow
// where scanf's behaviour is undefined.
bool scanInt(const char* text, std::int32_t& out) noexcept {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (end == text) return false;
    if (v > INT32_MAX)
        out = INT32_MAX;
    else if (v < INT32_MIN)
        out = INT32_MIN;
    else
        out = static_cast<std::int32_t>(v);
    return true;
}

// One "%f" conversion into a float (saturates to +-infinity on overflow).
bool scanFloat(const char* text, float& out) noexcept {
    char* end = nullptr;
    errno = 0;
    const float v = std::strtof(text, &end);
    if (end == text) return false;
    out = v;
    return true;
}

}  // namespace

// ---- Parameter ----------------------------------------------------------------------------------

Parameter::Parameter(std::int32_t index, std::string_view name, std::string_view label)
    : index_(index), name_(name), label_(label) {}

Parameter::~Parameter() = default;

void Parameter::addListener(IParameterListener* listener) {
    ScopedLock guard(listenersMutex_);
    listeners_.push(listener);
}

void Parameter::removeListener(IParameterListener* listener) noexcept {
    ScopedLock guard(listenersMutex_);
    for (std::size_t i = 0; i < listeners_.length(); ++i) {
        if (listeners_[i] == listener) {
            listeners_.swapRemove(i);
            return;
        }
    }
}

void Parameter::setNormalizedFromHost(double normalized) noexcept {
    setNormalized(normalized);
    notifyListeners();
}

double Parameter::normalizedForHost() const noexcept {
    return getNormalized();
}

void Parameter::formatValue(char* buffer, std::size_t size) const noexcept {
    formatCurrentValue(buffer, size);
}

void Parameter::beginEdit() noexcept {
    if (client_ != nullptr && client_->hostCommand() != nullptr)
        client_->hostCommand()->beginParameterEdit(index_);
    ScopedLock guard(listenersMutex_);
    for (std::size_t i = 0; i < listeners_.length(); ++i) listeners_[i]->onBeginParameterEdit(*this);
}

void Parameter::endEdit() noexcept {
    if (client_ != nullptr && client_->hostCommand() != nullptr)
        client_->hostCommand()->endParameterEdit(index_);
    ScopedLock guard(listenersMutex_);
    for (std::size_t i = 0; i < listeners_.length(); ++i) listeners_[i]->onEndParameterEdit(*this);
}

void Parameter::notifyListeners() noexcept {
    // Never wait here: this may be the audio thread. Registration in progress means the
    // notification is skipped (see the header).
    ScopedTryLock guard(listenersMutex_);
    if (!guard.acquired()) return;
    for (std::size_t i = 0; i < listeners_.length(); ++i) listeners_[i]->onParameterChanged(*this);
}

void Parameter::reportEditorChange(double normalized) noexcept {
    if (client_ != nullptr && client_->hostCommand() != nullptr)
        client_->hostCommand()->automateParameter(index_, static_cast<float>(normalized));
}

// ---- BoolParameter ------------------------------------------------------------------------------

BoolParameter::BoolParameter(std::int32_t index, std::string_view name, bool defaultValue)
    : Parameter(index, name, ""), value_(defaultValue), defaultValue_(defaultValue) {}

void BoolParameter::setFromEditor(bool value) noexcept {
    storeFromEditor(value_, value);
}

double BoolParameter::getNormalized() const noexcept {
    return value() ? 1.0 : 0.0;
}
double BoolParameter::getNormalizedDefault() const noexcept {
    return defaultValue_ ? 1.0 : 0.0;
}

void BoolParameter::formatNormalized(double normalized, char* buffer, std::size_t size) const noexcept {
    if (std::isnan(normalized)) return formatCurrentValue(buffer, size);
    writeText(buffer, size, normalized >= 0.5 ? "yes" : "no");
}

ParseResult BoolParameter::parseToNormalized(std::string_view text) const noexcept {
    if (text == "no") return {true, 0.0};
    if (text == "yes") return {true, 1.0};
    return parseFailure();
}

void BoolParameter::setNormalized(double normalized) noexcept {
    if (std::isnan(normalized)) return;
    ScopedTryLock guard(mutex_);  // host writes never wait; the value is atomic either way
    value_.exchange(normalized >= 0.5, std::memory_order_acq_rel);
}

void BoolParameter::formatCurrentValue(char* buffer, std::size_t size) const noexcept {
    writeText(buffer, size, value() ? "yes" : "no");
}

void BoolParameter::resetToDefaultFromEditor() noexcept {
    beginEdit();
    setFromEditor(defaultValue_);
    endEdit();
}

void BoolParameter::setFromEditorNormalized(double normalized) noexcept {
    if (std::isnan(normalized)) return;
    setFromEditor(normalized >= 0.5);
}

// ---- IntegerParameter ---------------------------------------------------------------------------

IntegerParameter::IntegerParameter(std::int32_t index, std::string_view name, std::string_view label,
                                   std::int32_t min, std::int32_t max, std::int32_t defaultValue)
    : Parameter(index, name, label), min_(min), max_(max < min ? min : max) {
    defaultValue_ = defaultValue < min_ ? min_ : (defaultValue > max_ ? max_ : defaultValue);
    value_.store(defaultValue_);
}

std::int32_t IntegerParameter::fromNormalized(double normalized) const noexcept {
    const double n = std::isnan(normalized) ? 0.0 : clampUnit(normalized);
    const double lo = min_, hi = max_;
    // Clamping before the conversion keeps it defined; rounding is monotone and the bounds are
    // whole, so this equals clamping after rounding.
    return static_cast<std::int32_t>(clampRange(roundHalfAway(lo + (hi - lo) * n), lo, hi));
}

double IntegerParameter::toNormalized(std::int32_t plain) const noexcept {
    if (max_ == min_) return 0.0;
    return clampUnit((static_cast<double>(plain) - min_) / (static_cast<double>(max_) - min_));
}

void IntegerParameter::setFromEditor(std::int32_t value) noexcept {
    const std::int32_t clamped = value < min_ ? min_ : (value > max_ ? max_ : value);
    storeFromEditor(value_, clamped);
}

double IntegerParameter::getNormalized() const noexcept {
    return toNormalized(value());
}
double IntegerParameter::getNormalizedDefault() const noexcept {
    return toNormalized(defaultValue_);
}

void IntegerParameter::formatNormalized(double normalized, char* buffer, std::size_t size) const noexcept {
    if (std::isnan(normalized)) return formatCurrentValue(buffer, size);
    writeInt(buffer, size, fromNormalized(normalized));
}

ParseResult IntegerParameter::parseToNormalized(std::string_view text) const noexcept {
    char copy[kParseBufferBytes];
    std::int32_t parsed = 0;
    if (!copyForParse(text, copy) || !scanInt(copy, parsed)) return parseFailure();
    return {true, toNormalized(parsed)};
}

void IntegerParameter::setNormalized(double normalized) noexcept {
    if (std::isnan(normalized)) return;
    const std::int32_t v = fromNormalized(normalized);
    ScopedTryLock guard(mutex_);  // host writes never wait; the value is atomic either way
    value_.exchange(v, std::memory_order_acq_rel);
}

void IntegerParameter::formatCurrentValue(char* buffer, std::size_t size) const noexcept {
    writeInt(buffer, size, value());
}

void IntegerParameter::resetToDefaultFromEditor() noexcept {
    beginEdit();
    setFromEditor(defaultValue_);
    endEdit();
}

void IntegerParameter::setFromEditorNormalized(double normalized) noexcept {
    if (std::isnan(normalized)) return;
    setFromEditor(fromNormalized(normalized));
}

// ---- EnumParameter ------------------------------------------------------------------------------

namespace {
std::int32_t lastIndexOf(std::size_t count) {
    if (count == 0) fatalError("an enum parameter needs at least one value");
    if (count > static_cast<std::size_t>(INT32_MAX)) fatalError("too many enum values");
    return static_cast<std::int32_t>(count) - 1;
}
}  // namespace

EnumParameter::EnumParameter(std::int32_t index, std::string_view name,
                             std::initializer_list<std::string_view> possibleValues,
                             std::int32_t defaultValue)
    : IntegerParameter(index, name, "", 0, lastIndexOf(possibleValues.size()), defaultValue) {
    for (std::string_view v : possibleValues) possibleValues_.emplace_back(v);
}

EnumParameter::EnumParameter(std::int32_t index, std::string_view name,
                             const std::vector<std::string>& possibleValues, std::int32_t defaultValue)
    : IntegerParameter(index, name, "", 0, lastIndexOf(possibleValues.size()), defaultValue),
      possibleValues_(possibleValues) {}

void EnumParameter::formatNormalized(double normalized, char* buffer, std::size_t size) const noexcept {
    if (std::isnan(normalized)) return formatCurrentValue(buffer, size);
    if (size == 0) return;
    const std::string& text = possibleValue(fromNormalized(normalized));
    std::snprintf(buffer, size, "%.*s", static_cast<int>(text.size()), text.c_str());
}

ParseResult EnumParameter::parseToNormalized(std::string_view text) const noexcept {
    for (std::size_t i = 0; i < possibleValues_.size(); ++i)
        if (possibleValues_[i] == text) return {true, toNormalized(static_cast<std::int32_t>(i))};
    return parseFailure();
}

void EnumParameter::formatCurrentValue(char* buffer, std::size_t size) const noexcept {
    writeText(buffer, size, possibleValue(value()));
}

// ---- FloatParameter family ----------------------------------------------------------------------

FloatParameter::FloatParameter(std::int32_t index, std::string_view name, std::string_view label, double min,
                               double max, double defaultValue, const char* format)
    : Parameter(index, name, label), value_(defaultValue), min_(min), max_(max), defaultValue_(defaultValue) {
    std::snprintf(format_, sizeof format_, "%s", format);
}

void FloatParameter::setFromEditor(double value) noexcept {
    if (std::isnan(value)) return;
    const double clamped = clampRange(value, min_, max_);
    storeFromEditor(value_, clamped);
}

double FloatParameter::getNormalized() const noexcept {
    return toNormalized(value());
}
double FloatParameter::getNormalizedDefault() const noexcept {
    return toNormalized(defaultValue_);
}

void FloatParameter::formatNormalized(double normalized, char* buffer, std::size_t size) const noexcept {
    if (std::isnan(normalized)) return formatCurrentValue(buffer, size);
    if (size == 0) return;
    std::snprintf(buffer, size, format_, fromNormalized(clampUnit(normalized)));
}

ParseResult FloatParameter::parseToNormalized(std::string_view text) const noexcept {
    char copy[kParseBufferBytes];
    float parsed = 0.0f;
    if (!copyForParse(text, copy) || !scanFloat(copy, parsed)) return parseFailure();
    return {true, toNormalized(static_cast<double>(parsed))};
}

void FloatParameter::setNormalized(double normalized) noexcept {
    if (std::isnan(normalized)) return;
    const double v = fromNormalized(clampUnit(normalized));
    ScopedTryLock guard(mutex_);  // host writes never wait; the value is atomic either way
    value_.exchange(v, std::memory_order_acq_rel);
}

void FloatParameter::formatCurrentValue(char* buffer, std::size_t size) const noexcept {
    if (size == 0) return;
    std::snprintf(buffer, size, format_, value());
}

void FloatParameter::resetToDefaultFromEditor() noexcept {
    beginEdit();
    setFromEditor(defaultValue_);
    endEdit();
}

void FloatParameter::setFromEditorNormalized(double normalized) noexcept {
    if (std::isnan(normalized)) return;
    setFromEditor(fromNormalized(clampUnit(normalized)));
}

LinearFloatParameter::LinearFloatParameter(std::int32_t index, std::string_view name, std::string_view label,
                                           double min, double max, double defaultValue)
    : FloatParameter(index, name, label, min, max, defaultValue) {}

double LinearFloatParameter::toNormalized(double plain) const noexcept {
    return clampUnit((plain - min_) / (max_ - min_));
}

double LinearFloatParameter::fromNormalized(double normalized) const noexcept {
    return clampRange(min_ + (max_ - min_) * normalized, min_, max_);
}

LogFloatParameter::LogFloatParameter(std::int32_t index, std::string_view name, std::string_view label,
                                     double min, double max, double defaultValue)
    : FloatParameter(index, name, label, min, max, defaultValue) {}

double LogFloatParameter::toNormalized(double plain) const noexcept {
    return clampUnit(std::log(plain / min_) / std::log(max_ / min_));
}

double LogFloatParameter::fromNormalized(double normalized) const noexcept {
    return min_ * std::exp(normalized * std::log(max_ / min_));
}

GainParameter::GainParameter(std::int32_t index, std::string_view name, double maxDecibels,
                             double defaultDecibels)
    : FloatParameter(index, name, "dB", -INFINITY, maxDecibels, defaultDecibels, "%2.1f") {}

double GainParameter::toNormalized(double plain) const noexcept {
    return clampUnit(std::pow(std::exp(plain * kLn10Over20) / std::exp(max_ * kLn10Over20), 1.0 / shape_));
}

double GainParameter::fromNormalized(double normalized) const noexcept {
    return kTwentyOverLn10 * std::log(std::exp(max_ * kLn10Over20) * std::pow(normalized, shape_));
}

PowFloatParameter::PowFloatParameter(std::int32_t index, std::string_view name, std::string_view label,
                                     double min, double max, double defaultValue, double shape)
    : FloatParameter(index, name, label, min, max, defaultValue), shape_(shape) {}

double PowFloatParameter::toNormalized(double plain) const noexcept {
    return clampUnit(std::pow(clampUnit((plain - min_) / (max_ - min_)), 1.0 / shape_));
}

double PowFloatParameter::fromNormalized(double normalized) const noexcept {
    return clampRange(min_ + (max_ - min_) * std::pow(normalized, shape_), min_, max_);
}

}  // namespace korvo
