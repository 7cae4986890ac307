// The test modules' hook (TestGain.vst3 and TestGain.clap): every instance is a TestGainClient.
#include "korvo/client/factoryhook.h"
#include "tests/integration/testplugin/testclient.h"

namespace korvo {

HeapPtr<Client> createPluginClient() {
    return HeapPtr<Client>(heapNew<vst3test::TestGainClient>());
}

}  // namespace korvo
