// The grabber's call guarantee, without GStreamer: one call at a time, nothing escapes,
// and nothing runs once Close() has returned.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "video/FrameGate.h"

namespace pavrel {
namespace {

using namespace std::chrono_literals;

TEST(FrameGate, RunsOnlyWhileOpen) {
  TFrameGate gate;
  int calls = 0;
  EXPECT_FALSE(gate.Run([&] { ++calls; }));
  gate.Open();
  EXPECT_TRUE(gate.Run([&] { ++calls; }));
  gate.Close();
  gate.Close();
  EXPECT_FALSE(gate.Run([&] { ++calls; }));
  EXPECT_EQ(calls, 1);
}

TEST(FrameGate, FailuresGoToTheErrorHandlerOnly) {
  TFrameGate gate;
  std::vector<std::string> errors;
  gate.SetOnError([&](const std::string& Message) { errors.push_back(Message); });
  gate.Open();
  EXPECT_NO_THROW(gate.Run([] { throw std::runtime_error("bad frame"); }));
  EXPECT_NO_THROW(gate.Run([] { throw 42; }));
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0], "bad frame");
  EXPECT_FALSE(errors[1].empty());
  // A throwing error handler does not escape either.
  gate.SetOnError([](const std::string&) { throw std::logic_error("handler"); });
  EXPECT_NO_THROW(gate.Run([] { throw std::runtime_error("again"); }));
}

TEST(FrameGate, CallsFromManyThreadsRunOneAtATime) {
  TFrameGate gate;
  gate.Open();
  std::atomic<int> inside{0}, maxInside{0}, calls{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        gate.Run([&] {
          const int now = ++inside;
          int max = maxInside.load();
          while (now > max && !maxInside.compare_exchange_weak(max, now)) {
          }
          std::this_thread::yield();
          ++calls;
          --inside;
        });
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(calls, 800);
  EXPECT_EQ(maxInside, 1);
}

TEST(FrameGate, CloseWaitsForTheCallInProgressAndNoneFollows) {
  TFrameGate gate;
  gate.Open();
  std::atomic<int> entered{0}, left{0};
  std::atomic<bool> closing{false}, done{false};
  std::thread streaming([&] {
    while (!done) {
      gate.Run([&] {
        ++entered;
        if (entered == 1) {
          // Barrier: the first call is in progress when Close() is called.
          while (!closing) {
            std::this_thread::yield();
          }
          std::this_thread::sleep_for(50ms);
        }
        ++left;
      });
    }
  });
  while (entered == 0) {
    std::this_thread::yield();
  }
  closing = true;
  gate.Close();
  EXPECT_EQ(entered, left);  // the call in progress has finished
  const int count = entered;
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(entered, count);  // and none has started since
  done = true;
  streaming.join();
}

}  // namespace
}  // namespace pavrel
