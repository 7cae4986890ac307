#pragma once
// Parameters: the automatable controls of a plug-in.
//
// A parameter shows the host a normalized value (double in [0, 1]) and shows the DSP and the editor
// a typed plain value; it converts both ways, formats and parses text, notifies listeners and
// reports edit gestures to the host through its client's IHostCommand. Its index in the client's
// parameter array is its identity everywhere (host parameter ID, position in presets and state
// chunks, index the DSP reads).
//
// Class tree: Parameter -> BoolParameter; Parameter -> IntegerParameter -> EnumParameter;
// Parameter -> FloatParameter -> LinearFloatParameter, LogFloatParameter, GainParameter,
// PowFloatParameter.
//
// Threads and locks
// - The plain value is one atomic field. The DSP reads it with value(), a single atomic load that
//   takes no lock. [audio-thread]
// - Writers store it with an atomic exchange. The editor's write path (setFromEditor) holds the
//   parameter's recursive mutex across "store, read back the normalized value", so that pair is
//   consistent with other editor writes. Host writes (setNormalizedFromHost / setNormalized) may
//   come from the audio thread, which must never block: they only *try* the mutex and store anyway
//   when it is busy. The value is atomic, so nothing is torn either way.
// - Reads of the normalized value (getNormalized, normalizedForHost) and formatCurrentValue are
//   one atomic load plus arithmetic, lock-free, so preset changes on the audio thread never block.
// - Listener list: addListener/removeListener (editor thread) take the list's own mutex;
//   notification (any thread, including audio) only tries it, and when registration holds it the
//   notification is skipped. A listener only records "something changed", and one being added is
//   about to draw anyway, so a skipped notice loses nothing. Once removeListener returns, the
//   removed listener is never called again.
// - Listeners run on the thread that made the change and must not block.
//
// Non-finite input
// - A NaN normalized value never changes a parameter: setNormalized(NaN) and
//   setNormalizedFromHost(NaN) leave the value as it is (the latter still notifies), and
//   formatNormalized(NaN) prints the current value.
// - Every other normalized input (including +-infinity) is clamped to [0, 1] before mapping, so a
//   stored value is always inside [min, max] (GainParameter: -infinity dB at 0 is in range).
// - Conversions to normalized map NaN to 0 and clamp to [0, 1]; a degenerate range (max == min)
//   maps to 0. Text is parsed without undefined behaviour for any input (out-of-range numbers
//   saturate; "nan"/"inf" parse and convert as above).

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "korvo/core/sync.h"
#include "korvo/core/vec.h"

namespace korvo {

class Client;
class Parameter;

// Observer of one or more parameters (not owned by them). Called on the thread that made the
// change, possibly the audio thread: record the change (mark dirty) and return; never block.
class IParameterListener {
public:
    virtual ~IParameterListener() = default;
    virtual void onParameterChanged(Parameter& parameter) noexcept = 0;
    virtual void onBeginParameterEdit(Parameter& parameter) noexcept = 0;
    virtual void onEndParameterEdit(Parameter& parameter) noexcept = 0;
};

// Result of parsing text. On failure ok is false and normalized is NaN.
struct ParseResult {
    bool ok;
    double normalized;
};

class Parameter {
public:
    Parameter(std::int32_t index, std::string_view name, std::string_view label);
    virtual ~Parameter();
    Parameter(const Parameter&) = delete;
    Parameter& operator=(const Parameter&) = delete;

    // Listener registration. [main-thread] Blocks while a notification is running.
    virtual void addListener(IParameterListener* listener);
    // Removes the first entry equal to listener by moving the last entry into its place (order is
    // not kept). Absent listener: nothing. [main-thread]
    virtual void removeListener(IParameterListener* listener) noexcept;

    virtual const std::string& name() const noexcept { return name_; }    // [any-thread]
    virtual const std::string& label() const noexcept { return label_; }  // [any-thread]
    virtual std::int32_t index() const noexcept { return index_; }        // [any-thread]

    // setNormalized(normalized), then notifyListeners(). [any-thread, including audio]
    virtual void setNormalizedFromHost(double normalized) noexcept;
    // getNormalized(). [any-thread]
    virtual double normalizedForHost() const noexcept;
    // formatCurrentValue. [any-thread]
    virtual void formatValue(char* buffer, std::size_t size) const noexcept;

    // Edit gesture from the editor: tells the host (when the client has a host command), then
    // every listener in list order. [main-thread]
    virtual void beginEdit() noexcept;
    virtual void endEdit() noexcept;

    // Normalized value of the current plain value, in [0, 1]. Lock-free. [any-thread]
    virtual double getNormalized() const noexcept = 0;
    // Normalized value of the default, in [0, 1]. [any-thread]
    virtual double getNormalizedDefault() const noexcept = 0;
    // Text of the plain value `normalized` maps to; truncated to size - 1 bytes plus a NUL.
    // [any-thread]
    virtual void formatNormalized(double normalized, char* buffer, std::size_t size) const noexcept = 0;
    // Text to normalized. Never modifies the parameter. [any-thread]
    virtual ParseResult parseToNormalized(std::string_view text) const noexcept = 0;
    // True for Bool, Integer and Enum kinds. [any-thread]
    virtual bool isStepped() const noexcept = 0;
    // Stores the plain value `normalized` maps to; no notification. [any-thread, including audio]
    virtual void setNormalized(double normalized) noexcept = 0;
    // Text of the current plain value. [any-thread]
    virtual void formatCurrentValue(char* buffer, std::size_t size) const noexcept = 0;
    // onParameterChanged(this) on every listener in list order; skipped when the list is being
    // modified at this moment (see the header comment). [any-thread, including audio]
    virtual void notifyListeners() noexcept;

    // The editor's drag path: maps a target normalized value to a plain value (rounded for the
    // stepped kinds) and runs setFromEditor with it. NaN does nothing. [main-thread]
    virtual void setFromEditorNormalized(double normalized) noexcept = 0;
    // The editor's "reset to default": beginEdit, setFromEditor(defaultValue), endEdit.
    // [main-thread]
    virtual void resetToDefaultFromEditor() noexcept = 0;

    // Steps a host shows for the parameter: 0 continuous, 1 on/off, n for n + 1 whole values
    // (Integer: max - min; Enum: the number of values - 1). [any-thread]
    virtual std::int32_t stepCount() const noexcept { return 0; }

    // A hidden parameter is kept (its ID, value and place in presets and state) but not shown to
    // hosts as something to edit or automate. Set while the client builds its parameters.
    bool isHidden() const noexcept { return hidden_; }
    void setHidden(bool hidden) noexcept { hidden_ = hidden; }

    // The owning client, set by the client when it takes the parameter. [any-thread]
    Client* client() const noexcept { return client_; }
    void setClient(Client* client) noexcept { client_ = client; }

protected:
    // Tells the host about an editor change (automateParameter) when a host command exists.
    void reportEditorChange(double normalized) noexcept;
    // The editor's write path: under the mutex store the value and read back its normalized form,
    // then tell the host and notify the listeners. [main-thread]
    template <class T>
    void storeFromEditor(std::atomic<T>& field, T value) noexcept {
        double normalized;
        {
            ScopedLock guard(mutex_);
            field.exchange(value, std::memory_order_acq_rel);
            normalized = getNormalized();
        }
        reportEditorChange(normalized);
        notifyListeners();
    }

    // Recursive; held by setFromEditor, tried by host writes.
    mutable UncheckedMutex mutex_;

private:
    Client* client_ = nullptr;
    bool hidden_ = false;
    std::int32_t index_;
    std::string name_;
    std::string label_;
    Vec<IParameterListener*> listeners_;
    mutable UncheckedMutex listenersMutex_;
};

// On/off. Plain value bool; normalized 0 or 1; text "yes" / "no".
class BoolParameter : public Parameter {
public:
    BoolParameter(std::int32_t index, std::string_view name, bool defaultValue);

    // [audio-thread] one atomic load, no lock.
    bool value() const noexcept { return value_.load(std::memory_order_acquire); }
    bool defaultValue() const noexcept { return defaultValue_; }

    // Stores the value unchanged, tells the host, notifies listeners. [main-thread]
    void setFromEditor(bool value) noexcept;

    double getNormalized() const noexcept override;
    double getNormalizedDefault() const noexcept override;
    void formatNormalized(double normalized, char* buffer, std::size_t size) const noexcept override;
    // Exactly "no" -> 0, exactly "yes" -> 1; anything else fails.
    ParseResult parseToNormalized(std::string_view text) const noexcept override;
    bool isStepped() const noexcept override { return true; }
    std::int32_t stepCount() const noexcept override { return 1; }
    void setNormalized(double normalized) noexcept override;  // value <- normalized >= 0.5
    void formatCurrentValue(char* buffer, std::size_t size) const noexcept override;
    void setFromEditorNormalized(double normalized) noexcept override;
    void resetToDefaultFromEditor() noexcept override;

private:
    std::atomic<bool> value_;
    bool defaultValue_;
};

// Whole numbers in [min, max]. Normalized (v - min) / (max - min); text "%d".
class IntegerParameter : public Parameter {
public:
    // defaultValue is clamped to [min, max]; value starts at it.
    IntegerParameter(std::int32_t index, std::string_view name, std::string_view label, std::int32_t min,
                     std::int32_t max, std::int32_t defaultValue);

    // [audio-thread] one atomic load, no lock.
    std::int32_t value() const noexcept { return value_.load(std::memory_order_acquire); }
    std::int32_t minValue() const noexcept { return min_; }
    std::int32_t maxValue() const noexcept { return max_; }
    std::int32_t defaultValue() const noexcept { return defaultValue_; }

    // Plain value that normalized maps to: clamp(round(min + (max - min) * n), min, max), with
    // rounding half away from zero. n is clamped to [0, 1] first; NaN gives min. [any-thread]
    std::int32_t fromNormalized(double normalized) const noexcept;
    // clamp((v - min) / (max - min), 0, 1) in double; 0 when max == min. [any-thread]
    double toNormalized(std::int32_t plain) const noexcept;

    // Clamps to [min, max], stores, tells the host, notifies listeners. [main-thread]
    void setFromEditor(std::int32_t value) noexcept;

    double getNormalized() const noexcept override;
    double getNormalizedDefault() const noexcept override;
    void formatNormalized(double normalized, char* buffer, std::size_t size) const noexcept override;
    // Fails at 64 or more characters; otherwise one "%d" conversion is required.
    ParseResult parseToNormalized(std::string_view text) const noexcept override;
    bool isStepped() const noexcept override { return true; }
    std::int32_t stepCount() const noexcept override {
        const std::int64_t steps = static_cast<std::int64_t>(max_) - min_;
        return steps > 0 ? static_cast<std::int32_t>(std::min<std::int64_t>(steps, INT32_MAX)) : 0;
    }
    void setNormalized(double normalized) noexcept override;
    void formatCurrentValue(char* buffer, std::size_t size) const noexcept override;
    void setFromEditorNormalized(double normalized) noexcept override;
    void resetToDefaultFromEditor() noexcept override;

protected:
    std::atomic<std::int32_t> value_;
    std::int32_t min_, max_, defaultValue_;
};

// A choice among named values; the plain value is the index (min 0, max count - 1); label empty.
class EnumParameter : public IntegerParameter {
public:
    // possibleValues must not be empty.
    EnumParameter(std::int32_t index, std::string_view name,
                  std::initializer_list<std::string_view> possibleValues, std::int32_t defaultValue);
    EnumParameter(std::int32_t index, std::string_view name, const std::vector<std::string>& possibleValues,
                  std::int32_t defaultValue);

    std::int32_t possibleValueCount() const noexcept {
        return static_cast<std::int32_t>(possibleValues_.size());
    }
    const std::string& possibleValue(std::int32_t i) const noexcept {
        return possibleValues_[static_cast<std::size_t>(i)];
    }

    void formatNormalized(double normalized, char* buffer, std::size_t size) const noexcept override;
    // The index of the first possible value equal to text (same bytes, case-sensitive).
    ParseResult parseToNormalized(std::string_view text) const noexcept override;
    void formatCurrentValue(char* buffer, std::size_t size) const noexcept override;

private:
    std::vector<std::string> possibleValues_;
};

// Continuous values. The plain value is a double; text uses a printf format ("%2.2f" default).
class FloatParameter : public Parameter {
public:
    // [audio-thread] one atomic load, no lock.
    double value() const noexcept { return value_.load(std::memory_order_acquire); }
    double minValue() const noexcept { return min_; }
    double maxValue() const noexcept { return max_; }
    double defaultValue() const noexcept { return defaultValue_; }

    // Clamps to [min, max], stores, tells the host, notifies listeners. NaN does nothing.
    // [main-thread]
    void setFromEditor(double value) noexcept;

    double getNormalized() const noexcept override;  // toNormalized(value)
    double getNormalizedDefault() const noexcept override;
    void formatNormalized(double normalized, char* buffer, std::size_t size) const noexcept override;
    // Fails at 64 or more characters; otherwise one "%f" conversion into a float is required;
    // result toNormalized(parsed).
    ParseResult parseToNormalized(std::string_view text) const noexcept override;
    bool isStepped() const noexcept override { return false; }
    void setNormalized(double normalized) noexcept override;  // value <- fromNormalized(clamped n)
    void formatCurrentValue(char* buffer, std::size_t size) const noexcept override;
    void setFromEditorNormalized(double normalized) noexcept override;
    void resetToDefaultFromEditor() noexcept override;

    // Plain to normalized, in [0, 1] (NaN gives 0). [any-thread]
    virtual double toNormalized(double plain) const noexcept = 0;
    // Normalized to plain: the bare mapping, defined for any input (callers clamp). [any-thread]
    virtual double fromNormalized(double normalized) const noexcept = 0;

    const char* format() const noexcept { return format_; }

protected:
    // value starts at defaultValue. format has at most 5 characters.
    FloatParameter(std::int32_t index, std::string_view name, std::string_view label, double min, double max,
                   double defaultValue, const char* format = "%2.2f");

    std::atomic<double> value_;
    double min_, max_, defaultValue_;
    char format_[6];
};

// Linear: toNormalized clamp((x - min) / (max - min), 0, 1); fromNormalized clamp(min + (max - min)
// * n, min, max). The effect passes float literals; they are widened to double.
class LinearFloatParameter : public FloatParameter {
public:
    LinearFloatParameter(std::int32_t index, std::string_view name, std::string_view label, double min,
                         double max, double defaultValue);
    double toNormalized(double plain) const noexcept override;
    double fromNormalized(double normalized) const noexcept override;
};

// Logarithmic (min > 0): toNormalized clamp(ln(x / min) / ln(max / min), 0, 1); fromNormalized
// min * exp(n * ln(max / min)), not clamped.
class LogFloatParameter : public FloatParameter {
public:
    LogFloatParameter(std::int32_t index, std::string_view name, std::string_view label, double min,
                      double max, double defaultValue);
    double toNormalized(double plain) const noexcept override;
    double fromNormalized(double normalized) const noexcept override;
};

// Decibels; label "dB", min -infinity, shape 2, format "%2.1f". Normalized 1 is max dB, 0 is
// -infinity dB; the amplitude ratio to max is n^shape.
class GainParameter : public FloatParameter {
public:
    GainParameter(std::int32_t index, std::string_view name, double maxDecibels, double defaultDecibels);
    double shape() const noexcept { return shape_; }
    double toNormalized(double plain) const noexcept override;
    double fromNormalized(double normalized) const noexcept override;

private:
    double shape_ = 2.0;
};

// Power curve: toNormalized clamp((x - min) / (max - min), 0, 1)^(1 / shape); fromNormalized
// clamp(min + (max - min) * n^shape, min, max).
class PowFloatParameter : public FloatParameter {
public:
    PowFloatParameter(std::int32_t index, std::string_view name, std::string_view label, double min,
                      double max, double defaultValue, double shape);
    double shape() const noexcept { return shape_; }
    double toNormalized(double plain) const noexcept override;
    double fromNormalized(double normalized) const noexcept override;

private:
    double shape_;
};

}  // namespace korvo
