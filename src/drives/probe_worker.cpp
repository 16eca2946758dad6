#include "drives/probe_worker.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace tolvane {

struct ProbeThread::Shared {
  std::mutex mutex;
  std::condition_variable wake;
  bool requested = false;
  bool stopped = false;
  bool threaded = false;
  const Job job;
  Ready ready;
  std::shared_ptr<void> result;

  Shared(Job j, Ready r) : job(std::move(j)), ready(std::move(r)) {}

  std::shared_ptr<void> RunJob() {
    try {
      return job();
    } catch (...) {
      return nullptr;  // out of memory in a probe: no result this tick, the next one tries again
    }
  }
  // With the mutex held.
  void Deliver(std::shared_ptr<void> r) {
    if (stopped || !r) return;
    result = std::move(r);
    if (ready) ready();
  }
};

namespace {

bool StartStandardThread(std::function<void()> body) {
  std::thread(std::move(body)).detach();
  return true;
}

std::atomic<ThreadStarter> g_starter{StartStandardThread};

}  // namespace

void SetThreadStarter(ThreadStarter starter) { g_starter = starter ? starter : StartStandardThread; }

ProbeThread::ProbeThread(Job job, Ready ready) : shared_(std::make_shared<Shared>(std::move(job), std::move(ready))) {
  try {
    shared_->threaded = g_starter.load()([s = shared_] { Run(s); });
  } catch (const std::system_error&) {
    // No thread to be had: the probes run on the caller's thread, as they
    // did before there was a worker. Slow, but the key drive still unlocks.
  }
}

ProbeThread::~ProbeThread() { Stop(); }

void ProbeThread::Run(std::shared_ptr<Shared> s) {
  std::unique_lock<std::mutex> lock(s->mutex);
  for (;;) {
    s->wake.wait(lock, [&] { return s->stopped || s->requested; });
    if (s->stopped) return;
    s->requested = false;
    lock.unlock();
    std::shared_ptr<void> r = s->RunJob();  // may take as long as the drive does
    lock.lock();
    s->Deliver(std::move(r));
  }
}

void ProbeThread::RequestTick() {
  std::unique_lock<std::mutex> lock(shared_->mutex);
  if (shared_->stopped) return;
  if (shared_->threaded) {
    shared_->requested = true;
    shared_->wake.notify_one();
    return;
  }
  lock.unlock();
  std::shared_ptr<void> r = shared_->RunJob();
  lock.lock();
  shared_->Deliver(std::move(r));
}

std::shared_ptr<void> ProbeThread::TakeResult() {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return std::move(shared_->result);
}

void ProbeThread::Stop() {
  std::shared_ptr<void> dropped;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->stopped = true;
    dropped = std::move(shared_->result);
    shared_->ready = nullptr;
  }
  shared_->wake.notify_all();
}

}  // namespace tolvane
