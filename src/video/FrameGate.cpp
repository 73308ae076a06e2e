#include "video/FrameGate.h"

#include <exception>

namespace pavrel {

void TFrameGate::SetOnError(std::function<void(const std::string& Message)> Handler) {
  std::scoped_lock lock(FLock);
  FOnError = std::move(Handler);
}

void TFrameGate::Open() {
  std::scoped_lock lock(FLock);
  FOpen = true;
}

void TFrameGate::Close() {
  std::scoped_lock lock(FLock);
  FOpen = false;
}

bool TFrameGate::IsOpen() const {
  std::scoped_lock lock(FLock);
  return FOpen;
}

bool TFrameGate::Run(const std::function<void()>& Call) {
  std::scoped_lock lock(FLock);
  if (!FOpen) {
    return false;
  }
  std::string failure;
  try {
    Call();
    return true;
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = "Unknown error in the frame handler";
  }
  if (FOnError) {
    try {
      FOnError(failure);
    } catch (...) {
      // Nothing may reach the streaming thread.
    }
  }
  return true;
}

}  // namespace pavrel
