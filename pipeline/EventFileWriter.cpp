#include "pipeline/EventFileWriter.h"

#include <tinyxml.h>

#include <ctime>
#include <exception>
#include <memory>
#include <utility>

#include "metrics/Metrics.h"
#include "pipeline/FolderPath.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/LocalTime.h"
#include "support/LogHelper.h"
#include "support/PeerText.h"
#include "support/StringFormat.h"
#include "support/TextHelpers.h"

namespace {

// Longest name, id, group or vendor name that an event file holds, in characters.
constexpr std::size_t kMaxPeerValueChars = 256;

// A value that another system chose, as every XML reader accepts it (see XmlSafe), in the
// ANSI code page of the document. Where that page is not UTF-8, U+FFFD has no form in it and
// the converter writes '?' instead.
std::string PeerValue(const std::string& ansi) {
  if (platform::AnsiCodePageIsUtf8()) return XmlSafe(ansi, kMaxPeerValueChars);
  return platform::ConvertUtf8ToAnsi(
      XmlSafe(platform::ConvertAnsiToUtf8(ansi), kMaxPeerValueChars));
}

bool BreakDownEventTime(std::time_t eventTime, std::tm* local) {
  *local = std::tm{};
  return platform::ToLocalTime(eventTime, local);
}

void AddInfoElement(TiXmlElement* root, const char* name, const std::string& info) {
  auto* element = new TiXmlElement(name);
  root->LinkEndChild(element);
  element->SetAttribute("Info", info);
}

// One element per line, four-space indent, CR LF line ends on every platform.
std::string PrintDocument(const TiXmlDocument& document) {
  TiXmlPrinter printer;
  printer.SetIndent("    ");
  printer.SetLineBreak("\r\n");
  document.Accept(&printer);
  return std::string(printer.CStr(), printer.Size());
}

std::string ToUtf8(const std::string& ansi) {
  char* converted = nullptr;
  const int size = AnsiToUtf8(ansi.c_str(), &converted);
  const std::unique_ptr<char[]> owner(converted);
  if (converted == nullptr || size <= 0) return std::string();
  return std::string(converted, static_cast<std::size_t>(size - 1));
}

// Log lines are cut at 1023 characters; a shorter reason keeps the marker on the line.
std::string ShortReason(const std::string& failure) {
  constexpr std::size_t kMaxReason = 960;
  return failure.size() > kMaxReason ? failure.substr(0, kMaxReason - 3) + "..." : failure;
}

}  // namespace

EventFileWriter::EventFileWriter(std::string srcPath, std::string vendorName)
    : srcPath_(std::move(srcPath)), vendorName_(std::move(vendorName)) {}

EventFileWriter::~EventFileWriter() = default;

std::string EventFileWriter::EventFileLeafName(const FaceSnapshot& snapshot) {
  std::tm local;
  if (!BreakDownEventTime(snapshot.EventTime, &local)) return std::string();
  return StringFormat("%s_%d_%d%02d%02d%02d%02d%02d.txt", snapshot.PosId.c_str(),
                      snapshot.FaceID, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                      local.tm_hour, local.tm_min, local.tm_sec);
}

std::string EventFileWriter::MakeEventFileName(const FaceSnapshot& snapshot) const {
  const std::string leaf = EventFileLeafName(snapshot);
  return leaf.empty() ? leaf : srcPath_ + "/" + leaf;
}

std::string EventFileWriter::BuildEventXml(const FaceSnapshot& snapshot) const {
  std::tm local;
  const std::string dateTime =
      BreakDownEventTime(snapshot.EventTime, &local)
          ? StringFormat("%d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                         local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec)
          : std::string();

  TiXmlDocument document;
  auto* root = new TiXmlElement("POSEvent");
  document.LinkEndChild(root);
  root->SetAttribute("Vender", PeerValue(vendorName_));
  AddInfoElement(root, "EventType", "FaceTrack");
  AddInfoElement(root, "EventDateTime", dateTime);
  AddInfoElement(root, "FaceID", StringFormat("%d", snapshot.FaceID));
  AddInfoElement(root, "EventID", snapshot.PosId);
  AddInfoElement(root, "Picture", snapshot.Picture);
  AddInfoElement(root, "FaceTemperature",
                 StringFormat("%g", static_cast<double>(snapshot.FaceTemperature)));
  AddInfoElement(root, "TemperatureStatus", StringFormat("%d", snapshot.TemperatureStatus));
  AddInfoElement(root, "PersonId", PeerValue(snapshot.PersonId));
  AddInfoElement(root, "GroupId", StringFormat("%d", snapshot.GroupId));
  AddInfoElement(root, "PersonGroup", PeerValue(snapshot.PersonGroup));
  AddInfoElement(root, "PersonName", PeerValue(snapshot.PersonName));
  AddInfoElement(root, "Confidence", snapshot.Confidence);
  AddInfoElement(root, "TemperatureUnit", StringFormat("%d", snapshot.TemperatureUnit));
  AddInfoElement(root, "WearMask", StringFormat("%d", snapshot.WearMask));
  return PrintDocument(document);
}

bool EventFileWriter::RenderEventFile(const FaceSnapshot& snapshot, std::string* name,
                                      std::string* utf8, std::string* failure) const {
  *name = EventFileLeafName(snapshot);
  const std::string path = srcPath_ + "/" + *name;
  if (name->empty()) {
    *failure = "event time has no local-time form";
    return false;
  }
  if (path.size() > platform::MaxPathLength()) {
    *failure = StringFormat("path of %zu bytes is longer than the limit of %zu", path.size(),
                            platform::MaxPathLength());
    return false;
  }
  *utf8 = ToUtf8(BuildEventXml(snapshot));
  // The text must read back as a UTF-8 document before it is delivered.
  TiXmlDocument document;
  document.SetTabSize(0);  // no row and column tracking: only the description is logged
  document.Parse(utf8->c_str(), nullptr, TIXML_ENCODING_UTF8);
  if (document.Error()) {
    CLogHelper::GetInstance()->LogError(std::string("Failed to generate file: ") +
                                        document.ErrorDesc());
    *failure = document.ErrorDesc();
    return false;
  }
  return true;
}

bool EventFileWriter::WriteEventFile(const FaceSnapshot& snapshot) const {
  CLogHelper* log = CLogHelper::GetInstance();
  std::string failure;
  try {
    std::string name, utf8;
    log->LogDebugF("Process face snapshot: id(%d), %s @3\n", snapshot.FaceID,
                   MakeEventFileName(snapshot).c_str());
    if (RenderEventFile(snapshot, &name, &utf8, &failure)) {
      if (!FolderExists(srcPath_)) CreateFolderPath(srcPath_);
      if (platform::WriteFileAtomically(srcPath_ + "/" + name, utf8.data(), utf8.size(),
                                        &failure)) {
        log->LogDebugF("Process face snapshot: id(%d), success @13\n", snapshot.FaceID);
        metrics::EventWritten();
        return true;
      }
    }
  } catch (const std::exception& e) {
    failure = e.what();
  }
  metrics::EventWriteFailed(failure);
  log->LogDebugF("Process face snapshot: id(%d), %s @12\n", snapshot.FaceID,
                 ShortReason(failure).c_str());
  return false;
}
