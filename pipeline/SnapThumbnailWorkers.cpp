#include "pipeline/SnapThumbnailWorkers.h"

#include "support/StageWatch.h"

#include "platform/Event.h"
#include "platform/Thread.h"

struct SnapThumbnailWorkers::Worker {
  SnapThumbnailWorkers* owner = nullptr;
  std::size_t index = 0;
  SnapWorkFiles files;
  std::mutex filesLock;  // held while a job uses the files
  std::unique_ptr<StageWatch::Slot> watched;  // made by the thread itself
  std::unique_ptr<platform::Thread> thread;
};

SnapThumbnailWorkers::SnapThumbnailWorkers(const std::string& programFolder, int threads, Run run)
    : run_(std::move(run)) {
  const std::size_t count = threads > 0 ? static_cast<std::size_t>(threads) : 1;
  for (std::size_t i = 0; i < count; ++i) {
    auto worker = std::make_unique<Worker>();
    worker->owner = this;
    worker->index = i;
    const std::string suffix = i == 0 ? "" : std::to_string(i + 1);
    worker->files.source = programFolder + "tmpSrc" + suffix + ".jpg";
    worker->files.destination = programFolder + "tmpDest" + suffix + ".jpg";
    workers_.push_back(std::move(worker));
  }
  if (threads <= 0) return;
  for (auto& worker : workers_) {
    worker->thread = std::make_unique<platform::Thread>("thumbnail", &WorkerMain, worker.get());
    worker->thread->Resume();
  }
}

SnapThumbnailWorkers::~SnapThumbnailWorkers() { Stop(); }

SnapThumbnailWorkers::Posted SnapThumbnailWorkers::Post(std::unique_ptr<ThumbnailJob>& job) {
  std::lock_guard<std::mutex> guard(backlogLock_);
  if (stopping_ || !workers_.front()->thread) return Posted::kNotRunning;
  Backlog& backlog = backlogs_[job->camera];
  if (backlog.jobs.size() >= kMaxJobsPerCamera) return Posted::kCameraBacklogFull;
  if (queuedJobs_ >= kMaxJobs || queuedBytes_ + job->jpeg.size() > kMaxJobBytes) {
    if (backlog.jobs.empty() && !backlog.inWork) backlogs_.erase(job->camera);
    return Posted::kAllBacklogsFull;
  }
  if (backlog.jobs.empty() && !backlog.inWork) turns_.push_back(job->camera);
  ++queuedJobs_;
  queuedBytes_ += job->jpeg.size();
  backlog.jobs.push_back(std::move(job));
  jobReady_.notify_one();
  return Posted::kQueued;
}

void SnapThumbnailWorkers::RunHere(ThumbnailJob& job) {
  Worker& first = *workers_.front();
  std::lock_guard<std::mutex> files(first.filesLock);
  run_(job, first.files);
}

void SnapThumbnailWorkers::Stop() {
  {
    std::lock_guard<std::mutex> guard(backlogLock_);
    stopping_ = true;
  }
  jobReady_.notify_all();
  for (auto& worker : workers_) {
    if (worker->thread) worker->thread->Join(platform::kInfinite);
  }
}

unsigned SnapThumbnailWorkers::WorkerMain(void* argument) {
  auto* worker = static_cast<Worker*>(argument);
  worker->owner->Serve(worker->index);
  return 0;
}

std::unique_ptr<ThumbnailJob> SnapThumbnailWorkers::TakeNextLocked() {
  if (turns_.empty()) return nullptr;
  Backlog& backlog = backlogs_[turns_.front()];
  turns_.pop_front();
  std::unique_ptr<ThumbnailJob> job = std::move(backlog.jobs.front());
  backlog.jobs.pop_front();
  backlog.inWork = true;
  --queuedJobs_;
  queuedBytes_ -= job->jpeg.size();
  return job;
}

void SnapThumbnailWorkers::Serve(std::size_t index) {
  Worker& worker = *workers_[index];
  worker.watched = std::make_unique<StageWatch::Slot>(
      StageWatch::Default(), "thumbnail-" + std::to_string(index + 1), kStuckAfterMs);
  std::unique_lock<std::mutex> lock(backlogLock_);
  for (;;) {
    jobReady_.wait(lock, [this] { return stopping_ || !turns_.empty(); });
    std::unique_ptr<ThumbnailJob> job = TakeNextLocked();
    if (!job) return;  // stopping, and nothing is left
    lock.unlock();
    {
      StageWatch::Item item(worker.watched.get());
      std::lock_guard<std::mutex> files(worker.filesLock);
      run_(*job, worker.files);
    }
    const std::string camera = job->camera;
    job.reset();
    lock.lock();
    Backlog& backlog = backlogs_[camera];
    backlog.inWork = false;
    if (backlog.jobs.empty()) {
      backlogs_.erase(camera);
    } else {
      turns_.push_back(camera);
      jobReady_.notify_one();
    }
  }
}
