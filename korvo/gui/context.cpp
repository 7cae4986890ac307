// UI context and the disjoint dirty-rectangle list.
#include "korvo/gui/context.h"

namespace korvo {

namespace {
bool containsBox(const IntRect& outer, const IntRect& inner) noexcept {
    return inner.min.x >= outer.min.x && inner.min.y >= outer.min.y && inner.max.x <= outer.max.x &&
           inner.max.y <= outer.max.y;
}
}  // namespace

void DirtyList::addRect(IntRect b) {
    if (b.empty()) return;
    ScopedLock lock(mutex_);
    std::size_t i = 0;
    while (i < rects_.length()) {
        const IntRect r = rects_[i];
        if (containsBox(r, b)) return;
        if (containsBox(b, r)) {
            rects_.swapRemove(i);
            continue;
        }
        const IntRect c = r.intersection(b);
        if (!c.empty()) {
            rects_.swapRemove(i);
            const IntRect parts[4] = {
                {{r.min.x, r.min.y}, {r.max.x, c.min.y}},  // top
                {{r.min.x, c.min.y}, {c.min.x, c.max.y}},  // left
                {{c.max.x, c.min.y}, {r.max.x, c.max.y}},  // right
                {{r.min.x, c.max.y}, {r.max.x, r.max.y}},  // bottom
            };
            for (const IntRect& p : parts)
                if (!p.empty()) rects_.push(p);
            continue;
        }
        ++i;
    }
    rects_.push(b);
}

void DirtyList::takeAll(Vec<IntRect>& out) {
    ScopedLock lock(mutex_);
    for (const IntRect& r : rects_) out.push(r);
    rects_.clear();
}

std::size_t DirtyList::length() {
    ScopedLock lock(mutex_);
    return rects_.length();
}

UIContext::UIContext() : skybox(makeHeap<Mipmap<RGBA>>()) {
    skybox->setSize(10, 1024, 1024);
    // The contents are meant to be replaced by setSkybox; black keeps frames reproducible until then.
    for (int i = 0; i < skybox->numLevels(); ++i) fill(skybox->level(i).view(), RGBA{0, 0, 0, 255});
}

UIContext::~UIContext() = default;

void UIContext::setSkybox(OwnedImage<RGBA>* image) {
    skybox.reset();
    skybox = makeHeap<Mipmap<RGBA>>(12, image);
}

}  // namespace korvo
