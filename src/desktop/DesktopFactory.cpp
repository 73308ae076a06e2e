#include "desktop/DesktopFactory.h"

#include <cstdlib>
#include <iostream>
#include <map>
#include <ostream>
#include <stdexcept>

#include "desktop/PortalDesktop.h"
#include "desktop/UinputDesktop.h"
#include "desktop/WlrootsDesktop.h"
#include "desktop/X11Desktop.h"
#include "settings/Settings.h"

namespace pavrel {

namespace {

constexpr const char* StoreValueName = "Desktop";
constexpr const char* PortalTokenName = "PortalRestoreToken";

std::string Variable(const char* Name) {
  const char* value = std::getenv(Name);
  return value != nullptr ? value : "";
}

}  // namespace

TSessionFacts SessionFactsFromEnvironment() {
  return {Variable("XDG_SESSION_TYPE"), Variable("WAYLAND_DISPLAY"), Variable("DISPLAY"),
          Variable("XDG_CURRENT_DESKTOP")};
}

std::unique_ptr<TDesktop> CreateX11Desktop() {
  return std::make_unique<TX11Desktop>();
}

std::unique_ptr<TDesktop> CreateDesktopBackend(TDesktopKind Kind, const TSessionFacts& Facts,
                                               std::string* Limits, TDesktopTrouble Trouble) {
  if (Limits != nullptr) {
    Limits->clear();
  }
  switch (Kind) {
    case TDesktopKind::X11:
      return CreateX11Desktop();
    case TDesktopKind::Portal: {
      TPortalOptions options;
      options.RestoreToken = StoredPortalToken();
      options.TokenChanged = [](const std::string& Token) { StorePortalToken(Token); };
      options.Failed = [Trouble = std::move(Trouble)](const std::string& Why) {
        const std::string status =
            "Desktop: none, pointer actions unavailable: RemoteDesktop portal: " + Why;
        if (Trouble) {
          Trouble(status);
        } else {
          std::cerr << status << '\n';
        }
      };
      auto desktop = std::make_unique<TPortalDesktop>(DesktopFamily(Facts), std::move(options));
      if (Limits != nullptr) {
        *Limits = ShortcutLimits(DesktopFamily(Facts));
      }
      return desktop;
    }
    case TDesktopKind::Wlroots: {
      auto desktop = std::make_unique<TWlrootsDesktop>();
      if (Limits != nullptr && !desktop->HasWindowList()) {
        *Limits = "no window actions (no foreign-toplevel list)";
      }
      return desktop;
    }
    case TDesktopKind::Uinput: {
      auto desktop = std::make_unique<TUinputDesktop>(DesktopFamily(Facts));
      if (Limits != nullptr) {
        *Limits = ShortcutLimits(DesktopFamily(Facts));
      }
      return desktop;
    }
    case TDesktopKind::Auto:
      break;
  }
  throw std::runtime_error("auto is no backend");
}

TOpenedDesktop OpenDesktop(TDesktopKind Requested, const TSessionFacts& Facts,
                           TDesktopTrouble Trouble) {
  TOpenedDesktop opened;
  const TDesktopDecision decision =
      DecideDesktop(Requested, Facts, [&](TDesktopKind Kind) -> TDesktopProbe {
        try {
          TDesktopProbe probe;
          opened.Desktop = CreateDesktopBackend(Kind, Facts, &probe.Limits, Trouble);
          probe.Available = true;
          return probe;
        } catch (const std::exception& e) {
          return {false, e.what(), {}};
        }
      });
  opened.Kind = decision.Kind;
  opened.Status = decision.Status;
  if (!opened.Desktop) {
    const std::string prefix = "Desktop: none, pointer actions unavailable: ";
    opened.Error = decision.Status.substr(decision.Status.rfind(prefix, 0) == 0 ? prefix.size()
                                                                                : std::size_t{0});
  }
  return opened;
}

void ListDesktops(std::ostream& Out, const TSessionFacts& Facts) {
  std::map<TDesktopKind, TDesktopProbe> probes;
  for (const TDesktopKind kind : AllDesktopBackends) {
    TDesktopProbe& probe = probes[kind];
    std::string caption(DesktopKindCaption(kind));
    try {
      if (kind == TDesktopKind::Portal) {
        // Only asked, not started: starting would show the portal's consent dialog.
        caption += " version " + std::to_string(TPortalDesktop::Probe({}));
        probe.Limits = ShortcutLimits(DesktopFamily(Facts));
      } else {
        CreateDesktopBackend(kind, Facts, &probe.Limits);
      }
      probe.Available = true;
      Out << DesktopKindName(kind) << ": available (" << caption
          << (probe.Limits.empty() ? "" : ", ") << probe.Limits << ")\n";
    } catch (const std::exception& e) {
      probe.Why = e.what();
      Out << DesktopKindName(kind) << ": unavailable: " << probe.Why << '\n';
    }
  }
  Out << "auto: "
      << DecideDesktop(TDesktopKind::Auto, Facts, [&](TDesktopKind Kind) { return probes[Kind]; })
             .Status
      << '\n';
}

TDesktopKind StoredDesktopChoice() {
  const TStoreValues values = ReadUserStoreValues();
  const auto found = values.find(StoreValueName);
  if (found == values.end()) {
    return TDesktopKind::Auto;
  }
  return ParseDesktopKind(found->second).value_or(TDesktopKind::Auto);
}

std::string StoredPortalToken() {
  const TStoreValues values = ReadUserStoreValues();
  const auto found = values.find(PortalTokenName);
  return found != values.end() ? found->second : std::string();
}

bool StorePortalToken(const std::string& Token) {
  return WriteUserStoreValues({{PortalTokenName, Token}});
}

bool StoreDesktopChoice(TDesktopKind Kind) {
  return WriteUserStoreValues({{StoreValueName, std::string(DesktopKindName(Kind))}});
}

}  // namespace pavrel
