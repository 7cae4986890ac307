#pragma once
// VelmoraGUI: the effect's editor, 763 x 494 pixels at 100 %, drawn at any scale from 37.5 % to
// 400 % (GUIGraphics: the screen's scale times the user's zoom).
//
// Artwork at a scale: the background layers and the logo are embedded drawn at 100 % and at 200 %;
// those two scales show the embedded pictures as they are. Any other scale first shows the nearer
// embedded set resampled to the exact size (the 100 % set below 100 %, the 200 % set above), while a
// thread of its own draws the panel and the logo at that scale with the artwork generator
// (effect/artwork); the next animation tick after it finished shows the drawing. A change of scale
// or the editor's end stops a drawing under way.
//
// Everything the user sees is built once, in the constructor: the compositor's lighting set-up,
// the lit margin, the two fonts ("Lato Semibold" for labels and value hints, the display face
// League Spartan Bold for the subtitle), the background layers decoded from the embedded artwork,
// the skybox, every widget at its box bound to its parameter, the eighteen value hints and the
// colour correction over everything. Afterwards the editor itself only paints its background
// (colour with the emissive alpha, material, and the depth relief with four slopes laid over it)
// and forwards display data.
//
// Widgets, in the order they are added (drawing and clicks follow z-order, then this order):
//   logo, subtitle, "Distance" and "Output Level" sliders, "Stereo Width" and "Dry / Wet" knobs,
//   "Test Mono" switch, bow game, the generator's amount / delay / low-pass knobs, "Tilt", "Pan",
//   "Head size", "Level pan", "Spectral Pan", phase scope, panorama, the four LFO depth knobs,
//   "LFO Phase", the tempo drop-down (z-order 2), the wave radio set, "LFO Freq", "LFO Synced",
//   18 value hints (z-order 3), the preset strip, the text field (z-order 4), the focus ring
//   (z-order 5), the menu (z-order 10), and the colour correction, always the last child.
//
// The subtitle is "HE WHO CONTROLS THE SPACE" or "SPATIALIZATION TOOLBOX", chosen by bit 9 of the
// editor's address, so either may greet the user from one opening to the next.
//
// Displays: the constructor attaches the panorama and the phase scope to the client's feed
// (VelmoraClient::attachDisplays) and the destructor detaches them before anything else goes.
// sendPanoramaState and sendPhaseSamples forward display data unchanged to the two displays.
//
// Ownership: made by VelmoraClient::createGraphics and owned by the client, which outlives it
// (its parameters too); the widgets belong to the element tree, the fonts and background images
// to the editor. Closing the view only closes the window: the same editor opens again.
//
// Threads: sendPanoramaState and sendPhaseSamples are [audio-thread] (called only while the audio
// thread holds the editor; they never block or allocate). Everything else is [main-thread] (the
// editor's thread), with onDrawPBR running on the render pool during a frame.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "korvo/core/nogc.h"
#include "korvo/graphics/font.h"
#include "korvo/graphics/image.h"
#include "korvo/gui/graphics.h"
#include "korvo/gui/history.h"
#include "korvo/gui/presetbrowser.h"

namespace korvo {
class UIColorCorrection;
class UIKnob;
class UIMenu;
class UILabel;
class UILogo;
class UIOnOffSwitch;
class UIParamHint;
class UIPresetStrip;
class UISlider;
class UITextField;
class PresetBrowser;
}  // namespace korvo
namespace tessary {
class TessaryDropdown;
class TessaryRadioButtonSet;
}  // namespace tessary

namespace velmora {

class BowGame;
class PanoramaDisplay;
class PhaseDisplay;
class VelmoraClient;

class VelmoraGUI : public korvo::GUIGraphics {
public:
    static constexpr std::int32_t kWidth = 763;
    static constexpr std::int32_t kHeight = 494;
    static constexpr std::int32_t kLitMargin = 19;
    static constexpr std::int32_t kHintCount = 18;
    static constexpr std::int32_t kHintWidth = 40;
    static constexpr std::int32_t kHintHeight = 22;
    static constexpr const char* kSubtitles[2] = {"HE WHO CONTROLS THE SPACE", "SPATIALIZATION TOOLBOX"};

    // A box of the background whose depth is replaced by a vertical gradient from `top` (first
    // row) to `bottom` (last row) along curve(t), t = (y - y0) / (y1 - y0).
    struct Slope {
        korvo::IntRect box;
        std::uint16_t top;
        std::uint16_t bottom;
        float (*curve)(float t);
    };
    static const std::array<Slope, 4> kSlopes;

    // Builds the whole editor for `client` (not owned; it must outlive the editor) and attaches
    // the displays to its feed. Decodes the embedded artwork. [main-thread]
    explicit VelmoraGUI(VelmoraClient& client);
    ~VelmoraGUI() override;
    korvo::EditHistory& history() noexcept { return *history_; }
    // The presets, the compare slots and the user's folder (~/.vst3/presets/Tessary/Velmora or
    // Documents\VST3 Presets\Tessary\Velmora); they live with the editor object.
    korvo::PresetBrowser& presetBrowser() noexcept { return *presetBrowser_; }

    // ---- Operations of the editor, in slot order ------------------------------------------------
    // Adds the 18 value hints (called once by the constructor).
    virtual void createParamHints();
    // The feed, forwarded unchanged to the panorama display. [audio-thread]
    virtual void sendPanoramaState(float sampleRate, float gain, float tilt, float distance,
                                   float pan) noexcept;
    // The feed, forwarded unchanged to the phase display. [audio-thread]
    virtual void sendPhaseSamples(const float* left, const float* right, std::int32_t frames,
                                  float sampleRate) noexcept;

    // ---- UIElement -------------------------------------------------------------------------------
    // Only stores the box: the widgets keep the boxes the constructor gave them.
    void reflow(korvo::IntRect availableSpace) override;
    // The background: colour, depth and material copied from the artwork, then the four slopes,
    // each clipped to the dirty rectangle.
    void onDrawPBR(korvo::ImageView<korvo::RGBA> diffuseMap, korvo::ImageView<korvo::L16> depthMap,
                   korvo::ImageView<korvo::RGBA> materialMap,
                   const korvo::Vec<korvo::IntRect>& dirtyRects) override;
    // The background layers copied, and the slopes written, per rectangle.
    bool drawsInParts() const noexcept override { return true; }
    // The background layers and the logo at the drawing's scale, decoded (and resampled) on the
    // first need after a change of scale: before the buffers of a frame are made, or when asked for.
    korvo::ImageView<korvo::RGBA> onResize(std::int32_t width, std::int32_t height) override;
    // Takes the artwork drawn for the scale once its thread finished.
    void onAnimate(double dt, double time) override;
    // A right click on the panel itself (no control takes it) opens the size menu when the button
    // is released (75 % to 300 % of the screen's scale; sizes beyond the largest scale greyed).
    bool onMouseClick(std::int32_t x, std::int32_t y, korvo::MouseButton button, bool isDoubleClick,
                      korvo::MouseState mouseState) override;
    void onStopDrag() override;
    // Opens the size menu at a device point (as a right click there does). [main-thread]
    void openSizeMenu(korvo::IntPoint at);
    // The preset list under the strip's name window: the factory presets, the user's presets
    // (those that cannot load greyed), then "Save as...". [main-thread]
    void openPresetList();
    // "Save as...": the text field over the name window, holding the preset's name.
    void startSaveAs();
    // What a press on a part of the preset strip does.
    void pressPresetStrip(std::int32_t part);
    // A control's menu: the host's for its parameter with "Reset to default" and "Enter value..."
    // added, or, from a host without one, our own menu of those two.
    bool offersParameterMenu() const noexcept override { return true; }
    void openParameterMenu(korvo::Parameter& parameter, korvo::IntPoint at) override;
    // "Enter value...": the text field over the parameter's value hint, holding its value; what it
    // cannot read is refused (the field stays, a message says why).
    void startValueEntry(korvo::Parameter& parameter);
    static constexpr const char* kMenuReset = "Reset to default";
    static constexpr const char* kMenuEnterValue = "Enter value...";
    // The zooms the size menu offers, in its order.
    static constexpr std::array<float, 7> kZooms{0.75f, 1.0f, 1.25f, 1.5f, 2.0f, 2.5f, 3.0f};

    // The subtitle an editor at `address` shows: bit 9 clear -> kSubtitles[0], set -> kSubtitles[1].
    static const char* subtitleFor(const void* address) noexcept;

    // The background depth from a depth PNG whose R + G + B is three times the height (8 bits):
    // each pixel (R + G + B) * 257 / 3, alpha ignored. Ends the process on undecodable bytes.
    static korvo::HeapPtr<korvo::OwnedImage<korvo::L16>> depthFromPNG(const std::uint8_t* bytes,
                                                                      std::size_t size);

    // ---- Artwork tools ------------------------------------------------------------------------------
    // Shows other background layers of the editor's (device) size in place of the embedded ones (colour with
    // the emissive alpha, material, depth as depthFromPNG makes it), to look at artwork before it is
    // embedded, and marks everything dirty. Layers of another size are refused (false). [main-thread]
    bool replaceBackground(korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> diffuse,
                           korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> material,
                           korvo::HeapPtr<korvo::OwnedImage<korvo::L16>> depth);

    // ---- Access (tests, tools) ----------------------------------------------------------------------
    VelmoraClient& client() const noexcept { return client_; }
    korvo::Font& fontLato() const noexcept { return *fontLato_; }
    korvo::Font& fontCouture() const noexcept { return *fontCouture_; }
    // The background layers at the drawing's scale (decoded first when needed). [main-thread]
    const korvo::OwnedImage<korvo::RGBA>& backgroundDiffuse();
    const korvo::OwnedImage<korvo::RGBA>& backgroundMaterial();
    const korvo::OwnedImage<korvo::L16>& backgroundDepth();
    korvo::UILogo* logo() const noexcept { return logo_; }
    korvo::UILabel* subtitle() const noexcept { return subtitle_; }
    korvo::UISlider* distanceSlider() const noexcept { return distanceSlider_; }
    korvo::UISlider* outputLevelSlider() const noexcept { return outputLevelSlider_; }
    korvo::UIKnob* panKnob() const noexcept { return panKnob_; }
    korvo::UIKnob* stereoWidthKnob() const noexcept { return stereoWidthKnob_; }
    korvo::UIOnOffSwitch* testMonoSwitch() const noexcept { return testMonoSwitch_; }
    korvo::UIOnOffSwitch* lfoSyncedSwitch() const noexcept { return lfoSyncedSwitch_; }
    BowGame* bowGame() const noexcept { return bowGame_; }
    PanoramaDisplay* panorama() const noexcept { return panorama_; }
    PhaseDisplay* phaseDisplay() const noexcept { return phaseDisplay_; }
    tessary::TessaryDropdown* tempoDropdown() const noexcept { return tempoDropdown_; }
    tessary::TessaryRadioButtonSet* waveButtons() const noexcept { return waveButtons_; }
    korvo::UIParamHint* hint(std::int32_t i) const noexcept { return hints_[static_cast<std::size_t>(i)]; }
    korvo::UIColorCorrection* colorCorrection() const noexcept { return colorCorrection_; }
    // The editor's one pop-up menu: sizes, and also the preset list, the compare menu, the
    // replace question and a control's own menu.
    korvo::UIMenu* sizeMenu() const noexcept { return sizeMenu_; }
    korvo::UIPresetStrip* presetStrip() const noexcept { return presetStrip_; }
    korvo::UITextField* textField() const noexcept { return textField_; }
    // A drawing of the artwork for the current scale is under way (tests wait for it).
    bool isDrawingArtwork() const noexcept { return drawing_ != nullptr; }

private:
    // Decodes (and resamples) the background layers and the logo for `scale`.
    void loadArtwork(float scale);
    void ensureArtwork();
    // Stops and forgets a drawing under way.
    void stopArtworkDrawing() noexcept;
    // The strip shows the browser's and the history's state (each tick).
    void updatePresetStrip();
    // Saves under `name`, asking before replacing a file of that name.
    void saveAs(const std::string& name, bool replace);
    // Typing ended: the host's window gets the keyboard back.
    void returnKeyboard();
    // The menu's top-left point under the name window.
    korvo::IntPoint belowName() const noexcept;

    struct ArtworkDrawing;

    VelmoraClient& client_;
    // Undo and redo of the user's edits; it lives with the editor object, across open views.
    korvo::HeapPtr<korvo::EditHistory> history_;
    korvo::HeapPtr<korvo::PresetBrowser> presetBrowser_;
    std::vector<korvo::PresetBrowser::Entry> listed_;  // the entries of the open preset list
    korvo::HeapPtr<korvo::Font> fontLato_;
    korvo::HeapPtr<korvo::Font> fontCouture_;
    korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> backgroundDiffuse_;
    korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> backgroundMaterial_;
    korvo::HeapPtr<korvo::OwnedImage<korvo::L16>> backgroundDepth_;
    float artworkScale_ = 0.0f;               // the scale the artwork was loaded for (0: none yet)
    korvo::HeapPtr<ArtworkDrawing> drawing_;  // the artwork drawn for artworkScale_, under way
    // The widgets the editor needs again (owned by the element tree).
    korvo::UILogo* logo_ = nullptr;
    korvo::UILabel* subtitle_ = nullptr;
    korvo::UISlider* distanceSlider_ = nullptr;
    korvo::UISlider* outputLevelSlider_ = nullptr;
    korvo::UIKnob* stereoWidthKnob_ = nullptr;
    korvo::UIKnob* panKnob_ = nullptr;
    korvo::UIOnOffSwitch* testMonoSwitch_ = nullptr;
    korvo::UIOnOffSwitch* lfoSyncedSwitch_ = nullptr;
    BowGame* bowGame_ = nullptr;
    PhaseDisplay* phaseDisplay_ = nullptr;
    PanoramaDisplay* panorama_ = nullptr;
    tessary::TessaryDropdown* tempoDropdown_ = nullptr;
    tessary::TessaryRadioButtonSet* waveButtons_ = nullptr;
    std::array<korvo::UIParamHint*, kHintCount> hints_{};
    korvo::UIColorCorrection* colorCorrection_ = nullptr;
    korvo::UIMenu* sizeMenu_ = nullptr;
    korvo::UIPresetStrip* presetStrip_ = nullptr;
    korvo::UITextField* textField_ = nullptr;
    bool menuPending_ = false;  // a right press on the panel waits for its release
    korvo::IntPoint menuAt_;
};

}  // namespace velmora
