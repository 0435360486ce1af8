#include "config/FaceServiceLoader.h"

#include <tinyxml.h>

#include "config/XmlAttributes.h"
#include "support/LogHelper.h"

namespace {

bool Fail() {
  CLogHelper::GetInstance()->LogInfo("Failed to load device info...");
  return false;
}

bool Loaded() {
  CLogHelper::GetInstance()->LogInfo("device info loaded...");
  return true;
}

int32_t IntOr(const TiXmlElement* e, const char* name, int32_t fallback) {
  int32_t value = fallback;
  return IntAttribute(e, name, &value) ? value : fallback;
}

double DoubleOr(const TiXmlElement* e, const char* name, double fallback) {
  double value = fallback;
  return DoubleAttribute(e, name, &value) ? value : fallback;
}

// The first "FrsInfo": each required value is checked right after it is read.
bool ReadFrsInfo(const TiXmlElement* info, int32_t type, std::unique_ptr<FaceServiceConfig>& config) {
  const std::string ip = TextAttribute(info, "ip");
  if (ip.empty()) return Fail();
  const int32_t port = IntOr(info, "port", 0);
  if (port == 0) return Fail();
  const std::string userName = TextAttribute(info, "username");
  if (userName.empty()) return Fail();
  const std::string password = TextAttribute(info, "password");
  if (password.empty()) return Fail();
  const double score = DoubleOr(info, "score", kDefaultFaceScore);
  const std::string client = TextAttribute(info, "client");
  const int32_t enable = IntOr(info, "enable", kDefaultFaceEnable);
  const std::string source = TextAttribute(info, "source");
  if (type == kFaceServiceFrs && source.empty()) return Fail();
  const std::string location = TextAttribute(info, "location");
  if (!config) {
    config = std::make_unique<FaceServiceConfig>();
    config->Ip = ip;
    config->Port = port;
    config->UserName = userName;
    config->Password = password;
    config->Client = client;
    config->Enable = enable;
    config->Source = source;
    config->Location = location;
    config->Type = type;
  }
  config->Score = score;
  return true;
}

bool ReadFcsInfo(const TiXmlElement* info, std::unique_ptr<FaceServiceConfig>& config) {
  const std::string ip = TextAttribute(info, "ip");
  if (ip.empty()) return Fail();
  const int32_t port = IntOr(info, "port", 0);
  if (port == 0) return Fail();
  const std::string accountId = TextAttribute(info, "accountid");
  if (accountId.empty()) return Fail();
  const std::string accessKey = TextAttribute(info, "accesskey");
  if (accessKey.empty()) return Fail();
  const double score = DoubleOr(info, "score", kDefaultFaceScore);
  if (!config) {
    config = std::make_unique<FaceServiceConfig>();
    config->Type = kFaceServiceFcs;
    config->Ip = ip;
    config->Port = port;
    config->AccountId = accountId;
    config->AccessKey = accessKey;
  }
  config->Score = score;
  return true;
}

}  // namespace

bool LoadVfrInfo(const std::string& path, std::unique_ptr<FaceServiceConfig>& config) {
  TiXmlDocument document;
  if (!LoadXmlFile(path, document)) return false;
  const TiXmlElement* root = document.RootElement();
  if (root == nullptr) return Fail();
  if (const TiXmlElement* info = root->FirstChildElement("VFRInfo")) {
    auto record = std::make_unique<FaceServiceConfig>();
    record->Type = kFaceServiceFrs;
    record->Ip = TextAttribute(info, "ip");
    record->Port = IntOr(info, "port", 0);
    record->UserName = TextAttribute(info, "username");
    record->Password = TextAttribute(info, "password");
    record->Score = DoubleOr(info, "score", kDefaultFaceScore);
    record->Client = TextAttribute(info, "client");
    record->Enable = IntOr(info, "enable", kDefaultFaceEnable);
    record->Source = TextAttribute(info, "source");
    record->Location = TextAttribute(info, "location");
    config = std::move(record);
  }
  return Loaded();
}

bool LoadEdgeAiCfg(const std::string& path, std::unique_ptr<FaceServiceConfig>& config) {
  CLogHelper::GetInstance()->LogInfo("Loading EgdeAiCfg.xml...");
  TiXmlDocument document;
  if (!LoadXmlFile(path, document)) return false;
  const TiXmlElement* root = document.RootElement();
  if (root == nullptr) return Fail();
  const int32_t type = IntOr(root->FirstChildElement("ModeInfo"), "type", 0);
  if (type == kFaceServiceFrs || type == kFaceServiceFrsV2) {
    const TiXmlElement* list = root->FirstChildElement("FrsList");
    if (list == nullptr) return Fail();
    if (const TiXmlElement* info = list->FirstChildElement("FrsInfo")) {
      if (!ReadFrsInfo(info, type, config)) return false;
    }
  } else if (type == kFaceServiceFcs) {
    const TiXmlElement* list = root->FirstChildElement("FcsList");
    if (list == nullptr) return Fail();
    if (const TiXmlElement* info = list->FirstChildElement("FcsInfo")) {
      if (!ReadFcsInfo(info, config)) return false;
    }
  }
  return Loaded();
}
