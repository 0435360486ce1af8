// Creates the face client for a face-service type, as config/FaceServiceType decides what the
// type means. Any thread.
#pragma once

#include <cstdint>

class VFRClient;

// A new client (reference count 1, not yet initialised), or null when the type configures no
// face service.
VFRClient* CreateFaceClientForType(int32_t type);
