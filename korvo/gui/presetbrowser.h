#pragma once
// PresetBrowser: what the editor's preset strip does with the client's settings. It lists the
// factory presets and the user's preset files, loads one, steps through them, saves the current
// settings as a user preset, tells whether the settings differ from the preset loaded, and keeps
// the two compare slots A and B.
//
// Loading (a factory preset, a user file) works as the host's program change does: the values
// are set without gestures, the host is told to read them all again (parameterValuesChanged),
// and the change is one undo step of the edit history. A factory preset always loads with the
// values it was built with, whatever a program change stored into the bank since. A user file
// goes through the checks of the host's setState first: a damaged, foreign or newer file loads
// nothing and gives its reason.
//
// Compare: slot A is shown at first. Switching stores the settings into the shown slot and
// applies the other one as one host gesture (beginGroupEdit, then begin, value and end for every
// parameter that changes, overlapping, so the edit history makes one step of it); a slot never
// filled takes the current settings. copyToOther copies the shown slot's settings into the other.
//
// The browser lives with the editor object, so the slots and the loaded preset survive closing
// and reopening the view. Thread contract: [main-thread]; files are read and written on it.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvo {

class Client;
class EditHistory;

class PresetBrowser {
public:
    struct Entry {
        std::string name;
        std::int32_t factoryIndex = -1;  // a factory preset's bank index; -1 for a user file
        std::string path;                // a user file's path
        const char* problem = nullptr;   // why a user file cannot load (null: it can)
    };
    enum class SaveResult { saved, exists, failed };

    // client and history are not owned and outlive the browser; folder holds the user presets
    // (made when the first one is saved).
    PresetBrowser(Client& client, EditHistory& history, std::string folder);

    const std::string& folder() const noexcept { return folder_; }
    void setFolder(std::string folder) { folder_ = std::move(folder); }

    // The factory presets in bank order, then the user files sorted by name, each checked.
    std::vector<Entry> entries() const;
    // Loads an entry of entries(); false (nothing applied, `message` set) for a file that does not
    // load.
    bool load(const Entry& entry, std::string& message);
    // The next (+1) or previous (-1) loadable entry after the current one, wrapping around.
    void step(std::int32_t direction, std::string& message);
    // Saves the current settings as `name` in the user folder (the file name made safe). An
    // existing file is replaced only with `replace`; otherwise the answer is `exists`.
    SaveResult save(std::string_view name, bool replace, std::string& message);

    // The loaded preset's name, and whether any parameter differs from it. A program change of
    // the host (the bank's current preset moved) is taken as the loaded preset by followHost.
    const std::string& currentName() const noexcept { return name_; }
    // Whether `entry` is the preset loaded last.
    bool isCurrent(const Entry& entry) const noexcept {
        return factoryIndex_ >= 0 ? entry.factoryIndex == factoryIndex_ : entry.factoryIndex < 0 && entry.path == path_;
    }
    bool modified() const;
    // True when the bank's current preset moved since the last look (the host changed program).
    bool followHost();

    std::int32_t slot() const noexcept { return slot_; }
    void switchSlot();
    void copyToOther();

private:
    std::vector<double> valuesNow() const;
    void applyValues(const std::vector<double>& values);
    void loaded(std::string name, std::int32_t factoryIndex, std::string path);

    Client& client_;
    EditHistory& history_;
    std::string folder_;
    std::vector<std::vector<double>> factory_;  // each factory preset's values, as built
    std::string name_;
    std::int32_t factoryIndex_ = -1;
    std::string path_;
    std::vector<double> loadedValues_;
    std::int32_t seenBankIndex_ = -1;
    std::int32_t slot_ = 0;
    std::vector<double> slots_[2];
};

}  // namespace korvo
