#pragma once
// Decoding of the images embedded in the plug-in (PNG and baseline JPEG, 8 bits per sample).
//
// The format is detected from the first bytes: the eight-byte PNG signature, else the JPEG
// start-of-image marker FF D8. The embedded resources are part of the program, so anything that
// cannot be decoded (unknown format, damaged data, a colour/alpha pair of different sizes) is a
// build error and ends the process.
//
// Thread contract: [main-thread] (the editor decodes its pictures once, when it is created; this
// allocates).

#include <cstddef>
#include <cstdint>

#include "korvo/core/nogc.h"
#include "korvo/graphics/image.h"

namespace korvo {

// A decoded image: w x h pixels of `components` bytes each (1 grey, 2 grey + alpha, 3 RGB,
// 4 RGBA), rows packed top to bottom. Owns the decoder's buffer and releases it when destroyed.
struct DecodedImage {
    std::int32_t w = 0;
    std::int32_t h = 0;
    std::int32_t components = 0;
    std::uint8_t* pixels = nullptr;

    DecodedImage() = default;
    DecodedImage(const DecodedImage&) = delete;
    DecodedImage& operator=(const DecodedImage&) = delete;
    DecodedImage(DecodedImage&& other) noexcept;
    DecodedImage& operator=(DecodedImage&& other) noexcept;
    ~DecodedImage();
};

// The container format of a byte string, from its signature.
enum class ImageFormat { unknown, png, jpeg };
ImageFormat detectImageFormat(const std::uint8_t* bytes, std::size_t size) noexcept;

// Decodes to exactly `components` (1..4) 8-bit channels, converting between grey, RGB and RGBA as
// needed.
DecodedImage decodeImage(const std::uint8_t* bytes, std::size_t size, int components) noexcept;

// decodeImage with 4 components, copied into a new image of the same size.
HeapPtr<OwnedImage<RGBA>> decodeToRGBA(const std::uint8_t* bytes, std::size_t size) noexcept;

// r, g, b from the colour image (decoded as RGB) and a from the alpha image (decoded as grey);
// both must have the same size.
HeapPtr<OwnedImage<RGBA>> decodeWithAlphaImage(const std::uint8_t* colorBytes, std::size_t colorSize,
                                               const std::uint8_t* alphaBytes,
                                               std::size_t alphaSize) noexcept;

}  // namespace korvo
