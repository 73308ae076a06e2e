#include "session/CommandThread.h"

#include <exception>
#include <utility>

namespace pavrel {

TCommandThread::TCommandThread() {
  FThread = std::thread([State = FState] {
    std::unique_lock lock(State->Lock);
    for (;;) {
      State->Changed.wait(lock, [&] { return State->Closing || !State->Queue.empty(); });
      if (State->Queue.empty()) {
        break;
      }
      std::function<void()> command = std::move(State->Queue.front());
      State->Queue.pop_front();
      lock.unlock();
      try {
        command();
      } catch (...) {
        // A command reports its own failures; nothing may end the thread.
      }
      command = nullptr;  // what it holds goes on this thread, in order
      lock.lock();
    }
    State->Ended = true;
    State->Changed.notify_all();
  });
}

TCommandThread::~TCommandThread() {
  Finish();
}

void TCommandThread::Post(std::function<void()> Command) {
  std::scoped_lock lock(FState->Lock);
  if (FState->Closing) {
    return;
  }
  FState->Queue.push_back(std::move(Command));
  FState->Changed.notify_all();
}

bool TCommandThread::Finish(std::chrono::milliseconds Timeout) {
  if (!FThread.joinable()) {
    return true;
  }
  bool ended = false;
  {
    std::unique_lock lock(FState->Lock);
    FState->Closing = true;
    FState->Changed.notify_all();
    if (Timeout == std::chrono::milliseconds::max()) {
      FState->Changed.wait(lock, [&] { return FState->Ended; });
      ended = true;
    } else {
      ended = FState->Changed.wait_for(lock, Timeout, [&] { return FState->Ended; });
    }
  }
  if (ended) {
    FThread.join();
  } else {
    FThread.detach();
  }
  return ended;
}

}  // namespace pavrel
