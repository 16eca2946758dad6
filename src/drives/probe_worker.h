// Drive probes on a thread of their own. A drive that takes seconds to answer
// (a failing stick, a card reader in trouble, a drive letter that leads to a
// network share) would stop a window's painting, timers and typing if the
// window asked it itself; the window asks for a tick instead and is told when
// the tick's result is ready.
//
// At most one probe runs at a time. Ticks asked for while one runs fold into a
// single follow-up tick that starts when it ends, so a drive that hangs never
// queues more work and the result that arrives next is a fresh one.
//
// Stop never waits for the probe: a drive that never answers must not keep a
// window, or the program, from ending. The thread is left to finish on its
// own (it owns everything its probe touches) and its result is dropped; at
// process exit the system ends it with the rest.
//
// A job may be any probe: the lock's whole drive watch, the setup window's
// list, or a look at one drive only (say, whether a given key drive is still
// there), each on a worker of its own.
#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace tolvane {

// Starts a worker's thread and lets it go; false when none could start. A
// standard thread unless the program sets its own (the Windows program's
// threads carry its guard from their creation).
using ThreadStarter = bool (*)(std::function<void()> body);
void SetThreadStarter(ThreadStarter starter);

class ProbeThread {
 public:
  using Job = std::function<std::shared_ptr<void>()>;
  // Called on the worker thread, never after Stop has returned, each time a
  // result is ready. It must not block (a posted window message is the
  // intended use).
  using Ready = std::function<void()>;

  ProbeThread(Job job, Ready ready);
  ~ProbeThread();  // stops without waiting
  ProbeThread(const ProbeThread&) = delete;
  ProbeThread& operator=(const ProbeThread&) = delete;

  // Asks for a tick now: starts a probe if none runs, otherwise one more
  // after the running one. Never waits for a drive.
  void RequestTick();
  // The latest result not yet taken, or null.
  std::shared_ptr<void> TakeResult();
  // No probe starts and no result is delivered after this returns.
  void Stop();

 private:
  struct Shared;
  static void Run(std::shared_ptr<Shared> shared);
  std::shared_ptr<Shared> shared_;
};

template <typename Result>
class ProbeWorker {
 public:
  ProbeWorker(std::function<Result()> probe, ProbeThread::Ready ready)
      : thread_([probe = std::move(probe)] { return std::shared_ptr<void>(std::make_shared<Result>(probe())); },
                std::move(ready)) {}

  void RequestTick() { thread_.RequestTick(); }
  std::optional<Result> TakeResult() {
    std::shared_ptr<void> r = thread_.TakeResult();
    if (!r) return std::nullopt;
    return std::move(*static_cast<Result*>(r.get()));
  }
  void Stop() { thread_.Stop(); }

 private:
  ProbeThread thread_;
};

}  // namespace tolvane
