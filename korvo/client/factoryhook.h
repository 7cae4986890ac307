#pragma once
// The product's hook for the format adapters: every plug-in module defines createPluginClient,
// and each adapter's factory calls it for the description it publishes and for every instance.
//
// Ownership: the caller owns the new client. Thread contract: [main-thread] (the host's thread
// that creates instances or queries the factory).

#include "korvo/client/client.h"
#include "korvo/core/nogc.h"

namespace korvo {

// Defined by the product: makes a new client of the plug-in (never null).
HeapPtr<Client> createPluginClient();

}  // namespace korvo
