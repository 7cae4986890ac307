// Keys on the editor's controls: arrows, Page Up / Down, Home / End and Delete / Backspace change
// the parameter of the focused control, else of the one under the pointer, else of the one last
// clicked; Tab and Shift+Tab move the focus through the controls in the layout's order; Ctrl+Z
// undoes, Ctrl+Shift+Z and Ctrl+Y redo.
#include <algorithm>

#include "korvo/client/params.h"
#include "korvo/gui/context.h"
#include "korvo/gui/focusring.h"
#include "korvo/gui/graphics.h"
#include "korvo/gui/history.h"

namespace korvo {

namespace {
// The parameter of a control (its own, wherever it is pointed at: a closed list's header).
Parameter* controlParameter(const UIElement* e) noexcept {
    return e != nullptr && e->isVisible() ? e->editedParameterAt(0, 0) : nullptr;
}
}  // namespace

void GUIGraphics::notePointer(std::int32_t x, std::int32_t y) noexcept {
    _pointer = IntPoint{x, y};
    _pointerKnown = true;
}

void GUIGraphics::clearKeyFocus() noexcept {
    _keyFocus = nullptr;
    if (_focusRing != nullptr) _focusRing->surround(nullptr);
}

void GUIGraphics::moveKeyFocus(bool backwards) {
    std::vector<UIElement*> controls;
    for (UIElement* child : children())
        if (controlParameter(child) != nullptr) controls.push_back(child);
    if (controls.empty()) return;
    UIElement* from = _keyFocus != nullptr ? _keyFocus : uiContext().focused;
    const auto at = std::find(controls.begin(), controls.end(), from);
    const auto n = static_cast<std::ptrdiff_t>(controls.size());
    std::ptrdiff_t next = 0;
    if (at == controls.end())
        next = backwards ? n - 1 : 0;
    else
        next = ((at - controls.begin()) + (backwards ? n - 1 : 1)) % n;
    UIElement* target = controls[static_cast<std::size_t>(next)];
    UIContext& context = uiContext();
    if (context.focused != target) {
        if (context.focused != nullptr) context.focused->onFocusExit();
        context.focused = target;
        target->onFocusEnter();
    }
    _keyFocus = target;
    if (_focusRing != nullptr) _focusRing->surround(target);
}

bool GUIGraphics::controlKey(Key key, MouseState modifiers) {
    UIContext& context = uiContext();
    if (context.modal != nullptr || context.dragged != nullptr) return false;
    if (modifiers.ctrl && (key == Key::z || key == Key::Z || key == Key::y || key == Key::Y)) {
        if (_history == nullptr) return false;
        const bool redo = key == Key::y || key == Key::Y || modifiers.shift || key == Key::Z;
        if (redo)
            _history->redo();
        else
            _history->undo();
        return true;
    }
    if (key == Key::tab) {
        moveKeyFocus(modifiers.shift);
        return true;
    }
    const bool used = key == Key::arrowUp || key == Key::arrowDown || key == Key::arrowLeft ||
                      key == Key::arrowRight || key == Key::pageUp || key == Key::pageDown ||
                      key == Key::home || key == Key::end || key == Key::deleteKey || key == Key::backspace;
    if (!used) return false;
    Parameter* p = controlParameter(_keyFocus);
    if (p == nullptr && _pointerKnown) p = UIElement::parameterAt(_pointer.x, _pointer.y);
    if (p == nullptr) p = controlParameter(context.focused);
    if (p == nullptr) return false;
    if (key == Key::deleteKey || key == Key::backspace) {
        p->resetToDefaultFromEditor();
        return true;
    }
    const std::int32_t steps = p->stepCount();
    const double step = steps > 0 ? 1.0 / steps : (modifiers.shift ? 0.001 : 0.01);
    const double page = std::max(step, 0.1);
    double value = p->getNormalized();
    switch (key) {
        case Key::arrowUp:
        case Key::arrowRight: value += step; break;
        case Key::arrowDown:
        case Key::arrowLeft: value -= step; break;
        case Key::pageUp: value += page; break;
        case Key::pageDown: value -= page; break;
        case Key::home: value = 0.0; break;
        default: value = 1.0; break;  // end
    }
    value = std::clamp(value, 0.0, 1.0);
    p->beginEdit();
    p->setFromEditorNormalized(value);
    p->endEdit();
    return true;
}

}  // namespace korvo
