#pragma once
// Runs code that a fault could block for good on a thread of its own. The
// test waits for it; should it still be blocked long after any wait the code
// is meant to make, the test fails with `what`, `unblock` releases whatever
// holds the thread, and the thread is joined. The guard only turns a hang
// into a failure that names it; it never judges how fast the code is.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <thread>

inline bool ReturnsOrFails(const std::function<void()>& work, const std::function<void()>& unblock,
                           const std::string& what, std::chrono::seconds guard = std::chrono::seconds(60)) {
  std::packaged_task<void()> task(work);
  std::future<void> done = task.get_future();
  std::thread runner(std::move(task));
  const bool returned = done.wait_for(guard) == std::future_status::ready;
  if (!returned) {
    ADD_FAILURE() << what << " (still blocked after " << guard.count() << " s)";
    unblock();
  }
  runner.join();
  return returned;
}
