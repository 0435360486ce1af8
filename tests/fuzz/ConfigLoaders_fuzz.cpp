// libFuzzer target for the configuration loaders: the input is written to a file, which every
// loader then reads (the device list, the remote device file in both modes, the face-service
// entry of either file). Nothing may crash or hang. Run with scripts/fuzz.sh.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <random>
#include <memory>
#include <string>

#include "config/DeviceListLoader.h"
#include "config/FaceServiceLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/vestrel-config-fuzz-" + std::to_string(std::random_device{}()) + ".xml";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  DeviceTables tables;
  LoadDevInfo(path, tables);
  LoadRemoteDevCfg(path, 1, tables);
  LoadRemoteDevCfg(path, 0, tables);
  std::unique_ptr<FaceServiceConfig> face;
  LoadVfrInfo(path, face);
  face.reset();
  LoadEdgeAiCfg(path, face);
  return 0;
}
