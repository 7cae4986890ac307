#pragma once
// GUIGraphics: the root element and renderer of a plug-in editor.
//
// It owns the UI context, the compositor, a thread pool of at most two workers, the PBR layers
// (diffuse, depth and material pyramids, full window size at level 0) and the window, and it is
// the window's listener. Each frame it turns the dirty rectangles the elements collected into
// disjoint areas, redraws the PBR layers there, refreshes the pyramids, lights the affected pixels
// (the PBR change plus a margin, since lighting reads neighbouring depth) in 128 x 128 tiles,
// copies them to the shown buffer, draws the raw layer on top and converts the result to the
// window's byte order. The lit image stays in its own buffer between frames, so a raw-only change
// needs no lighting.
//
// Reach of the lighting: a lit pixel reads the depth within 11 pixels (normals, cast shadows), which
// the lit margin covers, but also the upper pyramid levels (ambient occlusion from depth levels 1 to
// 4, emissive glow from diffuse levels 1 to 5), whose texels gather up to 32 x 32 pixels and are
// sampled bilinearly. So after the pyramids are updated, every texel of an upper level that really
// changed marks the pixels that sample it; those outside this frame's lit area are relit in the
// next frame (a tick later; the frame after a change is drawn even without new dirty rectangles).
// Partial redraws thus converge on exactly what a full redraw shows. Where only the glow levels
// (diffuse levels 1 to 5) changed, the next frame redoes only the glow: every lit pixel's colour
// before its glow is kept (about 12 bytes a pixel), and the new glow is added to it, bit for bit
// what lighting the pixel again would give, at a fraction of the cost. Texels that did not change
// cost nothing: a change that alters no glow or occlusion reaches no farther than the margin.
// Pixels that did not change cost nothing either: a lit pixel reads the colour and material of
// its own position and the depth within the margin, so after a small PBR change is drawn only
// the pixels that really changed are lit, with the margin only around changed depth.
//
// Scale: the editor is laid out on its base grid (the size given to the constructor, its size at
// 100 %) and drawn at `scale` device pixels per base pixel: the window, the layers and every
// element's position() are device pixels (round(base x scale), see scaleRect), and the reaches of
// the lighting (lit margin, the compositor's) follow the scale. As an IGraphics it takes the scale
// from the screen (the host's factor, else the monitor's) times the user's zoom (75 % to 300 %,
// the product at most kMaxScale), keeps the window at that size and asks the host for a new size
// (IHostCommand::requestResize) when it changes while the window is open.
//
// The window is made by a window factory (setWindowFactory). Without one, openUI given a parent
// window makes the platform's window (createPlatformWindow: Win32 on Windows, X11 on Linux, on the
// event loop passed as controlInfo), and openUI without a parent makes none: it lays out and marks
// everything dirty, and frames are driven by calling the listener directly.
//
// Thread contract: [main-thread] (the GUI thread) for everything. A frame that draws or lights PBR
// pixels holds the pool's workers for its whole length (WorkCrew: one hand-over per frame instead
// of one per step), and they and the GUI thread share its steps: element drawing (never two
// intersecting elements at once; a large dirty area of an element that draws in parts is cut in
// bands), pyramid updates, lighting (the tiles cut in bands of about equal cost, so one costly
// tile does not leave a thread idle), the copy to the shown buffer and the conversion. Every part
// gives the same bytes on any thread (the frame runs under the plug-in's floating-point setting).
// A steady frame allocates nothing.

#include <cstdint>

#include "korvo/client/client.h"
#include "korvo/core/nogc.h"
#include "korvo/core/thread.h"
#include "korvo/core/vec.h"
#include "korvo/graphics/mipmap.h"
#include "korvo/gui/compositor.h"
#include "korvo/gui/context.h"
#include "korvo/gui/element.h"
#include "korvo/gui/workcrew.h"
#include "korvo/window/eventloop.h"
#include "korvo/window/window.h"

namespace korvo {

class GUIGraphics;
class UIFocusRing;
class EditHistory;

// Makes the window for openUI: (parent handle, the listener to drive, width, height, backend, the
// event loop to run on or null). Returns null when the backend is not available.
using WindowFactory = HeapPtr<IWindow> (*)(void* parent, IWindowListener* listener, std::int32_t width,
                                           std::int32_t height, WindowBackend backend, IEventLoop* eventLoop);

// Forwards the window's calls to one editor.
class WindowListener final : public IWindowListener {
public:
    explicit WindowListener(GUIGraphics* graphics) noexcept : graphics_(graphics) {}

    bool onMouseClick(std::int32_t x, std::int32_t y, MouseButton button, bool isDoubleClick,
                      MouseState mouseState) override;
    bool onMouseRelease(std::int32_t x, std::int32_t y, MouseButton button, MouseState mouseState) override;
    bool onMouseWheel(std::int32_t x, std::int32_t y, std::int32_t wheelDeltaX, std::int32_t wheelDeltaY,
                      MouseState mouseState) override;
    void onMouseMove(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy,
                     MouseState mouseState) override;
    bool onKeyDown(Key key, MouseState modifiers) override;
    bool onKeyUp(Key key, MouseState modifiers) override;
    bool onTextInput(std::string_view text) override;
    void onDraw(PixelOrder pixelOrder) override;
    ImageView<RGBA> onResize(std::int32_t width, std::int32_t height) override;
    void computeDirtyAreas() override;
    IntRect dirtyBounds() override;
    void onCaptureLost() override;
    void onAnimate(double dt, double time) override;
    void onMonitorScaleChanged(float scale) override;

private:
    // A right press on a control waits for its release to open the control's menu.
    Parameter* menuParameter_ = nullptr;
    IntPoint menuAt_;
    GUIGraphics* graphics_;
};

class GUIGraphics : public UIElement, public IGraphics {
public:
    static constexpr std::int32_t kTileSize = 128;

    // An editor of the given size; flags as for any element (an editor that paints a background
    // passes drawsPBR). Children are added by the subclass.
    GUIGraphics(std::int32_t width, std::int32_t height, ElementFlags flags);
    ~GUIGraphics() override;

    // ---- IGraphics ----------------------------------------------------------------------------
    // Creates the window through the factory, lays out the tree in (0, 0, width, height) and
    // marks everything dirty. Returns the native handle (null without a window). controlInfo is
    // the IEventLoop* an X11 window runs on (null otherwise).
    void* openUI(void* parentWindow, void* controlInfo, HostKind hostKind, WindowBackend backend) override;
    void closeUI() override;
    // The device size: round(base x scale).
    void getGUISize(std::int32_t* width, std::int32_t* height) override;
    bool setHostScale(float scale) override;
    bool canResize() override { return true; }
    // The nearest size of the editor's aspect ratio (by the least-squares scale of the request)
    // within the zoom range at the current screen scale.
    void constrainSize(std::int32_t* width, std::int32_t* height) override;
    // Takes the zoom the size stands for (the scale of its width, or of its height when that is
    // smaller), within the zoom range; a size that is already the editor's changes nothing.
    bool setGUISize(std::int32_t width, std::int32_t height) override;
    float userZoom() override { return _userZoom; }
    // Clamped to [kMinZoom, kMaxZoom]; NaN keeps the zoom. (The adapter asks the host for the
    // new size itself.)
    void setUserZoom(float zoom) override;
    // The user chose a zoom in the editor: as setUserZoom, then the host is asked for the size.
    void chooseUserZoom(float zoom);
    void setHostCommand(IHostCommand* hostCommand) override { _hostCommand = hostCommand; }
    std::int32_t parameterAt(std::int32_t x, std::int32_t y) override;

    // ---- Keys on controls (controlkeys.cpp) -----------------------------------------------------
    // A key for the controls: Tab / Shift+Tab move the focus (and its ring) through the children
    // that are controls, in child order; arrows (1 %, 0.1 % with Shift, or the next choice), Page
    // Up / Down (10 %), Home / End and Delete / Backspace (the default) change the parameter of the
    // focused control, else of the one under the pointer, else of the one last clicked, each
    // press one gesture; Ctrl+Z, Ctrl+Shift+Z and Ctrl+Y undo and redo. False for keys it does not
    // use (they go to the host) and while a menu is open or a drag is held.
    bool controlKey(Key key, MouseState modifiers);
    // A right click on a control bound to a parameter opens, at its release, the control's menu
    // (openParameterMenu at the click point) instead of reaching the control, when the editor
    // offers one. [false; nothing]
    virtual bool offersParameterMenu() const noexcept { return false; }
    virtual void openParameterMenu(Parameter& parameter, IntPoint at) {
        (void)parameter;
        (void)at;
    }
    void notePointer(std::int32_t x, std::int32_t y) noexcept;  // where the pointer last was
    void clearKeyFocus() noexcept;                              // a click: the ring goes
    // Ctrl+Z undoes the last step of the history, Ctrl+Shift+Z and Ctrl+Y redo (not owned; null:
    // no undo).
    void setEditHistory(EditHistory* history) noexcept { _history = history; }
    // The ring Tab shows (a child the subclass made; not owned). Null: no ring.
    void setFocusRing(UIFocusRing* ring) noexcept { _focusRing = ring; }
    UIFocusRing* focusRing() const noexcept { return _focusRing; }
    void setVisible(bool visible) override {
        if (_window) _window->setVisible(visible);
    }

    // ---- Scale --------------------------------------------------------------------------------
    static constexpr float kMinHostScale = 0.5f, kMaxHostScale = 4.0f;
    static constexpr float kMinZoom = 0.75f, kMaxZoom = 3.0f;
    // The largest scale drawn (memory grows with its square: about 300 MB of layers at 4).
    static constexpr float kMaxScale = 4.0f;
    // The scale the editor is drawn at now.
    float drawScale() const noexcept { return _uiContext->scale; }
    // The screen's scale: the host's factor when it gave one, else the monitor's (1 until known).
    float screenScale() const noexcept { return _hostScale > 0.0f ? _hostScale : _monitorScale; }
    // The monitor's scale as the window (or the platform) reports it; the host's factor wins.
    void setMonitorScale(float scale);
    // Draws at exactly `scale` (clamped to (0, kMaxScale]; NaN: 1) from now on, whatever the
    // screen and zoom say: sets the context's scale, lays every element out again, scales the lit
    // margin and the compositor, resizes the window and marks everything dirty. Tools and tests use
    // it directly (the platform's screen scale is then no longer asked for before a window opens);
    // the IGraphics operations go through it.
    virtual void setScale(float scale);
    // The editor's size at 100 %.
    std::int32_t baseWidth() const noexcept { return _baseWidth; }
    std::int32_t baseHeight() const noexcept { return _baseHeight; }

    // How far around a PBR change the lighting is recomputed, in base pixels (default 20; scaled
    // with the drawing, rounded up).
    virtual void setLitMargin(std::int32_t margin);

    // ---- Frame steps ----------------------------------------------------------------------------
    // Depth-first collection of the visible elements into the raw and PBR draw lists, each sorted
    // stably by increasing z-order.
    virtual void collectDrawLists();
    // Renders one frame into the buffer returned by onResize.
    virtual void drawFrame(PixelOrder pixelOrder);
    // Takes the context's dirty rectangles and derives the disjoint PBR, raw, lit and shown areas.
    // While the buffers are still empty (no size delivered yet) it takes nothing: the rectangles
    // stay listed for the first frame that can be drawn.
    virtual void computeDirtyAreas();
    // Stores the size, lays out the tree, sizes the pyramids and the two buffers; returns the view
    // of the shown buffer. A changed size marks the whole editor dirty (the buffers start black).
    virtual ImageView<RGBA> onResize(std::int32_t width, std::int32_t height);
    virtual void drawRawLayer();
    virtual void drawPBRLayer();
    virtual void lightTiles(PixelOrder pixelOrder, ImageView<RGBA> destination);
    // Before drawPBRLayer: keeps the level-0 layers under a small PBR change to compare them.
    void keepLayersBeforeDrawing();
    // After drawPBRLayer: narrows the lit area to what the changed pixels need (their own colour
    // and material, the margin only around changed depth) and refreshes the pyramids only from
    // changed pixels. A PBR change whose pixels came out the same is not lit at all.
    void narrowToChangedPixels();
    // After narrowToChangedPixels: the pixels whose glow alone is redone this frame (what the last
    // frame left, less this frame's lit area).
    void takePendingGlow();
    virtual void updatePyramids();
    virtual void convertToWindowFormat(PixelOrder pixelOrder);

    // Smallest box holding every non-empty rectangle the next frame shows (empty when none).
    IntRect dirtyBounds() const noexcept;

    // ---- Access ---------------------------------------------------------------------------------
    void setWindowFactory(WindowFactory factory) noexcept { _windowFactory = factory; }
    IWindow* window() const noexcept { return _window.get(); }
    IWindowListener* windowListener() noexcept { return _windowListener.get(); }
    UIContext& uiContext() noexcept { return *_uiContext; }
    PBRCompositor& compositor() noexcept { return *_compositor; }
    ThreadPool& threadPool() noexcept { return *_threadPool; }
    std::int32_t litMargin() const noexcept { return _litMargin; }
    const Mipmap<RGBA>& diffusePyramid() const noexcept { return *_diffusePyramid; }
    const Mipmap<L16>& depthPyramid() const noexcept { return *_depthPyramid; }
    const Mipmap<RGBA>& materialPyramid() const noexcept { return *_materialPyramid; }
    ImageView<RGBA> litView() const noexcept;
    ImageView<RGBA> shownView() const noexcept;
    // The areas of the last computeDirtyAreas.
    const Vec<IntRect>& pbrRects() const noexcept { return _pbrRects; }
    const Vec<IntRect>& rawRects() const noexcept { return _rawRects; }
    const Vec<IntRect>& litRects() const noexcept { return _litRects; }
    const Vec<IntRect>& shownRects() const noexcept { return _shownRects; }
    const Vec<IntRect>& tiles() const noexcept { return _tiles; }
    // Pixels beyond the last frame's lit area whose lighting inputs changed in it: relit by the
    // next frame.
    const Vec<IntRect>& pendingLitRects() const noexcept { return _pendingLitRects; }
    // Pixels whose ambient occlusion changed while the layers kept changing: relit by the first
    // frame that draws nothing new, or by the one kMaxDeferredFrames later.
    const Vec<IntRect>& deferredLitRects() const noexcept { return _deferredLitRects; }
    // Pixels beyond the last frame's lit area whose glow alone changed in it: the next frame
    // redoes their glow (glowRects) unless it lights them anyway.
    const Vec<IntRect>& pendingGlowRects() const noexcept { return _pendingGlowRects; }
    // The pixels whose glow alone the last frame redid (disjoint, none of them in litRects).
    const Vec<IntRect>& glowRects() const noexcept { return _glowRects; }

    // Makes `source` disjoint into `output` (appended): contained boxes are dropped, overlapping
    // ones cut into their parts outside the other, boxes of area below 1 skipped. `source` is
    // used as the work list and changes.
    static void makeDisjoint(Vec<IntRect>& source, Vec<IntRect>& output);

    // Called by the renderer for every PBR run it hands to the pool (tests observe batching).
    virtual void onPBRBatch(const UIElement* const* elements, std::int32_t count) noexcept;

protected:
    HeapPtr<PBRCompositor> _compositor;
    HeapPtr<UIContext> _uiContext;
    HeapPtr<WindowListener> _windowListener;
    HeapPtr<IWindow> _window;
    HeapPtr<ThreadPool> _threadPool;
    std::int32_t _editorWidth = 0;  // device pixels
    std::int32_t _editorHeight = 0;
    std::int32_t _baseWidth = 0;
    std::int32_t _baseHeight = 0;
    float _hostScale = 0.0f;  // 0: the host gave none
    float _monitorScale = 1.0f;
    float _userZoom = 1.0f;
    bool _monitorProbed = false;  // the platform's screen scale was asked for
    bool _opening = false;        // inside openUI
    IHostCommand* _hostCommand = nullptr;
    HeapPtr<Mipmap<RGBA>> _diffusePyramid;
    HeapPtr<Mipmap<L16>> _depthPyramid;
    HeapPtr<Mipmap<RGBA>> _materialPyramid;
    Vec<IntRect> _rawRects;
    Vec<IntRect> _pbrRects;
    Vec<IntRect> _scratchRects;
    Vec<IntRect> _pyramidRects[2];
    Vec<IntRect> _litRectsOverlapping;
    Vec<IntRect> _litRects;
    Vec<IntRect> _shownRectsOverlapping;
    Vec<IntRect> _shownRects;
    Vec<IntRect> _tiles;
    // The tiles cut into bands of about equal cost, the units the lighting is shared out in.
    Vec<IntRect> _lightPieces;
    std::size_t _litPieceCount = 0;  // _lightPieces holds the lit bands, then the glow bands
    // The pool's workers held for the frame's parallel steps.
    WorkCrew _crew;
    // Copies of the upper pyramid levels as lit so far (index = level - 1), to find the texels a
    // frame really changed; the level-0 boxes of pixels that sample them, per pyramid; what is left
    // to relight.
    Vec<OwnedImage<RGBA>*> _diffuseMirror;
    Vec<OwnedImage<L16>*> _depthMirror;
    Vec<IntRect> _reachRects[2];
    Vec<IntRect> _pendingLitRects;
    // Occlusion-only relighting put off while frames keep drawing, and for how many frames.
    Vec<IntRect> _deferredLitRects;
    std::int32_t _deferredFrames = 0;
    Vec<IntRect> _pendingGlowRects;
    Vec<IntRect> _glowRects;
    std::size_t _litTileCount = 0;  // _tiles holds the lit tiles, then the glow tiles
    // Every pixel's colour before its glow, as lit last (three planes of the window's size).
    float* _glowBaseBuffer = nullptr;
    GlowBase _glowBase;
    Vec<IntRect> _subtractScratch[2];
    // The level-0 layers under the PBR change as they were before drawing.
    static constexpr std::int64_t kComparedArea = 32768;  // base pixels, scaled with the drawing
    std::int64_t _comparedArea = kComparedArea;
    Vec<RGBA> _keptDiffuse;
    Vec<RGBA> _keptMaterial;
    Vec<L16> _keptDepth;
    std::int64_t _keptArea = 0;
    bool _layersDrawn = false;  // a frame has drawn PBR layers since the last size change
    Vec<UIElement*> _rawDrawList;
    Vec<UIElement*> _drawing;  // the elements of a layer that meet its dirty rectangles
    // One run's drawing as the crew shares it out: whole elements, or parts of the dirty area of
    // an element that draws in parts (the rectangles of part k in _partRects[k]).
    struct DrawJob {
        UIElement* element = nullptr;
        IntRect clipped;
        std::int32_t part = -1;  // -1: the element's own local rectangles; kPrepareJob: prepareDrawing
    };
    static constexpr std::int32_t kMaxParts = 8;
    static constexpr std::int32_t kPrepareJob = -2;
    // The shown area in bands, the units its copy and conversion are shared out in.
    Vec<IntRect> _shownBands;
    Vec<IntRect> _earlyShown, _lateShown;
    PixelOrder _framePixelOrder = PixelOrder::RGBA8;
    Vec<DrawJob> _drawJobs;
    Vec<IntRect> _partRects[kMaxParts];
    Vec<UIElement*> _pbrDrawList;
    std::int32_t _litMargin = 20;
    std::int32_t _litMarginBase = 20;
    RGBA* _litBuffer = nullptr;
    RGBA* _shownBuffer = nullptr;
    std::int32_t _bufferWidth = 0;  // size the pyramids and buffers were made for
    std::int32_t _bufferHeight = 0;
    float _layersScale = 1.0f;  // scale the pyramids were made for
    WindowFactory _windowFactory = nullptr;

private:
    void moveKeyFocus(bool backwards);
    UIElement* _keyFocus = nullptr;  // the control Tab focused (ring shown), not owned
    UIFocusRing* _focusRing = nullptr;
    EditHistory* _history = nullptr;
    IntPoint _pointer{};
    bool _pointerKnown = false;

    enum class Layer { pbr, raw };
    // The scale screen x zoom asks for, within the limits.
    float wantedScale() const noexcept;
    // Draws at wantedScale(); with AskHost::yes, when the size changed and the window is open,
    // asks the host for it (never while the host is calling in: it resizes after its own call).
    enum class AskHost { no, yes };
    void followWantedScale(AskHost ask);
    // Runs task(i) for i in [0, count) in parallel: on the frame's crew while it is active, else
    // on the pool.
    template <class F>
    void runParallel(std::int32_t count, F& f) noexcept {
        if (_crew.active())
            _crew.run(count, f);
        else
            _threadPool->runParallel(count, f);
    }
    void collectFrom(UIElement* element);
    void settleLitRects(const IntRect& window);
    // Adds this frame's occlusion reach beyond its lit area to the relighting put off. [main-thread]
    void deferLitRects();
    void drawLayer(Layer layer, const Vec<UIElement*>& list, const Vec<IntRect>& dirty);
    void drawElement(Layer layer, UIElement* element, const Vec<IntRect>& dirty);
    // Clips the element to the window and fills its local rectangles from `dirty`; the clipped
    // position, or an empty box when it draws nothing.
    IntRect prepareElement(UIElement* element, const Vec<IntRect>& dirty);
    void drawPrepared(Layer layer, UIElement* element, IntRect clipped, const Vec<IntRect>& local);
    // Draws one run of non-overlapping elements on the crew, large areas of elements that draw
    // in parts shared out in bands.
    // The elements `later` (of the runs to come) prepare their drawing meanwhile.
    void drawRunInParts(Layer layer, UIElement* const* run, std::int32_t count, const Vec<IntRect>& dirty,
                        UIElement* const* later, std::size_t laterCount);
    void cutShownBands(const Vec<IntRect>& rects);
    // Splits the shown area into what meets this frame's lit or glow area (late: shown after the
    // lighting) and the rest (early: copied, drawn raw and converted while the frame lights).
    void splitShownArea();
    void showEarly(PixelOrder pixelOrder);
    void convertBox(IntRect rect, PixelOrder pixelOrder);
    const Vec<IntRect>& lateShownRects() const noexcept {
        return _earlyShown.empty() ? _shownRects : _lateShown;
    }
    ImageView<RGBA> bufferView(RGBA* buffer) const noexcept;
    template <class COLOR>
    void noteChangedTexels(const OwnedImage<COLOR>& level, OwnedImage<COLOR>& mirror, int levelIndex,
                           IntRect updated, Vec<IntRect>& reach) noexcept;
};

}  // namespace korvo
