#include "XsmpManager.h"

#include <X11/SM/SMlib.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace pavrel::test {

namespace {

// Without these, libICE calls exit() when a client goes away.
void IgnoreIoError(IceConn) {}
void IgnoreIceError(IceConn, Bool, int, unsigned long, int, int, IcePointer) {}
void IgnoreSmsError(SmsConn, Bool, int, unsigned long, int, int, SmPointer) {}
Bool AnyHost(char*) {
  return True;  // a private listener for the test's own children
}

enum class TCommand : char { Save = 's', Die = 'd', Quit = 'q' };

}  // namespace

struct TXsmpManager::TImpl {
  int ListenCount = 0;
  IceListenObj* Listeners = nullptr;
  std::string Address;
  std::array<int, 2> Wake{-1, -1};
  std::mutex Lock;               // guards the lists below and the libraries' state
  std::vector<IceConn> Ice;      // open ICE connections
  std::vector<SmsConn> Clients;  // registered clients
  std::atomic<int> Registered{0};
  std::atomic<int> SavesDone{0};
  std::thread Thread;

  static Status NewClient(SmsConn, SmPointer Data, unsigned long* Mask, SmsCallbacks* Cb, char**) {
    auto* self = static_cast<TImpl*>(Data);
    *Mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask |
            SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask |
            SmsSaveYourselfDoneProcMask | SmsCloseConnectionProcMask | SmsSetPropertiesProcMask |
            SmsDeletePropertiesProcMask | SmsGetPropertiesProcMask;
    Cb->register_client.callback = [](SmsConn C, SmPointer D, char* Previous) -> Status {
      std::free(Previous);
      char* id = SmsGenerateClientID(C);
      const Status ok = SmsRegisterClientReply(C, id);
      std::free(id);
      auto* me = static_cast<TImpl*>(D);
      me->Clients.push_back(C);
      ++me->Registered;
      return ok;
    };
    Cb->register_client.manager_data = self;
    Cb->interact_request.callback = [](SmsConn C, SmPointer, int) { SmsInteract(C); };
    Cb->interact_done.callback = [](SmsConn, SmPointer, Bool) {};
    Cb->save_yourself_request.callback = [](SmsConn, SmPointer, int, Bool, int, Bool, Bool) {};
    Cb->save_yourself_phase2_request.callback = [](SmsConn C, SmPointer) {
      SmsSaveYourselfPhase2(C);
    };
    Cb->save_yourself_done.callback = [](SmsConn, SmPointer D, Bool) {
      ++static_cast<TImpl*>(D)->SavesDone;
    };
    Cb->save_yourself_done.manager_data = self;
    Cb->close_connection.callback = [](SmsConn C, SmPointer D, int Count, char** Reasons) {
      SmFreeReasons(Count, Reasons);
      auto* me = static_cast<TImpl*>(D);
      std::erase(me->Clients, C);
      SmsCleanUp(C);
    };
    Cb->close_connection.manager_data = self;
    Cb->set_properties.callback = [](SmsConn, SmPointer, int Count, SmProp** Props) {
      for (int i = 0; i < Count; ++i) {
        SmFreeProperty(Props[i]);
      }
      std::free(Props);
    };
    Cb->delete_properties.callback = [](SmsConn, SmPointer, int Count, char** Names) {
      for (int i = 0; i < Count; ++i) {
        std::free(Names[i]);
      }
      std::free(Names);
    };
    Cb->get_properties.callback = [](SmsConn C, SmPointer) { SmsReturnProperties(C, 0, nullptr); };
    return 1;
  }

  void Post(TCommand Command) {
    const char c = static_cast<char>(Command);
    if (::write(Wake[1], &c, 1) != 1) {
      throw std::runtime_error("cannot wake the session manager's thread");
    }
  }

  // Accepts clients, reads their messages and carries out commands until told to quit.
  void Run() {
    for (;;) {
      std::vector<pollfd> fds{{Wake[0], POLLIN, 0}};
      std::vector<IceConn> conns;
      {
        std::scoped_lock lock(Lock);
        for (int i = 0; i < ListenCount; ++i) {
          fds.push_back({IceGetListenConnectionNumber(Listeners[i]), POLLIN, 0});
        }
        conns = Ice;
        for (IceConn c : conns) {
          fds.push_back({IceConnectionNumber(c), POLLIN, 0});
        }
      }
      if (::poll(fds.data(), fds.size(), 1000) < 0) {
        continue;
      }
      std::scoped_lock lock(Lock);
      if ((fds[0].revents & POLLIN) != 0) {
        char c = 0;
        if (::read(Wake[0], &c, 1) == 1) {
          if (c == static_cast<char>(TCommand::Quit)) {
            return;
          }
          for (SmsConn client : Clients) {
            if (c == static_cast<char>(TCommand::Save)) {
              SmsSaveYourself(client, SmSaveBoth, True, SmInteractStyleNone, False);
            } else {
              SmsDie(client);
            }
          }
        }
      }
      for (int i = 0; i < ListenCount; ++i) {
        if ((fds[1 + i].revents & POLLIN) != 0) {
          IceAcceptStatus status;
          if (IceConn conn = IceAcceptConnection(Listeners[i], &status)) {
            Ice.push_back(conn);
          }
        }
      }
      for (std::size_t i = 0; i < conns.size(); ++i) {
        if ((fds[1 + ListenCount + i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
          continue;
        }
        if (IceConnectionStatus(conns[i]) == IceConnectPending) {
          IceProcessMessages(conns[i], nullptr, nullptr);
          continue;
        }
        if (IceProcessMessages(conns[i], nullptr, nullptr) == IceProcessMessagesIOError) {
          std::erase(Ice, conns[i]);
          IceSetShutdownNegotiation(conns[i], False);
          IceCloseConnection(conns[i]);
        }
      }
    }
  }
};

TXsmpManager::TXsmpManager() : FImpl(std::make_unique<TImpl>()) {
  IceSetIOErrorHandler(&IgnoreIoError);
  IceSetErrorHandler(&IgnoreIceError);
  SmsSetErrorHandler(&IgnoreSmsError);
  std::array<char, 256> error{};
  if (!SmsInitialize("pavrel-test", "1.0", &TImpl::NewClient, FImpl.get(), &AnyHost,
                     static_cast<int>(error.size()), error.data())) {
    throw std::runtime_error(std::string("SmsInitialize: ") + error.data());
  }
  if (!IceListenForConnections(&FImpl->ListenCount, &FImpl->Listeners,
                               static_cast<int>(error.size()), error.data())) {
    throw std::runtime_error(std::string("IceListenForConnections: ") + error.data());
  }
  for (int i = 0; i < FImpl->ListenCount; ++i) {
    IceSetHostBasedAuthProc(FImpl->Listeners[i], &AnyHost);
  }
  char* ids = IceComposeNetworkIdList(FImpl->ListenCount, FImpl->Listeners);
  FImpl->Address = ids;
  std::free(ids);
  if (::pipe(FImpl->Wake.data()) != 0) {
    throw std::runtime_error("pipe failed");
  }
  FImpl->Thread = std::thread([this] { FImpl->Run(); });
}

TXsmpManager::~TXsmpManager() {
  FImpl->Post(TCommand::Quit);
  FImpl->Thread.join();
  for (IceConn conn : FImpl->Ice) {
    IceSetShutdownNegotiation(conn, False);
    IceCloseConnection(conn);
  }
  IceFreeListenObjs(FImpl->ListenCount, FImpl->Listeners);
  ::close(FImpl->Wake[0]);
  ::close(FImpl->Wake[1]);
}

std::string TXsmpManager::Address() const {
  return FImpl->Address;
}
int TXsmpManager::Registered() const {
  return FImpl->Registered.load();
}
int TXsmpManager::SavesDone() const {
  return FImpl->SavesDone.load();
}
void TXsmpManager::SaveYourselfForShutdown() {
  FImpl->Post(TCommand::Save);
}
void TXsmpManager::Die() {
  FImpl->Post(TCommand::Die);
}

}  // namespace pavrel::test
