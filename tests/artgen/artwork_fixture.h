#pragma once
// Draws and encodes the artwork once for all the tests of the executable.
#include <gtest/gtest.h>

#include <memory>

#include "effect/artwork/layout.h"
#include "tools/artgen/encode.h"

namespace velmora::artgen {

class ArtworkTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (art_ != nullptr) return;
        art_ = std::make_unique<Artwork>(drawArtwork());
        encoded_ = std::make_unique<EncodedArtwork>(encodeArtwork(*art_));
    }
    static const Artwork& art() { return *art_; }
    static const EncodedArtwork& encoded() { return *encoded_; }

private:
    // Kept for the whole run (drawing takes a few tenths of a second).
    static inline std::unique_ptr<Artwork> art_;
    static inline std::unique_ptr<EncodedArtwork> encoded_;
};

}  // namespace velmora::artgen
