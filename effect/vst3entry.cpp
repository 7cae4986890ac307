// The product's side of the VST3 module: every instance the factory makes is a VelmoraClient.
#include "effect/main.h"
#include "korvo/vst3/ipluginbase.h"

namespace korvo::vst3 {

HeapPtr<Client> createPluginClient() {
    return HeapPtr<Client>(heapNew<velmora::VelmoraClient>());
}

}  // namespace korvo::vst3
