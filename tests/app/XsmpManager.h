#pragma once

// A minimal X session manager (XSMP over ICE, through libSM): it registers clients and, when
// told, asks them to save themselves and to die, as a desktop's session manager does at
// logout. All ICE work runs on a thread of its own, since a client that connects blocks until
// its registration is answered.

#include <atomic>
#include <memory>
#include <string>

namespace pavrel::test {

class TXsmpManager {
 public:
  // Listens for clients; std::runtime_error when it cannot.
  TXsmpManager();
  ~TXsmpManager();
  TXsmpManager(const TXsmpManager&) = delete;
  TXsmpManager& operator=(const TXsmpManager&) = delete;

  // The value of SESSION_MANAGER for a client.
  std::string Address() const;

  // Clients registered so far, and the number that answered a save with SaveYourselfDone.
  int Registered() const;
  int SavesDone() const;
  // Asks every client to save its data and state for the end of the session, as at logout
  // (both kinds of save, shutdown, no interaction).
  void SaveYourselfForShutdown();
  // Tells every client to die.
  void Die();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace pavrel::test
