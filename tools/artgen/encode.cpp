// PNG and baseline JPEG encoding of the artwork (stb_image_write, in memory) and writing the files.
#include "tools/artgen/encode.h"

#include <stb/stb_image_write.h>

#include <cstdio>

namespace velmora::artgen {

using korvo::ImageView;
using korvo::RGBA;

namespace {

void appendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(context);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

// The first `components` channels of every pixel, rows packed.
std::vector<std::uint8_t> packed(const ImageView<RGBA>& image, int components) {
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(image.w) * static_cast<std::size_t>(image.h) *
                static_cast<std::size_t>(components));
    for (std::int32_t y = 0; y < image.h; ++y)
        for (std::int32_t x = 0; x < image.w; ++x) {
            const RGBA p = image.at(x, y);
            const std::uint8_t channels[4] = {p.r, p.g, p.b, p.a};
            out.insert(out.end(), channels, channels + components);
        }
    return out;
}

}  // namespace

std::vector<std::uint8_t> encodePNG(const ImageView<RGBA>& image, int components) {
    const std::vector<std::uint8_t> pixels = packed(image, components);
    std::vector<std::uint8_t> out;
    if (stbi_write_png_to_func(appendBytes, &out, image.w, image.h, components, pixels.data(),
                               image.w * components) == 0)
        out.clear();
    return out;
}

std::vector<std::uint8_t> encodeJPEG(const ImageView<RGBA>& image, int quality) {
    const std::vector<std::uint8_t> pixels = packed(image, 3);
    std::vector<std::uint8_t> out;
    if (stbi_write_jpg_to_func(appendBytes, &out, image.w, image.h, 3, pixels.data(), quality) == 0)
        out.clear();
    return out;
}

EncodedArtwork encodeArtwork(const Artwork& art) {
    return EncodedArtwork{encodeJPEG(art.color->view(), kJpegQuality),  encodePNG(art.emissive->view(), 3),
                          encodePNG(art.material->view(), 4),           encodePNG(art.depth->view(), 4),
                          encodeJPEG(art.skybox->view(), kJpegQuality), encodePNG(art.logo->view(), 4)};
}

EncodedScaledArtwork encodeScaledArtwork(const Artwork& art) {
    return EncodedScaledArtwork{encodeJPEG(art.color->view(), kJpegQuality),
                                encodePNG(art.emissive->view(), 3), encodePNG(art.material->view(), 4),
                                encodePNG(art.depth->view(), 4), encodePNG(art.logo->view(), 4)};
}

namespace {
template <std::size_t N>
bool writeFiles(const std::array<std::vector<std::uint8_t>, N>& files,
                const std::array<std::string_view, N>& names, const std::string& directory,
                std::string& error) {
    for (std::size_t i = 0; i < N; ++i) {
        const std::string path = directory + "/" + std::string(names[i]);
        if (files[i].empty()) {
            error = "cannot encode " + path;
            return false;
        }
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) {
            error = "cannot open " + path;
            return false;
        }
        const bool written = std::fwrite(files[i].data(), 1, files[i].size(), file) == files[i].size();
        if (std::fclose(file) != 0 || !written) {
            error = "cannot write " + path;
            return false;
        }
    }
    return true;
}
}  // namespace

bool writeArtwork(const EncodedArtwork& files, const std::string& directory, std::string& error) {
    return writeFiles(files, kFileNames, directory, error);
}

bool writeScaledArtwork(const EncodedScaledArtwork& files, const std::string& directory, std::string& error) {
    return writeFiles(files, kScaledFileNames, directory, error);
}

}  // namespace velmora::artgen
