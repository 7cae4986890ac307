#pragma once
// Reference lighting for the compositor tests: one pixel at a time, exact reciprocal square
// roots, the C runtime's pow. Same inputs and output as PBRCompositor::lightTile.
#include "korvo/gui/compositor.h"

namespace korvo {

void referenceLightTile(const PBRCompositor& compositor, ImageView<RGBA> wfb, IntRect area,
                        const Mipmap<RGBA>& diffuse, const Mipmap<RGBA>& material, const Mipmap<L16>& depth,
                        const Mipmap<RGBA>& skybox);

}  // namespace korvo
