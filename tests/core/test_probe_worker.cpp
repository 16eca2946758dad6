#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>

#include "drives/probe_worker.h"

namespace tolvane {
namespace {

using namespace std::chrono_literals;
constexpr auto kPatience = 10s;  // generous: the machine may be busy

// A probe that hangs until the test lets it go, counting how many run and how
// many run at once.
struct HangingDrive {
  std::mutex m;
  std::condition_variable cv;
  bool open = false;
  int started = 0, running = 0, most_at_once = 0, ready_calls = 0;

  int Probe() {
    std::unique_lock<std::mutex> lock(m);
    const int n = ++started;
    most_at_once = std::max(most_at_once, ++running);
    cv.notify_all();
    cv.wait(lock, [&] { return open; });
    --running;
    return n;
  }
  void Ready() {
    std::lock_guard<std::mutex> lock(m);
    ++ready_calls;
    cv.notify_all();
  }
  void Open() {
    std::lock_guard<std::mutex> lock(m);
    open = true;
    cv.notify_all();
  }
  template <typename P>
  bool WaitFor(P pred) {
    std::unique_lock<std::mutex> lock(m);
    return cv.wait_for(lock, kPatience, pred);
  }
};

TEST(ProbeWorker, TicksAskedForDuringAHangFoldIntoOneFollowUp) {
  auto drive = std::make_shared<HangingDrive>();
  ProbeWorker<int> worker([drive] { return drive->Probe(); }, [drive] { drive->Ready(); });
  worker.RequestTick();
  ASSERT_TRUE(drive->WaitFor([&] { return drive->started == 1; }));
  for (int i = 0; i < 10; ++i) worker.RequestTick();  // a second's timer ticks while the drive hangs
  EXPECT_FALSE(worker.TakeResult().has_value());
  drive->Open();
  ASSERT_TRUE(drive->WaitFor([&] { return drive->ready_calls == 2; }));
  EXPECT_EQ(drive->started, 2);
  EXPECT_EQ(drive->most_at_once, 1);
  // Both results came; only the latest is kept, and it is taken once.
  EXPECT_EQ(worker.TakeResult(), std::optional<int>(2));
  EXPECT_FALSE(worker.TakeResult().has_value());
  worker.RequestTick();
  ASSERT_TRUE(drive->WaitFor([&] { return drive->ready_calls == 3; }));
  EXPECT_EQ(worker.TakeResult(), std::optional<int>(3));
}

// A drive that never answers must not keep its owner from going: Stop and the
// destructor return while the probe still hangs, nothing is delivered after
// them, and the thread winds itself up once the probe comes back.
TEST(ProbeWorker, StoppingNeverWaitsForAHangingProbe) {
  auto drive = std::make_shared<HangingDrive>();
  {
    auto worker = std::make_unique<ProbeWorker<int>>([drive] { return drive->Probe(); }, [drive] { drive->Ready(); });
    worker->RequestTick();
    ASSERT_TRUE(drive->WaitFor([&] { return drive->started == 1; }));
    worker->RequestTick();
    auto gone = std::async(std::launch::async, [&] { worker.reset(); });
    ASSERT_EQ(gone.wait_for(kPatience), std::future_status::ready) << "destroying the worker waited for the drive";
  }
  const HangingDrive* raw = drive.get();
  drive->Open();
  // The abandoned thread drops its result and its copy of the probe.
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (drive.use_count() > 1 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(drive.use_count(), 1) << "the worker thread never ended";
  EXPECT_EQ(raw->ready_calls, 0);
  EXPECT_EQ(raw->started, 1);  // the tick asked for during the hang never ran
}

TEST(ProbeWorker, NoTickAfterStop) {
  auto drive = std::make_shared<HangingDrive>();
  drive->Open();
  ProbeWorker<int> worker([drive] { return drive->Probe(); }, [drive] { drive->Ready(); });
  worker.RequestTick();
  ASSERT_TRUE(drive->WaitFor([&] { return drive->ready_calls == 1; }));
  worker.Stop();
  EXPECT_FALSE(worker.TakeResult().has_value());  // a result not yet taken goes with the stop
  worker.RequestTick();
  std::this_thread::sleep_for(50ms);  // room for a wrong tick to show; the right outcome is that none comes
  EXPECT_EQ(drive->started, 1);
}

}  // namespace
}  // namespace tolvane
