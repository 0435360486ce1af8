// The durable spool: a face snapshot counts as accepted once it is a synced file on disk, and
// its event file is published into the event folder exactly once, by one rename, whatever
// kills the process or cuts the power in between.
//
// The spool folder (0700, files 0600) holds:
//   SEQ.snap       an accepted snapshot waiting for its answer (SpoolEntry form)
//   SEQ-NAME       its finished event file, waiting to be published as NAME
//   *.tmp          a file being written; removed at start
//   corrupt/       entries that could not be read, kept for a person to look at
// SEQ is 16 hex digits that only grow, so names sort in arrival order. Every state after any
// prefix of the writes is one that Recover turns into exactly one event file (see Spool.cpp).
//
// Threads: Accept on the alarm and thumbnail threads, never waiting on the disk (a bounded
// queue); WriteEventFile on the face-client workers; Start, DetachConsumer and Stop on the
// owner's thread; every file operation on the spool's own thread ("spool-writer"), which
// shares the syncs of requests that arrive together. queueLock_ guards the request queues and
// the stop flag; consumerLock_ guards the hand-on to the face client; the counters are atomic.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "pipeline/EventFileWriter.h"
#include "pipeline/EventSink.h"
#include "platform/DurableFiles.h"
#include "records/FaceSnapshot.h"
#include "support/StageWatch.h"

namespace platform {
class Thread;
}

struct SpoolLimits {
  static constexpr std::size_t kMaxEntries = 10000;
  static constexpr uint64_t kMaxBytes = 256ull * 1024 * 1024;
  // Left free on the spool's file system for the rest of the system.
  static constexpr uint64_t kReserveBytes = 64ull * 1024 * 1024;
  // Snapshots handed to the spool's thread and not yet on disk.
  static constexpr std::size_t kMaxQueued = 1024;
  static constexpr int kFirstRetryMs = 1000;
  static constexpr int kMaxRetryMs = 60000;
  // One round of writes takes longer only when the disk has stopped answering.
  static constexpr int64_t kStuckAfterMs = 60000;

  std::size_t maxEntries = kMaxEntries;
  uint64_t maxBytes = kMaxBytes;
  uint64_t reserveBytes = kReserveBytes;
  std::size_t maxQueued = kMaxQueued;
  int firstRetryMs = kFirstRetryMs;
  int maxRetryMs = kMaxRetryMs;
};

class Spool : public EventSink {
 public:
  // Offers an accepted snapshot to the face client; true when it took it (and ownership).
  using HandOn = std::function<bool(FaceSnapshot* snapshot)>;

  // folder is the spool folder; the event folder and the document come from writer. With
  // identify, snapshots go to handOn once accepted; without, their event files are published
  // at once and no .snap entry is written. The references must outlive the spool.
  Spool(std::string folder, const EventFileWriter& writer, platform::DurableFiles& files,
        bool identify, HandOn handOn, SpoolLimits limits = SpoolLimits());
  ~Spool() override;  // stops
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;

  // Starts the spool's thread, which first resumes what an earlier run left.
  void Start();
  // Takes the snapshot for the spool's thread. False when it is refused (a bound is reached,
  // or the spool has stopped): counted, and said in a WARN line at most once a minute.
  bool Accept(std::unique_ptr<FaceSnapshot> snapshot);
  // A finished snapshot: its event file is made on the calling thread and published by the
  // spool's thread. True when it is queued for that.
  bool WriteEventFile(const FaceSnapshot& snapshot) const override;
  // Waits until everything queued so far is on disk and handed on or published (bounded by
  // timeoutMs); true when it is.
  bool Flush(int timeoutMs);
  // From now on no snapshot is handed to the face client; those accepted later are written as
  // unanswered (-3). Waits until no hand-on is in progress.
  void DetachConsumer();
  // Writes everything queued, tries unpublished files once more, and ends the thread. What is
  // left on disk is resumed by the next Start.
  void Stop();

  // Accepted entries on disk or on their way there, and their bytes.
  std::size_t Entries() const { return entries_.load(); }
  uint64_t Bytes() const { return bytes_.load(); }

 private:
  struct Finished {
    uint64_t seq = 0;
    int32_t faceId = 0;
    std::string name;  // empty: the snapshot has no event file; its entry is dropped
    std::string utf8;
  };
  struct Unpublished {
    uint64_t seq = 0;
    int32_t faceId = 0;
    std::string name;
    std::string file;   // its name in the spool folder
    std::string utf8;   // empty when it was found on disk at start
    uint64_t size = 0;
  };

  static unsigned ThreadEntry(void* spool);
  void Run();
  // Publishes what an earlier run finished and resumes the snapshots it accepted.
  void Recover();
  void MoveToCorrupt(const std::string& file, const std::string& why);
  // The snapshots of one round: as .snap entries (with a face service), or published at once.
  void WriteAccepted(std::vector<std::unique_ptr<FaceSnapshot>>& batch);
  void WriteDirectly(std::vector<std::unique_ptr<FaceSnapshot>>& batch);
  void HandOnAccepted(std::vector<std::unique_ptr<FaceSnapshot>>& accepted);
  // Finished snapshots: their event files into the spool, then published.
  void WriteFinished(std::vector<Finished>& batch);
  void PublishAll(std::vector<Unpublished>& ready);
  // Moves one file from the spool into the event folder; false with *why when it must wait.
  bool Publish(Unpublished& entry, std::string* why);
  void SyncEventFolder();
  void PublishedLine(const Unpublished& entry);
  void RetryWaiting();
  void ScheduleRetry();
  // Makes the event file; false (logged, counted) when the snapshot can have none.
  bool Render(const FaceSnapshot& snapshot, Finished* finished) const;
  void Refuse(int32_t faceId, const std::string& why);
  // Takes back the counts of a snapshot taken by Accept that did not reach the disk.
  void Unaccept(const FaceSnapshot& snapshot, const std::string& why);
  void Forget(uint64_t seq);
  bool FolderReady();
  // Writes and syncs the files of one round together.
  void WriteGroup(std::vector<platform::DurableFiles::NewFile>& group,
                  platform::DurableFiles::Readers readers);
  void NoteFailure(const platform::FileResult& result);
  void CheckFreeSpace();
  void UpdateGauges();

  // Constant after construction.
  const std::string folder_;
  const std::string corruptFolder_;
  const std::string eventFolder_;
  const EventFileWriter& writer_;
  platform::DurableFiles& files_;
  const bool identify_;
  const HandOn handOn_;
  const SpoolLimits limits_;
  // Set by Start before the thread runs; cleared by the thread when a rename across fails.
  std::atomic<bool> sameFileSystem_{true};

  // Guarded by queueLock_.
  mutable std::mutex queueLock_;
  mutable std::condition_variable wake_;
  std::vector<std::unique_ptr<FaceSnapshot>> accepted_;
  mutable std::vector<Finished> finished_;
  bool stopping_ = false;
  bool roundInWork_ = false;          // the thread works on what it took from the queues
  std::condition_variable roundDone_;  // the queues are empty and no round is in work

  std::mutex consumerLock_;
  bool consumerGone_ = false;  // guarded by consumerLock_

  // Read by Accept on any thread, written by the spool's thread.
  std::atomic<std::size_t> entries_{0};
  std::atomic<uint64_t> bytes_{0};
  std::atomic<bool> lowSpace_{false};
  std::atomic<int64_t> lastRefusalLineNs_{0};
  std::atomic<uint64_t> refusedSinceLine_{0};

  // The spool's thread only.
  uint64_t nextSeq_ = 1;
  bool folderReady_ = false;
  bool folderBrokenLogged_ = false;
  std::size_t corruptFound_ = 0;
  std::unordered_map<uint64_t, uint64_t> entryBytes_;  // seq -> bytes on disk
  std::vector<Unpublished> waiting_;                   // not yet published, retried
  std::vector<Finished> unwritten_;                    // finished, whose file failed
  int retryDelayMs_ = 0;
  int64_t retryAtNs_ = 0;  // steady clock; 0: no retry planned
  bool retryProgress_ = false;
  std::string lastPublishFailure_;

  std::unique_ptr<platform::Thread> thread_;  // last: it uses everything above
};
