#include "config/FaceServiceLoader.h"

#include <tinyxml.h>

#include "config/FaceServiceType.h"
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

// The optional "tls" and "cafile" of an entry. Any "tls" other than absent or "0" asks for TLS,
// so that a mistyped value never sends faces and keys in clear.
void ReadTls(const TiXmlElement* info, FaceServiceConfig* entry) {
  const std::string tls = TextAttribute(info, "tls");
  entry->Tls = !tls.empty() && tls != "0";
  entry->CaFile = TextAttribute(info, "cafile");
}

// Keeps the entry as the record unless one exists already; the score is taken either way.
bool Keep(const FaceServiceConfig& entry, std::unique_ptr<FaceServiceConfig>& config) {
  const double score = entry.Score;
  if (!config) config = std::make_unique<FaceServiceConfig>(entry);
  config->Score = score;
  return true;
}

// Reads a required text attribute; false when it is absent or empty.
bool Required(const TiXmlElement* info, const char* name, std::string* value) {
  *value = TextAttribute(info, name);
  return !value->empty();
}

// The server address of an entry, "ip" then "port", each checked right after it is read.
bool ReadServer(const TiXmlElement* info, FaceServiceConfig* entry) {
  if (!Required(info, "ip", &entry->Ip)) return false;
  entry->Port = IntOr(info, "port", 0);
  return entry->Port != 0;
}

// The first "FrsInfo": each required value is checked right after it is read.
bool ReadFrsInfo(const TiXmlElement* info, int32_t type, std::unique_ptr<FaceServiceConfig>& config) {
  FaceServiceConfig entry;
  entry.Type = type;
  if (!ReadServer(info, &entry) || !Required(info, "username", &entry.UserName) ||
      !Required(info, "password", &entry.Password)) {
    return Fail();
  }
  entry.Score = DoubleOr(info, "score", kDefaultFaceScore);
  entry.Client = TextAttribute(info, "client");
  entry.Enable = IntOr(info, "enable", kDefaultFaceEnable);
  entry.Source = TextAttribute(info, "source");
  if (FaceServiceKindOf(type) == FaceServiceKind::kFrs && entry.Source.empty()) return Fail();
  entry.Location = TextAttribute(info, "location");
  ReadTls(info, &entry);
  return Keep(entry, config);
}

bool ReadFcsInfo(const TiXmlElement* info, std::unique_ptr<FaceServiceConfig>& config) {
  FaceServiceConfig entry;
  entry.Type = kFaceServiceFcs;
  if (!ReadServer(info, &entry) || !Required(info, "accountid", &entry.AccountId) ||
      !Required(info, "accesskey", &entry.AccessKey)) {
    return Fail();
  }
  entry.Score = DoubleOr(info, "score", kDefaultFaceScore);
  ReadTls(info, &entry);
  return Keep(entry, config);
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
    ReadTls(info, record.get());
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
  const FaceServiceKind kind = FaceServiceKindOf(type);
  if (kind == FaceServiceKind::kFrs || kind == FaceServiceKind::kFrsV2) {
    const TiXmlElement* list = root->FirstChildElement("FrsList");
    if (list == nullptr) return Fail();
    if (const TiXmlElement* info = list->FirstChildElement("FrsInfo")) {
      if (!ReadFrsInfo(info, type, config)) return false;
    }
  } else if (kind == FaceServiceKind::kFcs) {
    const TiXmlElement* list = root->FirstChildElement("FcsList");
    if (list == nullptr) return Fail();
    if (const TiXmlElement* info = list->FirstChildElement("FcsInfo")) {
      if (!ReadFcsInfo(info, config)) return false;
    }
  }
  return Loaded();
}
