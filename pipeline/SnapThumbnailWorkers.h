// Makes snapshot thumbnails on threads of their own, so that one camera's large or costly
// picture never holds up another camera's alarm on the SDK's callback thread. A camera has at
// most one picture in work at a time, so it holds at most one thread; its other pictures wait
// in a backlog of its own, and the cameras take turns.
// Post and RunHere: any thread. Stop: the owner, once no more Post calls come.
// backlogLock_ guards the backlogs, the turn order, the counts and stopping_; each pair of
// work files is guarded by its own lock, held for one job.
#pragma once

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

#include "records/FaceSnapshot.h"

namespace platform {
class Thread;
}

// The two files through which one thumbnail is made.
struct SnapWorkFiles {
  std::string source;       // the picture as received
  std::string destination;  // its thumbnail
};

struct ThumbnailJob {
  std::string camera;
  std::vector<unsigned char> jpeg;
  std::unique_ptr<FaceSnapshot> snapshot;  // complete but for its picture
};

class SnapThumbnailWorkers {
 public:
  static constexpr std::size_t kMaxJobsPerCamera = 16;
  static constexpr std::size_t kMaxJobs = 256;
  static constexpr std::size_t kMaxJobBytes = 64 * 1024 * 1024;
  // One picture, however costly, is done well within this; past it the thread is stuck.
  static constexpr int64_t kStuckAfterMs = 30000;

  // Runs the job with a pair of work files to itself; must not throw.
  using Run = std::function<void(ThumbnailJob& job, const SnapWorkFiles& files)>;
  enum class Posted { kQueued, kCameraBacklogFull, kAllBacklogsFull, kNotRunning };

  // threads of 0: nothing is posted, every job runs where RunHere is called. The first pair
  // of work files is tmpSrc.jpg and tmpDest.jpg in programFolder, shared by RunHere and the
  // first thread; thread N (from 2) has tmpSrcN.jpg and tmpDestN.jpg.
  SnapThumbnailWorkers(const std::string& programFolder, int threads, Run run);
  // Stops first (see Stop).
  ~SnapThumbnailWorkers();
  SnapThumbnailWorkers(const SnapThumbnailWorkers&) = delete;
  SnapThumbnailWorkers& operator=(const SnapThumbnailWorkers&) = delete;

  // Queues the job behind the camera's earlier ones. Unless kQueued, the job is left with the
  // caller, untouched.
  Posted Post(std::unique_ptr<ThumbnailJob>& job);
  // Runs the job on the calling thread, with the first pair of work files.
  void RunHere(ThumbnailJob& job);
  // Finishes every queued job, then ends the threads.
  void Stop();

 private:
  struct Worker;
  static unsigned WorkerMain(void* worker);
  void Serve(std::size_t index);
  // The next job of the next camera in turn that has none in work; null when none is ready.
  std::unique_ptr<ThumbnailJob> TakeNextLocked();

  // Constant after construction.
  const Run run_;
  std::vector<std::unique_ptr<Worker>> workers_;  // [0] is RunHere's pair when threads is 0

  std::mutex backlogLock_;
  std::condition_variable jobReady_;  // a camera became ready, or stopping
  struct Backlog {
    std::deque<std::unique_ptr<ThumbnailJob>> jobs;
    bool inWork = false;
  };
  std::unordered_map<std::string, Backlog> backlogs_;  // a camera is here while it has jobs
  std::deque<std::string> turns_;  // cameras with queued jobs and none in work, in turn
  std::size_t queuedJobs_ = 0;
  std::size_t queuedBytes_ = 0;
  bool stopping_ = false;
};
