// Image decoding on stb_image (built with PNG and JPEG support only, no stdio).
#include "korvo/graphics/decode.h"

#include <stb/stb_image.h>

#include <climits>
#include <cstring>
#include <utility>

namespace korvo {

DecodedImage::DecodedImage(DecodedImage&& other) noexcept
    : w(other.w), h(other.h), components(other.components), pixels(std::exchange(other.pixels, nullptr)) {}

DecodedImage& DecodedImage::operator=(DecodedImage&& other) noexcept {
    if (this != &other) {
        if (pixels != nullptr) stbi_image_free(pixels);
        w = other.w;
        h = other.h;
        components = other.components;
        pixels = std::exchange(other.pixels, nullptr);
    }
    return *this;
}

DecodedImage::~DecodedImage() {
    if (pixels != nullptr) stbi_image_free(pixels);
}

ImageFormat detectImageFormat(const std::uint8_t* bytes, std::size_t size) noexcept {
    static constexpr std::uint8_t kPng[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    if (bytes == nullptr) return ImageFormat::unknown;
    if (size >= 8 && std::memcmp(bytes, kPng, 8) == 0) return ImageFormat::png;
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8) return ImageFormat::jpeg;
    return ImageFormat::unknown;
}

DecodedImage decodeImage(const std::uint8_t* bytes, std::size_t size, int components) noexcept {
    if (components < 1 || components > 4) fatalError("image decoding: bad component count");
    if (detectImageFormat(bytes, size) == ImageFormat::unknown) fatalError("embedded image: unknown format");
    if (size > static_cast<std::size_t>(INT_MAX)) fatalError("embedded image: too large");
    DecodedImage image;
    int w = 0, h = 0, inFile = 0;
    image.pixels = stbi_load_from_memory(bytes, static_cast<int>(size), &w, &h, &inFile, components);
    if (image.pixels == nullptr || w <= 0 || h <= 0) fatalError("embedded image: cannot decode");
    image.w = w;
    image.h = h;
    image.components = components;
    return image;
}

HeapPtr<OwnedImage<RGBA>> decodeToRGBA(const std::uint8_t* bytes, std::size_t size) noexcept {
    const DecodedImage decoded = decodeImage(bytes, size, 4);
    auto image = makeHeap<OwnedImage<RGBA>>(decoded.w, decoded.h);
    std::memcpy(image->pixels(), decoded.pixels, static_cast<std::size_t>(decoded.w) * decoded.h * 4);
    return image;
}

HeapPtr<OwnedImage<RGBA>> decodeWithAlphaImage(const std::uint8_t* colorBytes, std::size_t colorSize,
                                               const std::uint8_t* alphaBytes,
                                               std::size_t alphaSize) noexcept {
    const DecodedImage color = decodeImage(colorBytes, colorSize, 3);
    const DecodedImage alpha = decodeImage(alphaBytes, alphaSize, 1);
    if (color.w != alpha.w || color.h != alpha.h) fatalError("embedded image: colour and alpha sizes differ");
    auto image = makeHeap<OwnedImage<RGBA>>(color.w, color.h);
    const std::size_t count = static_cast<std::size_t>(color.w) * color.h;
    RGBA* out = image->pixels();
    for (std::size_t i = 0; i < count; ++i)
        out[i] = RGBA{color.pixels[3 * i], color.pixels[3 * i + 1], color.pixels[3 * i + 2], alpha.pixels[i]};
    return image;
}

}  // namespace korvo
