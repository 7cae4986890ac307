// The whole artwork with the plug-in's embedded fonts.
#include "effect/artwork/artwork.h"

#include "korvo_resources_resources.h"

namespace velmora::artgen {

Artwork drawArtwork(float scale) {
    korvo::Font labelFont(korvo::resources::Lato_Semibold_ttf, korvo::resources::Lato_Semibold_ttf_size);
    korvo::Font titleFont(korvo::resources::LeagueSpartan_Bold_otf,
                          korvo::resources::LeagueSpartan_Bold_otf_size);
    Artwork art = drawPanel(labelFont, titleFont, scale);
    art.skybox = drawSkybox();
    art.logo = drawLogo(scale);
    return art;
}

Artwork drawScaledPanelAndLogo(float scale, const std::atomic<bool>* cancel) {
    korvo::Font labelFont(korvo::resources::Lato_Semibold_ttf, korvo::resources::Lato_Semibold_ttf_size);
    korvo::Font titleFont(korvo::resources::LeagueSpartan_Bold_otf,
                          korvo::resources::LeagueSpartan_Bold_otf_size);
    Artwork art = drawPanel(labelFont, titleFont, scale, cancel);
    art.logo = drawLogo(scale);
    return art;
}

}  // namespace velmora::artgen
