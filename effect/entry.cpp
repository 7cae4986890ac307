// The product's side of every plug-in module (VST3 and CLAP): each instance is a VelmoraClient.
#include "effect/main.h"
#include "korvo/client/factoryhook.h"

namespace korvo {

HeapPtr<Client> createPluginClient() {
    return HeapPtr<Client>(heapNew<velmora::VelmoraClient>());
}

}  // namespace korvo
