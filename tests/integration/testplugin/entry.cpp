// The test module's hook: every instance is a TestGainClient.
#include "korvo/vst3/ipluginbase.h"
#include "tests/integration/testplugin/testclient.h"

namespace korvo::vst3 {

HeapPtr<Client> createPluginClient() {
    return HeapPtr<Client>(heapNew<vst3test::TestGainClient>());
}

}  // namespace korvo::vst3
