#include "pipeline/Spool.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <exception>
#include <map>

#include "metrics/Metrics.h"
#include "pipeline/SpoolEntry.h"
#include "platform/Thread.h"
#include "support/LogHelper.h"
#include "support/PeerText.h"
#include "support/StringFormat.h"

// Why every state is safe. The writes of one snapshot, in order:
//   accepted:  SEQ.snap.tmp written and synced, renamed to SEQ.snap, spool folder synced
//   finished:  SEQ-NAME.tmp written and synced, renamed to SEQ-NAME, SEQ.snap removed, spool
//              folder synced
//   published: SEQ-NAME renamed to NAME in the event folder (never over a file of that name),
//              event folder synced
// A file's data is synced before any name points to it, so no name ever shows a torn file. A
// power cut keeps a prefix of the folder changes that were synced: .snap alone is asked again;
// SEQ-NAME (with or without its .snap) is published; neither means the one rename that
// published it has happened. The .snap is gone on disk before the publishing rename is made,
// so a published snapshot is never asked again, and the rename moves the file out of the
// spool in the same step that puts it into the event folder, so it is never published twice.
// Without a face service the finished file is written at once and renamed straight into the
// event folder; it stays in the spool only when it cannot be published yet.

namespace {

constexpr int64_t kRefusalLineEveryNs = 60ll * 1000 * 1000 * 1000;
constexpr const char* kSnapSuffix = ".snap";
constexpr const char* kTempSuffix = ".tmp";
// A snapshot entry is Vestrel's alone; an event file, in the spool or published, is readable
// as the site's file mode creation mask allows, so that the collector's group can read it.
constexpr auto kEntryReaders = platform::DurableFiles::Readers::kOwner;
constexpr auto kEventReaders = platform::DurableFiles::Readers::kUsual;

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string SeqText(uint64_t seq) { return StringFormat("%016" PRIx64, seq); }

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Splits "SEQ.snap" or "SEQ-NAME"; false for any other name.
bool ParseEntryName(const std::string& file, uint64_t* seq, std::string* eventName) {
  if (file.size() < 17) return false;
  uint64_t value = 0;
  for (int i = 0; i < 16; ++i) {
    const char c = file[i];
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return false;
    value = value << 4 | static_cast<uint64_t>(digit);
  }
  if (value == 0) return false;
  const std::string rest = file.substr(16);
  if (rest == kSnapSuffix) {
    eventName->clear();
  } else if (rest.size() > 1 && rest[0] == '-') {
    *eventName = rest.substr(1);
  } else {
    return false;
  }
  *seq = value;
  return true;
}

std::size_t EntryCost(const FaceSnapshot& snapshot) {
  return spool_entry::EncodedSize(snapshot);
}

}  // namespace

Spool::Spool(std::string folder, const EventFileWriter& writer, platform::DurableFiles& files,
             bool identify, HandOn handOn, SpoolLimits limits)
    : folder_(std::move(folder)),
      corruptFolder_(folder_ + "/corrupt"),
      eventFolder_(writer.Folder()),
      writer_(writer),
      files_(files),
      identify_(identify),
      handOn_(std::move(handOn)),
      limits_(limits) {}

Spool::~Spool() { Stop(); }

void Spool::Start() {
  if (thread_) return;
  // The event folder may not exist yet; its file system is that of its nearest parent then.
  files_.MakeFolder(eventFolder_);
  files_.MakePrivateFolder(folder_);
  sameFileSystem_ = files_.SameFileSystem(folder_, eventFolder_);
  if (!sameFileSystem_) {
    CLogHelper::GetInstance()->LogWarnF(
        "Spool folder %s is not on the file system of the event folder %s: event files are "
        "copied, and one may be published twice after a crash",
        LogSafe(folder_).c_str(), LogSafe(eventFolder_).c_str());
  }
  {
    std::lock_guard<std::mutex> guard(queueLock_);
    roundInWork_ = true;  // recovery comes first
  }
  thread_ = std::make_unique<platform::Thread>("spool-writer", &Spool::ThreadEntry, this);
  thread_->Resume();
}

unsigned Spool::ThreadEntry(void* spool) {
  try {
    static_cast<Spool*>(spool)->Run();
  } catch (const std::exception& e) {
    CLogHelper::GetInstance()->LogErrorF("Spool thread ended: %s", e.what());
  }
  return 0;
}

bool Spool::Accept(std::unique_ptr<FaceSnapshot> snapshot) {
  const std::size_t cost = EntryCost(*snapshot);
  const int32_t faceId = snapshot->FaceID;
  std::string why;
  {
    std::lock_guard<std::mutex> guard(queueLock_);
    if (stopping_) {
      why = "Vestrel is stopping";
    } else if (accepted_.size() >= limits_.maxQueued) {
      why = StringFormat("%zu snapshots wait to be written", accepted_.size());
    } else if (entries_.load() + 1 > limits_.maxEntries) {
      why = StringFormat("the spool holds %zu entries, its limit", limits_.maxEntries);
    } else if (bytes_.load() + cost > limits_.maxBytes) {
      why = StringFormat("the spool would hold more than its limit of %" PRIu64 " bytes",
                         limits_.maxBytes);
    } else if (lowSpace_.load()) {
      why = StringFormat("less than %" PRIu64 " MiB are free on its file system",
                         limits_.reserveBytes / (1024 * 1024));
    } else {
      entries_.fetch_add(1);
      bytes_.fetch_add(cost);
      accepted_.push_back(std::move(snapshot));
      wake_.notify_one();
      return true;
    }
  }
  Refuse(faceId, why);
  return false;
}

void Spool::Refuse(int32_t faceId, const std::string& why) {
  metrics::SpoolRefused();
  const uint64_t refused = refusedSinceLine_.fetch_add(1) + 1;
  const int64_t now = NowNs();
  int64_t last = lastRefusalLineNs_.load();
  if (last != 0 && now - last < kRefusalLineEveryNs) return;
  if (!lastRefusalLineNs_.compare_exchange_strong(last, now)) return;
  refusedSinceLine_.fetch_sub(refused);
  CLogHelper::GetInstance()->LogWarnF(
      "Spool %s refuses face snapshots: id(%d) refused, %" PRIu64
      " refused since the last such line: %s",
      LogSafe(folder_).c_str(), faceId, refused, LogSafe(why).c_str());
}

bool Spool::Render(const FaceSnapshot& snapshot, Finished* finished) const {
  finished->seq = snapshot.SpoolSeq;
  finished->faceId = snapshot.FaceID;
  std::string why;
  try {
    if (writer_.RenderEventFile(snapshot, &finished->name, &finished->utf8, &why)) {
      CLogHelper::GetInstance()->LogDebugF("Process face snapshot: id(%d), %s%s @3\n",
                                           snapshot.FaceID, eventFolder_.c_str(),
                                           finished->name.c_str());
      return true;
    }
  } catch (const std::exception& e) {
    why = e.what();
  }
  CLogHelper::GetInstance()->LogErrorF(
      "Face snapshot id(%d) can have no event file (%s); its spool entry is removed",
      snapshot.FaceID, LogSafe(why).c_str());
  metrics::EventWriteFailed(why);
  finished->name.clear();
  finished->utf8.clear();
  return false;
}

bool Spool::WriteEventFile(const FaceSnapshot& snapshot) const {
  Finished finished;
  Render(snapshot, &finished);
  std::lock_guard<std::mutex> guard(queueLock_);
  finished_.push_back(std::move(finished));
  wake_.notify_one();
  return true;
}

void Spool::DetachConsumer() {
  std::lock_guard<std::mutex> guard(consumerLock_);
  consumerGone_ = true;
}

void Spool::Stop() {
  {
    std::lock_guard<std::mutex> guard(queueLock_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (!thread_) return;
  thread_->Join(-1);
  thread_.reset();
  if (entries_.load() > 0) {
    CLogHelper::GetInstance()->LogInfoF("Spool %s keeps %zu entries for the next start",
                                        LogSafe(folder_).c_str(), entries_.load());
  }
}

void Spool::Run() {
  StageWatch::Slot watched(StageWatch::Default(), "spool-writer", SpoolLimits::kStuckAfterMs);
  {
    StageWatch::Item item(&watched);
    Recover();
  }
  {
    std::lock_guard<std::mutex> guard(queueLock_);
    roundInWork_ = false;
    roundDone_.notify_all();
  }
  for (;;) {
    std::vector<std::unique_ptr<FaceSnapshot>> accepted;
    std::vector<Finished> finished;
    bool stopping = false;
    {
      std::unique_lock<std::mutex> lock(queueLock_);
      const auto work = [this] { return stopping_ || !accepted_.empty() || !finished_.empty(); };
      if (retryAtNs_ == 0) {
        wake_.wait(lock, work);
      } else {
        wake_.wait_for(lock, std::chrono::nanoseconds(std::max<int64_t>(0, retryAtNs_ - NowNs())),
                       work);
      }
      accepted.swap(accepted_);
      finished.swap(finished_);
      stopping = stopping_ && accepted.empty() && finished.empty();
      roundInWork_ = true;
    }
    StageWatch::Item item(&watched);
    CheckFreeSpace();
    if (!accepted.empty()) WriteAccepted(accepted);
    if (!finished.empty()) WriteFinished(finished);
    if (retryAtNs_ != 0 && (stopping || NowNs() >= retryAtNs_)) RetryWaiting();
    ScheduleRetry();
    UpdateGauges();
    {
      std::lock_guard<std::mutex> guard(queueLock_);
      roundInWork_ = false;
      if (accepted_.empty() && finished_.empty()) roundDone_.notify_all();
    }
    if (stopping) return;
  }
}

bool Spool::Flush(int timeoutMs) {
  std::unique_lock<std::mutex> lock(queueLock_);
  if (!thread_) return accepted_.empty() && finished_.empty();
  return roundDone_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
    return !roundInWork_ && accepted_.empty() && finished_.empty();
  });
}

bool Spool::FolderReady() {
  if (folderReady_) return true;
  const platform::FileResult made = files_.MakePrivateFolder(folder_);
  folderReady_ = made.Ok();
  if (!folderReady_ && !folderBrokenLogged_) {
    CLogHelper::GetInstance()->LogErrorF("Spool folder cannot be used, face snapshots are "
                                         "refused until it can: %s",
                                         LogSafe(made.text).c_str());
  }
  if (folderReady_ && folderBrokenLogged_) {
    CLogHelper::GetInstance()->LogInfoF("Spool folder %s can be used again",
                                        LogSafe(folder_).c_str());
  }
  folderBrokenLogged_ = !folderReady_;
  return folderReady_;
}

void Spool::WriteGroup(std::vector<platform::DurableFiles::NewFile>& group,
                       platform::DurableFiles::Readers readers) {
  if (group.empty()) return;
  files_.WriteAllSynced(folder_, group, readers);
  for (std::size_t i = 0; i < group.size(); ++i) metrics::SpoolSync();
  // A spool folder that went away is made again, and its files written once more.
  std::vector<platform::DurableFiles::NewFile> again;
  std::vector<std::size_t> at;
  for (std::size_t i = 0; i < group.size(); ++i) {
    if (group[i].result.kind != platform::FileResult::kNotFound) continue;
    again.push_back(group[i]);
    at.push_back(i);
  }
  if (again.empty()) return;
  NoteFailure(again[0].result);
  if (!FolderReady()) return;
  files_.WriteAllSynced(folder_, again, readers);
  for (std::size_t i = 0; i < again.size(); ++i) group[at[i]].result = again[i].result;
}

void Spool::NoteFailure(const platform::FileResult& result) {
  // A folder that went away is made again before the next write.
  if (result.kind == platform::FileResult::kNotFound) folderReady_ = false;
}

void Spool::CheckFreeSpace() {
  uint64_t free = 0;
  if (files_.FreeBytes(folder_, &free).Ok()) lowSpace_.store(free < limits_.reserveBytes);
}

void Spool::Unaccept(const FaceSnapshot& snapshot, const std::string& why) {
  entries_.fetch_sub(1);
  bytes_.fetch_sub(EntryCost(snapshot));
  Refuse(snapshot.FaceID, why);
}

void Spool::WriteAccepted(std::vector<std::unique_ptr<FaceSnapshot>>& batch) {
  if (!FolderReady()) {
    for (auto& snapshot : batch) Unaccept(*snapshot, "the spool folder cannot be used");
    return;
  }
  if (!identify_) {
    WriteDirectly(batch);
    return;
  }
  std::vector<std::string> entries(batch.size());
  std::vector<platform::DurableFiles::NewFile> group(batch.size());
  for (std::size_t i = 0; i < batch.size(); ++i) {
    batch[i]->SpoolSeq = nextSeq_++;
    entries[i] = spool_entry::Encode(*batch[i]);
    group[i].name = SeqText(batch[i]->SpoolSeq) + kSnapSuffix + kTempSuffix;
    group[i].bytes = &entries[i];
  }
  WriteGroup(group, kEntryReaders);
  std::vector<std::unique_ptr<FaceSnapshot>> written;
  for (std::size_t i = 0; i < batch.size(); ++i) {
    auto& snapshot = batch[i];
    const uint64_t seq = snapshot->SpoolSeq;
    platform::FileResult result = group[i].result;
    if (result.Ok()) {
      result = files_.Rename(folder_, group[i].name, folder_, SeqText(seq) + kSnapSuffix, false);
    }
    if (!result.Ok()) {
      files_.Remove(folder_, group[i].name);
      NoteFailure(result);
      Unaccept(*snapshot, result.text);
      continue;
    }
    entryBytes_[seq] = EntryCost(*snapshot);
    written.push_back(std::move(snapshot));
  }
  if (written.empty()) return;
  const platform::FileResult synced = files_.SyncFolder(folder_);
  metrics::SpoolSync();
  if (!synced.Ok()) {
    // Not known to be on disk: refused, so that nobody counts on them.
    for (auto& snapshot : written) {
      files_.Remove(folder_, SeqText(snapshot->SpoolSeq) + kSnapSuffix);
      entryBytes_.erase(snapshot->SpoolSeq);
      Unaccept(*snapshot, synced.text);
    }
    return;
  }
  for (auto& snapshot : written) {
    metrics::AlarmAccepted();
    CLogHelper::GetInstance()->LogDebugF("Face snapshot id(%d) is in the spool as %s\n",
                                         snapshot->FaceID, SeqText(snapshot->SpoolSeq).c_str());
  }
  HandOnAccepted(written);
}

void Spool::HandOnAccepted(std::vector<std::unique_ptr<FaceSnapshot>>& accepted) {
  std::vector<Finished> direct;
  for (auto& snapshot : accepted) {
    bool gone = false;
    {
      std::lock_guard<std::mutex> guard(consumerLock_);
      gone = consumerGone_;
      if (!gone && handOn_ && handOn_(snapshot.get())) {
        snapshot.release();
        continue;
      }
    }
    if (gone && identify_) {
      CLogHelper::GetInstance()->LogInfoF(
          "Face snapshot id(%d) written without identification: the face client has stopped",
          snapshot->FaceID);
      snapshot->GroupId = kGroupNoAnswer;
      snapshot->PersonId.clear();
    }
    Finished finished;
    Render(*snapshot, &finished);
    direct.push_back(std::move(finished));
  }
  if (!direct.empty()) WriteFinished(direct);
}

void Spool::WriteDirectly(std::vector<std::unique_ptr<FaceSnapshot>>& batch) {
  std::vector<Unpublished> published, kept, made;
  std::vector<std::size_t> costs;
  std::vector<int32_t> faceIds;
  for (auto& snapshot : batch) {
    snapshot->SpoolSeq = nextSeq_++;
    Finished finished;
    if (!Render(*snapshot, &finished)) {
      entries_.fetch_sub(1);
      bytes_.fetch_sub(EntryCost(*snapshot));
      continue;
    }
    const std::size_t size = finished.utf8.size();
    made.push_back(Unpublished{finished.seq, finished.faceId, finished.name,
                               SeqText(finished.seq) + "-" + finished.name,
                               std::move(finished.utf8), size});
    costs.push_back(EntryCost(*snapshot));
  }
  std::vector<platform::DurableFiles::NewFile> group(made.size());
  for (std::size_t i = 0; i < made.size(); ++i) {
    group[i].name = made[i].file + kTempSuffix;
    group[i].bytes = &made[i].utf8;
  }
  WriteGroup(group, kEventReaders);
  for (std::size_t i = 0; i < made.size(); ++i) {
    Unpublished& entry = made[i];
    const std::string& temp = group[i].name;
    platform::FileResult result = group[i].result;
    if (result.Ok() && sameFileSystem_ &&
        files_.Rename(folder_, temp, eventFolder_, entry.name, true).Ok()) {
      bytes_.fetch_sub(costs[i]);
      published.push_back(std::move(entry));
      continue;
    }
    // It cannot be published now: it waits in the spool.
    if (result.Ok()) result = files_.Rename(folder_, temp, folder_, entry.file, false);
    if (!result.Ok()) {
      files_.Remove(folder_, temp);
      NoteFailure(result);
      entries_.fetch_sub(1);
      bytes_.fetch_sub(costs[i]);
      Refuse(entry.faceId, result.text);
      continue;
    }
    bytes_.fetch_add(entry.size);
    bytes_.fetch_sub(costs[i]);
    entryBytes_[entry.seq] = entry.size;
    kept.push_back(std::move(entry));
  }
  if (!published.empty()) {
    SyncEventFolder();
    for (const Unpublished& entry : published) {
      metrics::AlarmAccepted();
      entries_.fetch_sub(1);
      PublishedLine(entry);
    }
  }
  if (kept.empty()) return;
  const platform::FileResult synced = files_.SyncFolder(folder_);
  metrics::SpoolSync();
  for (Unpublished& entry : kept) {
    if (!synced.Ok()) {
      files_.Remove(folder_, entry.file);
      Forget(entry.seq);
      Refuse(entry.faceId, synced.text);
      continue;
    }
    metrics::AlarmAccepted();
    waiting_.push_back(std::move(entry));
  }
}

void Spool::WriteFinished(std::vector<Finished>& batch) {
  if (!FolderReady()) {
    for (Finished& finished : batch) unwritten_.push_back(std::move(finished));
    return;
  }
  std::vector<Finished*> toWrite;
  for (Finished& finished : batch) {
    if (finished.name.empty()) {
      files_.Remove(folder_, SeqText(finished.seq) + kSnapSuffix);
      Forget(finished.seq);
    } else {
      toWrite.push_back(&finished);
    }
  }
  // A file written again after a failed sync replaces the one that is not trusted.
  std::vector<platform::DurableFiles::NewFile> group(toWrite.size());
  for (std::size_t i = 0; i < toWrite.size(); ++i) {
    group[i].name = SeqText(toWrite[i]->seq) + "-" + toWrite[i]->name + kTempSuffix;
    group[i].bytes = &toWrite[i]->utf8;
  }
  WriteGroup(group, kEventReaders);
  std::vector<Unpublished> ready;
  std::string failure;
  for (std::size_t i = 0; i < toWrite.size(); ++i) {
    Finished& finished = *toWrite[i];
    Unpublished entry{finished.seq, finished.faceId, finished.name,
                      SeqText(finished.seq) + "-" + finished.name, finished.utf8,
                      finished.utf8.size()};
    platform::FileResult result = group[i].result;
    if (result.Ok()) result = files_.Rename(folder_, group[i].name, folder_, entry.file, false);
    if (!result.Ok()) {
      files_.Remove(folder_, group[i].name);
      NoteFailure(result);
      if (failure.empty()) failure = result.text;
      unwritten_.push_back(std::move(finished));
      continue;
    }
    files_.Remove(folder_, SeqText(finished.seq) + kSnapSuffix);
    bytes_.fetch_add(entry.size);
    bytes_.fetch_sub(entryBytes_[entry.seq]);
    entryBytes_[entry.seq] = entry.size;
    ready.push_back(std::move(entry));
  }
  if (!failure.empty()) {
    CLogHelper::GetInstance()->LogErrorF(
        "Event files wait in memory, their snapshots in the spool, and are tried again: %s",
        LogSafe(failure).c_str());
  }
  if (ready.empty()) return;
  const platform::FileResult synced = files_.SyncFolder(folder_);
  metrics::SpoolSync();
  if (!synced.Ok()) {
    CLogHelper::GetInstance()->LogErrorF(
        "Spool folder could not be synced; %zu event files are written again: %s", ready.size(),
        LogSafe(synced.text).c_str());
    for (Unpublished& entry : ready) {
      unwritten_.push_back(Finished{entry.seq, entry.faceId, entry.name, std::move(entry.utf8)});
    }
    return;
  }
  PublishAll(ready);
}

bool Spool::Publish(Unpublished& entry, std::string* why) {
  if (sameFileSystem_) {
    platform::FileResult moved = files_.Rename(folder_, entry.file, eventFolder_, entry.name, true);
    // The event folder may have been removed, or its mount may be back.
    if (moved.kind == platform::FileResult::kNotFound && files_.MakeFolder(eventFolder_).Ok()) {
      moved = files_.Rename(folder_, entry.file, eventFolder_, entry.name, true);
    }
    if (moved.Ok()) return true;
    if (moved.kind == platform::FileResult::kExists) {
      *why = "a file of the name " + entry.name + " is already in the event folder";
      return false;
    }
    if (moved.kind != platform::FileResult::kCrossDevice &&
        moved.kind != platform::FileResult::kUnsupported) {
      *why = moved.text;
      return false;
    }
    sameFileSystem_ = false;
    CLogHelper::GetInstance()->LogWarnF(
        "Event folder %s cannot take a file from the spool by a rename; event files are "
        "copied from now on: %s",
        LogSafe(eventFolder_).c_str(), LogSafe(moved.text).c_str());
  }
  // At least once: the copy is in place and synced before the spool's file goes.
  if (entry.utf8.empty()) {
    const platform::FileResult read =
        files_.Read(folder_, entry.file, spool_entry::kMaxEntryBytes, &entry.utf8);
    if (!read.Ok()) {
      *why = read.text;
      return false;
    }
  }
  const std::string temp = "." + entry.name + kTempSuffix;
  platform::FileResult result = files_.WriteSynced(eventFolder_, temp, entry.utf8, kEventReaders);
  if (result.Ok()) result = files_.Rename(eventFolder_, temp, eventFolder_, entry.name, true);
  if (result.Ok()) result = files_.SyncFolder(eventFolder_);
  if (!result.Ok()) {
    files_.Remove(eventFolder_, temp);
    *why = result.kind == platform::FileResult::kExists
               ? "a file of the name " + entry.name + " is already in the event folder"
               : result.text;
    return false;
  }
  files_.Remove(folder_, entry.file);
  return true;
}

void Spool::PublishAll(std::vector<Unpublished>& ready) {
  std::vector<Unpublished> done;
  std::string failure;
  for (Unpublished& entry : ready) {
    std::string why;
    if (Publish(entry, &why)) {
      done.push_back(std::move(entry));
    } else {
      if (failure.empty()) failure = why;
      waiting_.push_back(std::move(entry));
    }
  }
  if (!failure.empty()) lastPublishFailure_ = failure;
  if (done.empty()) return;
  SyncEventFolder();
  for (const Unpublished& entry : done) {
    Forget(entry.seq);
    PublishedLine(entry);
  }
}

void Spool::SyncEventFolder() {
  const platform::FileResult synced = files_.SyncFolder(eventFolder_);
  metrics::SpoolSync();
  // The files are in the event folder either way; on disk they are either there or still in
  // the spool, never in both.
  if (!synced.Ok()) {
    CLogHelper::GetInstance()->LogErrorF("Event folder could not be synced: %s",
                                         LogSafe(synced.text).c_str());
  }
}

void Spool::PublishedLine(const Unpublished& entry) {
  metrics::EventWritten();
  CLogHelper::GetInstance()->LogDebugF("Process face snapshot: id(%d), success @13\n",
                                       entry.faceId);
}

void Spool::Forget(uint64_t seq) {
  const auto it = entryBytes_.find(seq);
  if (it != entryBytes_.end()) {
    bytes_.fetch_sub(it->second);
    entryBytes_.erase(it);
  }
  entries_.fetch_sub(1);
}

void Spool::RetryWaiting() {
  const std::size_t before = waiting_.size() + unwritten_.size();
  std::vector<Finished> again;
  again.swap(unwritten_);
  if (!again.empty()) WriteFinished(again);
  std::vector<Unpublished> waiting;
  waiting.swap(waiting_);
  lastPublishFailure_.clear();
  if (!waiting.empty()) PublishAll(waiting);
  const std::size_t after = waiting_.size() + unwritten_.size();
  retryProgress_ = after < before;
  if (after == 0) {
    CLogHelper::GetInstance()->LogInfoF(
        "Event files can be written again; %zu waiting event files were published", before);
  }
  retryAtNs_ = 0;
}

void Spool::ScheduleRetry() {
  if (waiting_.empty() && unwritten_.empty()) {
    retryDelayMs_ = 0;
    retryAtNs_ = 0;
    return;
  }
  if (retryAtNs_ != 0) return;
  retryDelayMs_ = retryDelayMs_ == 0 || retryProgress_
                      ? limits_.firstRetryMs
                      : std::min(retryDelayMs_ * 2, limits_.maxRetryMs);
  retryProgress_ = false;
  retryAtNs_ = NowNs() + static_cast<int64_t>(retryDelayMs_) * 1000 * 1000;
  if (!waiting_.empty()) {
    CLogHelper::GetInstance()->LogErrorF(
        "%zu event files wait in the spool to be published, next try in %d s: %s",
        waiting_.size(), (retryDelayMs_ + 999) / 1000, LogSafe(lastPublishFailure_).c_str());
  }
}

void Spool::UpdateGauges() { metrics::SpoolState(entries_.load(), bytes_.load()); }

void Spool::MoveToCorrupt(const std::string& file, const std::string& why) {
  files_.MakePrivateFolder(corruptFolder_);
  const platform::FileResult moved = files_.Rename(folder_, file, corruptFolder_, file, false);
  metrics::SpoolCorrupt();
  ++corruptFound_;
  CLogHelper::GetInstance()->LogErrorF(
      "Spool entry %s cannot be read (%s): %s", LogSafe(file).c_str(), LogSafe(why).c_str(),
      moved.Ok() ? ("moved to " + LogSafe(corruptFolder_)).c_str()
                 : ("left in place: " + LogSafe(moved.text)).c_str());
  // A file that cannot even be moved is removed, so that no later start trips over it.
  if (!moved.Ok()) files_.Remove(folder_, file);
}

void Spool::Recover() {
  CLogHelper* log = CLogHelper::GetInstance();
  if (!FolderReady()) return;
  std::vector<platform::DurableFiles::Entry> listed;
  const platform::FileResult read = files_.List(folder_, &listed);
  if (!read.Ok()) {
    log->LogErrorF("Spool folder cannot be read: %s", LogSafe(read.text).c_str());
    return;
  }
  struct Found {
    uint64_t snapSize = 0;
    bool snap = false;
    std::string ready;  // the SEQ-NAME file
    std::string eventName;
    uint64_t readySize = 0;
  };
  std::map<uint64_t, Found> found;  // in arrival order
  for (const auto& file : listed) {
    if (EndsWith(file.name, kTempSuffix)) {
      files_.Remove(folder_, file.name);
      continue;
    }
    uint64_t seq = 0;
    std::string eventName;
    if (!ParseEntryName(file.name, &seq, &eventName)) {
      MoveToCorrupt(file.name, "not a spool entry name");
      continue;
    }
    Found& entry = found[seq];
    if (eventName.empty()) {
      entry.snap = true;
      entry.snapSize = file.size;
    } else if (entry.ready.empty()) {
      entry.ready = file.name;
      entry.eventName = eventName;
      entry.readySize = file.size;
    } else {
      MoveToCorrupt(file.name, "a second event file of one entry");
    }
    nextSeq_ = std::max(nextSeq_, seq + 1);
  }

  std::vector<std::unique_ptr<FaceSnapshot>> resumed;
  std::size_t published = 0;
  for (auto& [seq, entry] : found) {
    const std::string snap = SeqText(seq) + kSnapSuffix;
    if (!entry.ready.empty()) {
      // Finished before the stop: the snapshot is not asked again.
      if (entry.snap) files_.Remove(folder_, snap);
      if (entry.readySize == 0) {
        MoveToCorrupt(entry.ready, "empty event file");
        continue;
      }
      entries_.fetch_add(1);
      bytes_.fetch_add(entry.readySize);
      entryBytes_[seq] = entry.readySize;
      waiting_.push_back(Unpublished{seq, 0, entry.eventName, entry.ready, "", entry.readySize});
      ++published;
      continue;
    }
    std::string bytes, why;
    auto snapshot = std::make_unique<FaceSnapshot>();
    const platform::FileResult loaded =
        files_.Read(folder_, snap, spool_entry::kMaxEntryBytes, &bytes);
    if (!loaded.Ok()) why = loaded.text;
    if (!loaded.Ok() || !spool_entry::Decode(bytes, snapshot.get(), &why)) {
      MoveToCorrupt(snap, why);
      continue;
    }
    snapshot->SpoolSeq = seq;
    entries_.fetch_add(1);
    bytes_.fetch_add(entry.snapSize);
    entryBytes_[seq] = entry.snapSize;
    resumed.push_back(std::move(snapshot));
  }
  files_.SyncFolder(folder_);
  metrics::SpoolResumed(resumed.size() + published);
  log->LogInfoF("Spool %s: %zu snapshots resumed, %zu corrupt", LogSafe(folder_).c_str(),
                resumed.size() + published, corruptFound_);
  if (!waiting_.empty()) {
    std::vector<Unpublished> waiting;
    waiting.swap(waiting_);
    PublishAll(waiting);
  }
  if (!resumed.empty()) HandOnAccepted(resumed);
  ScheduleRetry();
  UpdateGauges();
}
