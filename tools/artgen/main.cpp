// artgen: draws the editor's artwork and writes the files the plug-in embeds (the six of 100 % and
// the five of 200 %); optionally renders a lit preview.
//
//   artgen [--out DIR] [--preview FILE.png] [--bare] [--outlines] [--zoom N] [--crop X,Y,W,H]
//
// --out DIR      where the images go (default: effect/resources of the source tree)
// --preview PNG  also render the artwork lit by the editor's compositor, with the editor's widgets
//                (--bare: without them; --outlines: widget, hint and slope boxes outlined);
//                --crop and --zoom enlarge a part of it (nearest neighbour) for a closer look.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "effect/artwork/layout.h"
#include "tools/artgen/encode.h"
#include "tools/artgen/preview.h"

#ifndef VELMORA_RESOURCE_DIR
#define VELMORA_RESOURCE_DIR "effect/resources"
#endif

int main(int argc, char** argv) {
    using namespace velmora::artgen;
    std::string out = VELMORA_RESOURCE_DIR, preview;
    PreviewOptions options;
    int zoom = 1;
    korvo::IntRect crop{{0, 0}, {kWidth, kHeight}};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--out" && hasValue) {
            out = argv[++i];
        } else if (arg == "--preview" && hasValue) {
            preview = argv[++i];
        } else if (arg == "--bare") {
            options.widgets = false;
        } else if (arg == "--outlines") {
            options.outlines = true;
        } else if (arg == "--zoom" && hasValue) {
            zoom = std::atoi(argv[++i]);
            if (zoom < 1 || zoom > 8) {
                std::fprintf(stderr, "artgen: --zoom wants 1 to 8\n");
                return 2;
            }
        } else if (arg == "--crop" && hasValue) {
            int x = 0, y = 0, w = 0, h = 0;
            if (std::sscanf(argv[++i], "%d,%d,%d,%d", &x, &y, &w, &h) != 4 || w <= 0 || h <= 0) {
                std::fprintf(stderr, "artgen: --crop wants X,Y,W,H\n");
                return 2;
            }
            crop = korvo::IntRect::fromXYWH(x, y, w, h);
        } else {
            std::fprintf(stderr,
                         "usage: artgen [--out DIR] [--preview FILE.png] [--bare] [--outlines] [--zoom N] "
                         "[--crop X,Y,W,H]\n");
            return 2;
        }
    }
    const Artwork art = drawArtwork();
    const EncodedArtwork files = encodeArtwork(art);
    const EncodedScaledArtwork scaled = encodeScaledArtwork(drawArtwork(kScaledArtworkScale));
    std::string error;
    if (!writeArtwork(files, out, error) || !writeScaledArtwork(scaled, out, error)) {
        std::fprintf(stderr, "artgen: %s\n", error.c_str());
        return 1;
    }
    for (std::size_t i = 0; i < files.size(); ++i)
        std::printf("%s/%s  %zu bytes\n", out.c_str(), std::string(kFileNames[i]).c_str(), files[i].size());
    for (std::size_t i = 0; i < scaled.size(); ++i)
        std::printf("%s/%s  %zu bytes\n", out.c_str(), std::string(kScaledFileNames[i]).c_str(),
                    scaled[i].size());
    if (!preview.empty()) {
        auto picture = renderPreview(files, options);
        auto part = enlarge(picture->view(), crop, zoom);
        const std::vector<std::uint8_t> png = encodePNG(part->view(), 4);
        std::FILE* file = std::fopen(preview.c_str(), "wb");
        const bool ok = file != nullptr && std::fwrite(png.data(), 1, png.size(), file) == png.size();
        if (file == nullptr || std::fclose(file) != 0 || !ok) {
            std::fprintf(stderr, "artgen: cannot write %s\n", preview.c_str());
            return 1;
        }
        std::printf("%s  (preview)\n", preview.c_str());
    }
    return 0;
}
