#include "korvo/gui/presetbrowser.h"

#include "korvo/client/client.h"
#include "korvo/client/presetfile.h"
#include "korvo/gui/history.h"

namespace korvo {

namespace {
constexpr char kNameMissing[] = "Type a name first";
}  // namespace

PresetBrowser::PresetBrowser(Client& client, EditHistory& history, std::string folder)
    : client_(client), history_(history), folder_(std::move(folder)) {
    const PresetBank& bank = client_.presetBank();
    for (std::int32_t i = 0; i < bank.count(); ++i) {
        const Preset& preset = bank.preset(i);
        std::vector<double> values(static_cast<std::size_t>(client_.parameterCount()));
        for (std::int32_t p = 0; p < client_.parameterCount(); ++p)
            values[static_cast<std::size_t>(p)] =
                static_cast<std::size_t>(p) < preset.normalizedValues.length()
                    ? static_cast<double>(preset.normalizedValues[static_cast<std::size_t>(p)])
                    : client_.parameter(p).getNormalizedDefault();
        factory_.push_back(std::move(values));
    }
    // What the editor finds is the bank's current preset, as the host last left it.
    seenBankIndex_ = bank.current();
    name_ = bank.count() > 0 ? bank.presetName(seenBankIndex_) : std::string();
    factoryIndex_ = seenBankIndex_;
    loadedValues_ = bank.count() > 0 ? factory_[static_cast<std::size_t>(seenBankIndex_)] : valuesNow();
}

std::vector<double> PresetBrowser::valuesNow() const {
    std::vector<double> values(static_cast<std::size_t>(client_.parameterCount()));
    for (std::int32_t p = 0; p < client_.parameterCount(); ++p)
        values[static_cast<std::size_t>(p)] = client_.parameter(p).getNormalized();
    return values;
}

std::vector<PresetBrowser::Entry> PresetBrowser::entries() const {
    std::vector<Entry> list;
    const PresetBank& bank = client_.presetBank();
    for (std::int32_t i = 0; i < bank.count(); ++i) list.push_back(Entry{bank.presetName(i), i, {}, nullptr});
    for (const std::string& name : presetFilesIn(folder_)) {
        Entry e{name, -1, joinPath(folder_, name + ".vstpreset"), nullptr};
        std::vector<std::uint8_t> bytes;
        std::string error;
        if (!readWholeFile(e.path, bytes, error))
            e.problem = kPresetFileDamaged;
        else
            e.problem = readPresetFileInto(client_, bytes.data(), bytes.size(), false);
        list.push_back(std::move(e));
    }
    return list;
}

void PresetBrowser::loaded(std::string name, std::int32_t factoryIndex, std::string path) {
    name_ = std::move(name);
    factoryIndex_ = factoryIndex;
    path_ = std::move(path);
    loadedValues_ = valuesNow();
    seenBankIndex_ = client_.presetBank().current();
    if (IHostCommand* host = client_.hostCommand()) host->parameterValuesChanged();
}

bool PresetBrowser::load(const Entry& entry, std::string& message) {
    const std::vector<double> before = history_.values();
    if (entry.factoryIndex >= 0) {
        if (entry.factoryIndex >= static_cast<std::int32_t>(factory_.size())) return false;
        client_.presetBank().selectPresetFromHost(entry.factoryIndex);
        const std::vector<double>& values = factory_[static_cast<std::size_t>(entry.factoryIndex)];
        for (std::int32_t p = 0; p < client_.parameterCount(); ++p)
            client_.parameter(p).setNormalizedFromHost(values[static_cast<std::size_t>(p)]);
    } else {
        std::vector<std::uint8_t> bytes;
        std::string error;
        if (!readWholeFile(entry.path, bytes, error)) {
            message = error;
            return false;
        }
        if (const char* problem = readPresetFileInto(client_, bytes.data(), bytes.size(), true)) {
            message = problem;
            return false;
        }
    }
    history_.recordChange(before);
    loaded(entry.name, entry.factoryIndex, entry.path);
    return true;
}

void PresetBrowser::step(std::int32_t direction, std::string& message) {
    const std::vector<Entry> list = entries();
    const auto n = static_cast<std::int32_t>(list.size());
    if (n == 0) return;
    std::int32_t at = -1;
    for (std::int32_t i = 0; i < n && at < 0; ++i) {
        if (isCurrent(list[static_cast<std::size_t>(i)])) at = i;
    }
    if (at < 0) at = direction > 0 ? -1 : 0;
    for (std::int32_t tries = 0; tries < n; ++tries) {
        at = ((at + (direction > 0 ? 1 : -1)) % n + n) % n;
        const Entry& e = list[static_cast<std::size_t>(at)];
        if (e.problem == nullptr) {
            load(e, message);
            return;
        }
    }
}

PresetBrowser::SaveResult PresetBrowser::save(std::string_view name, bool replace, std::string& message) {
    const std::string file = presetFileName(name);
    if (file.empty()) {
        message = kNameMissing;
        return SaveResult::failed;
    }
    const std::string path = joinPath(folder_, file + ".vstpreset");
    if (!replace && pathExists(path)) return SaveResult::exists;
    if (!makeFolders(folder_, message) || !writeFileAtomically(path, presetFileOf(client_), message))
        return SaveResult::failed;
    name_ = file;
    factoryIndex_ = -1;
    path_ = path;
    loadedValues_ = valuesNow();
    return SaveResult::saved;
}

bool PresetBrowser::modified() const {
    // Asked every animation tick: compared in place. Values travel through float in presets and
    // state chunks.
    if (loadedValues_.size() != static_cast<std::size_t>(client_.parameterCount())) return true;
    for (std::int32_t p = 0; p < client_.parameterCount(); ++p)
        if (static_cast<float>(client_.parameter(p).getNormalized()) !=
            static_cast<float>(loadedValues_[static_cast<std::size_t>(p)]))
            return true;
    return false;
}

bool PresetBrowser::followHost() {
    const PresetBank& bank = client_.presetBank();
    const std::int32_t current = bank.current();
    if (current == seenBankIndex_ || current < 0 || current >= bank.count()) return false;
    seenBankIndex_ = current;
    name_ = bank.presetName(current);
    factoryIndex_ = current;
    path_.clear();
    loadedValues_ = valuesNow();
    return true;
}

void PresetBrowser::applyValues(const std::vector<double>& values) {
    std::vector<Parameter*> changing;
    for (std::int32_t p = 0; p < client_.parameterCount(); ++p)
        if (client_.parameter(p).getNormalized() != values[static_cast<std::size_t>(p)])
            changing.push_back(&client_.parameter(p));
    if (changing.empty()) return;
    IHostCommand* host = client_.hostCommand();
    if (host != nullptr) host->beginGroupEdit();
    for (Parameter* p : changing) p->beginEdit();
    for (Parameter* p : changing) p->setFromEditorNormalized(values[static_cast<std::size_t>(p->index())]);
    for (Parameter* p : changing) p->endEdit();
    if (host != nullptr) host->endGroupEdit();
}

void PresetBrowser::switchSlot() {
    const std::int32_t other = 1 - slot_;
    slots_[slot_] = valuesNow();
    if (slots_[other].size() != slots_[slot_].size()) slots_[other] = slots_[slot_];
    slot_ = other;
    applyValues(slots_[other]);
}

void PresetBrowser::copyToOther() {
    slots_[1 - slot_] = valuesNow();
}

}  // namespace korvo
