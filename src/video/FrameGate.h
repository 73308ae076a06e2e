#pragma once

// The guarantee the grabber gives its frame handler, without GStreamer: calls run one at a
// time under the gate's lock, nothing they throw escapes, and once Close() has returned no
// call runs or is in progress until the gate is opened again.

#include <functional>
#include <mutex>
#include <string>

namespace pavrel {

class TFrameGate {
 public:
  // Receives the message of anything a call throws; itself must not throw (it is caught).
  void SetOnError(std::function<void(const std::string& Message)> Handler);

  void Open();
  // Waits for a call in progress, then refuses further calls.
  void Close();
  bool IsOpen() const;

  // Runs Call under the lock when the gate is open; returns whether it ran. Exceptions from
  // Call go to the error handler.
  bool Run(const std::function<void()>& Call);

  // The gate's lock, for changing what the calls use while none runs.
  std::recursive_mutex& Lock() const { return FLock; }

 private:
  mutable std::recursive_mutex FLock;
  bool FOpen = false;
  std::function<void(const std::string&)> FOnError;
};

}  // namespace pavrel
