#pragma once
// The two small objects between the host and the editor: KorvoView, the IPlugView that createView
// returns, and VST3HostCommand, the client's way back to the host's component handler.
//
// KorvoView opens and closes the client's editor (an IGraphics, owned by the client and shared by
// every view of that client) inside the host's window and reports its size. It is reference-counted
// (starts at 1); its owner, the VST3Client, outlives it (the host keeps the component alive while a
// view exists).
//
// Platform types: "HWND" on Windows, "X11EmbedWindowID" on Linux; nothing else (and neither on
// the other platform). On Linux the editor's window runs on the host's run loop: attached queries
// IRunLoop on the IPlugFrame given in setFrame and hands the window a bridge to it (a 15 ms timer
// and a handler for the X connection's file descriptor); removed unregisters both and destroys the
// window. Without a run loop the editor cannot run on Linux, and attached answers kResultFalse.
//
// Scale and size: the view answers IPlugViewContentScaleSupport. A factor in [0.5, 4] becomes the
// editor's screen scale (before or after attached; anything else is refused and changes nothing);
// getSize reports the editor's device size (base size x screen scale x the user's zoom); the
// user may resize (canResize), checkSizeConstraint turns a request into the nearest size of the
// editor's aspect ratio within its zoom range, and onSize makes the editor that size. Whenever the
// editor's size changes while attached for a reason of its own (a new factor, the monitor's
// scale, the user's zoom from the editor's menu or the controller's state), the view asks the
// frame for it (IPlugFrame::resizeView; the host then calls onSize), never while it holds its lock.
//
// Host references: setFrame keeps the frame with a reference (released when replaced, and when the
// view goes); the run loop is held from attached to removed. A view released while still attached
// closes its window first, so no handler of the host's run loop is left pointing at it.
//
// Every operation that runs editor code (getSize, attached, removed) does so under the plug-in's
// floating-point setting and restores the host's before returning.
//
// Threads: [main-thread] for every operation of both objects (the host's UI thread). The view's lock
// serialises editor creation, opening, closing and size queries; the client's graphicsAvailable
// flag protects the editor object from the audio thread.

#include <atomic>
#include <cstdint>

#include "korvo/client/client.h"
#include "korvo/core/sync.h"
#include "korvo/vst3/abi.h"
#include "korvo/vst3/refcounted.h"

namespace korvo::vst3 {

class VST3Client;
class RunLoopBridge;

// Forwards editor edits to the host's component handler: beginEdit, performEdit (the value
// widened to double), endEdit, with the parameter's index as its ID. Without a component handler
// the calls do nothing. Owned by the VST3Client. [main-thread]
class VST3HostCommand final : public IHostCommand {
public:
    explicit VST3HostCommand(VST3Client& owner) noexcept : owner_(owner) {}
    void beginParameterEdit(std::int32_t paramIndex) noexcept override;
    void automateParameter(std::int32_t paramIndex, float normalizedValue) noexcept override;
    void endParameterEdit(std::int32_t paramIndex) noexcept override;
    // restartComponent(kParamValuesChanged).
    void parameterValuesChanged() noexcept override;
    // IComponentHandler2's startGroupEdit / finishGroupEdit where the handler has it.
    void beginGroupEdit() noexcept override;
    void endGroupEdit() noexcept override;
    // IComponentHandler3's context menu for the parameter, in the open view, our items added.
    bool popUpParameterMenu(std::int32_t paramIndex, std::int32_t x, std::int32_t y,
                            const std::vector<std::string>& items,
                            std::function<void(std::int32_t)> onChoose) override;
    bool requestResize(std::int32_t width, std::int32_t height) noexcept override;  // always false
    HostKind hostKind() const noexcept override;

private:
    VST3Client& owner_;
};

// The editor view. [main-thread]
class KorvoView final : public ComObject<KorvoView, IPlugView, IPlugViewContentScaleSupport, IParameterFinder> {
public:
    explicit KorvoView(VST3Client& owner) noexcept : owner_(owner) {}
    ~KorvoView();
    KorvoView(const KorvoView&) = delete;
    KorvoView& operator=(const KorvoView&) = delete;

    // The platform type string this build's editor window accepts, and its backend.
    static const char* platformType() noexcept;
    static WindowBackend platformBackend() noexcept;

    // IPlugView, IPlugViewContentScaleSupport, IParameterFinder and FUnknown -> that face with a reference added;
    // else null and kNoInterface.
    tresult KORVO_VST3_API queryInterface(const TUID iid, void** obj) override;
    // kResultOk for this platform's type only.
    tresult KORVO_VST3_API isPlatformTypeSupported(FIDString type) override;
    // Creates the editor when needed and opens it in parent. kResultFalse without an editor, for
    // another platform type, or (Linux) without the host's run loop.
    tresult KORVO_VST3_API attached(void* parent, FIDString type) override;
    // Closes the editor's window; the editor object stays with the client for the next attach.
    tresult KORVO_VST3_API removed() override;
    // kResultFalse: the editor's window receives its input directly.
    tresult KORVO_VST3_API onWheel(float distance) override;
    tresult KORVO_VST3_API onKeyDown(char16 key, int16 keyCode, int16 modifiers) override;
    tresult KORVO_VST3_API onKeyUp(char16 key, int16 keyCode, int16 modifiers) override;
    // (0, 0, width, height) of the editor, created here when the host asks before attaching.
    tresult KORVO_VST3_API getSize(ViewRect* size) override;
    // The editor takes the rectangle's size (kResultFalse when it cannot).
    tresult KORVO_VST3_API onSize(ViewRect* newSize) override;
    tresult KORVO_VST3_API onFocus(TBool state) override;  // kResultOk
    tresult KORVO_VST3_API setFrame(IPlugFrame* frame) override;
    tresult KORVO_VST3_API canResize() override;
    // The rectangle's right and bottom moved to the nearest size the editor can take.
    tresult KORVO_VST3_API checkSizeConstraint(ViewRect* rect) override;
    // IPlugViewContentScaleSupport: the host's scale; kResultFalse outside [0.5, 4].
    tresult KORVO_VST3_API setContentScaleFactor(float factor) override;
    // IParameterFinder: the parameter of the control under (x, y) (view pixels); kResultFalse
    // over the panel, outside, or while the view is not open.
    tresult KORVO_VST3_API findParameter(int32 xPos, int32 yPos, ParamID& resultTag) override;

    bool isOpen() const noexcept { return open_; }
    // Asks the frame for the editor's size when it differs from what the host last saw (attached
    // only; false when there is no frame or the host refused).
    bool followEditorSize() noexcept;

private:
    // Closes the window (under the lock) and lets go of the run loop.
    void close() noexcept;

    VST3Client& owner_;
    UncheckedMutex lock_;
    IPlugFrame* frame_ = nullptr;       // one reference held
    RunLoopBridge* runLoop_ = nullptr;  // one reference held while attached (Linux)
    bool open_ = false;                 // attached and not yet removed
    bool resizing_ = false;             // inside resizeView
    ViewRect hostSize_{};               // the size last reported to or set by the host
};

}  // namespace korvo::vst3
