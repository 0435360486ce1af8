// The one face-service record: which recognition service to ask and how to reach it.
// Filled on the UI thread at start-up, read without a lock by the face client and the
// intake afterwards; never changed once start-up is over.
#pragma once

#include <cstdint>
#include <string>

// Face-service types; any other value configures no face service.
constexpr int32_t kFaceServiceFrs = 0;
constexpr int32_t kFaceServiceFcs = 1;
constexpr int32_t kFaceServiceFrsV2 = 2;

// Values for attributes that a configuration may leave out.
constexpr double kDefaultFaceScore = 0.8;
constexpr int32_t kDefaultFaceEnable = 1;

struct FaceServiceConfig {
  std::string Ip;
  int32_t Port = 0;
  std::string UserName;
  std::string Password;
  double Score = 0.0;
  std::string Client;
  int32_t Enable = 0;
  std::string Source;
  std::string Location;
  int32_t Type = 0;
  std::string AccountId;
  std::string AccessKey;
  // HTTPS (and wss:// for the FRS stream) with the certificate and host name checked against
  // CaFile, or the system trust store when CaFile is empty.
  bool Tls = false;
  std::string CaFile;
};
