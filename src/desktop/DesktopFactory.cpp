#include "desktop/DesktopFactory.h"

#include <cstdlib>
#include <ostream>
#include <stdexcept>

#include "desktop/UinputDesktop.h"
#include "desktop/WlrootsDesktop.h"
#include "desktop/X11Desktop.h"
#include "settings/Settings.h"

namespace pavrel {

namespace {

constexpr const char* StoreValueName = "Desktop";

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
                                               std::string* Limits) {
  if (Limits != nullptr) {
    Limits->clear();
  }
  switch (Kind) {
    case TDesktopKind::X11:
      return CreateX11Desktop();
    case TDesktopKind::Portal:
      throw std::runtime_error("not built into this version of Pavrel");
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

TOpenedDesktop OpenDesktop(TDesktopKind Requested, const TSessionFacts& Facts) {
  TOpenedDesktop opened;
  const TDesktopDecision decision =
      DecideDesktop(Requested, Facts, [&](TDesktopKind Kind) -> TDesktopProbe {
        try {
          TDesktopProbe probe;
          opened.Desktop = CreateDesktopBackend(Kind, Facts, &probe.Limits);
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
  for (const TDesktopKind kind : AllDesktopBackends) {
    Out << DesktopKindName(kind) << ": ";
    try {
      std::string limits;
      CreateDesktopBackend(kind, Facts, &limits);
      Out << "available (" << DesktopKindCaption(kind) << (limits.empty() ? "" : ", ") << limits
          << ")\n";
    } catch (const std::exception& e) {
      Out << "unavailable: " << e.what() << '\n';
    }
  }
  Out << "auto: " << OpenDesktop(TDesktopKind::Auto, Facts).Status << '\n';
}

TDesktopKind StoredDesktopChoice() {
  const TStoreValues values = ReadUserStoreValues();
  const auto found = values.find(StoreValueName);
  if (found == values.end()) {
    return TDesktopKind::Auto;
  }
  return ParseDesktopKind(found->second).value_or(TDesktopKind::Auto);
}

bool StoreDesktopChoice(TDesktopKind Kind) {
  return WriteUserStoreValues({{StoreValueName, std::string(DesktopKindName(Kind))}});
}

}  // namespace pavrel
