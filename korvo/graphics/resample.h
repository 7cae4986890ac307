#pragma once
// Resampling of a whole image to another size, for pictures made at one resolution and shown at
// another (the editor's artwork at a display scale it does not embed).
//
// Separable: each output pixel is a weighted average of source pixels along x, then along y.
// Shrinking by a ratio r = source / destination > 1 averages the r source pixels the output pixel
// covers (area weights, fractional at both ends), which keeps the picture as sharp as the
// destination allows and leaves no aliasing; growing (r < 1) interpolates linearly between the
// two nearest source pixel centres. Every channel (alpha included) is resampled on its own and
// rounded to the nearest value. Equal sizes copy the pixels.
//
// Thread contract: [any-thread]; allocates a scratch buffer of the size of one pass.

#include "korvo/graphics/image.h"

namespace korvo {

void resample(const ImageView<RGBA>& source, const ImageView<RGBA>& destination);
void resample(const ImageView<L16>& source, const ImageView<L16>& destination);

}  // namespace korvo
