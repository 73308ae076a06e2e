#pragma once

// A thread that runs commands one after another, for work the UI thread must not wait for
// (starting and stopping video). Plain C++: nothing here touches a widget.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace pavrel {

class TCommandThread {
 public:
  TCommandThread();
  // Finish(no limit).
  ~TCommandThread();
  TCommandThread(const TCommandThread&) = delete;
  TCommandThread& operator=(const TCommandThread&) = delete;

  // Queues Command; commands run in the order posted. Ignored after Finish.
  void Post(std::function<void()> Command);
  // Lets the thread run what is queued and end. Waits at most Timeout (none: no limit);
  // answers whether the thread has ended. When it has not, it is left to end on its own
  // and keeps what it still has to run.
  bool Finish(std::chrono::milliseconds Timeout = std::chrono::milliseconds::max());

 private:
  struct TState {
    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<std::function<void()>> Queue;
    bool Closing = false;
    bool Ended = false;
  };
  std::shared_ptr<TState> FState = std::make_shared<TState>();
  std::thread FThread;
};

}  // namespace pavrel
