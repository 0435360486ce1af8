// Chooses the face client class by the face-service type: 0 the FRS client, 1 the FCS client,
// any other value the FRS v2 client. Any thread.
#pragma once

#include <cstdint>

class VFRClient;

// A new client (reference count 1, not yet initialised), or null when this program has no
// client for the type.
VFRClient* CreateFaceClientForType(int32_t type);
