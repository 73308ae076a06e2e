#pragma once

// The message by which the settings dialog hands its parameter set to the main window.
// It is sent, never posted (QCoreApplication::sendEvent): the receiver copies the set before
// sendEvent returns, and the sender goes on only then.

#include <QEvent>

#include "tracking/TrackerTypes.h"

namespace pavrel {

inline constexpr QEvent::Type WM_UPDATETRACKERPARAMS = static_cast<QEvent::Type>(0x8001);
static_assert(WM_UPDATETRACKERPARAMS >= QEvent::User && WM_UPDATETRACKERPARAMS <= QEvent::MaxUser);

class TUpdateTrackerParamsEvent : public QEvent {
 public:
  // The set stays the sender's; it is valid only while the event is being handled.
  explicit TUpdateTrackerParamsEvent(const TTrackerParameters* Params)
      : QEvent(WM_UPDATETRACKERPARAMS), FParams(Params) {}
  const TTrackerParameters* Parameters() const { return FParams; }

 private:
  const TTrackerParameters* FParams;
};

}  // namespace pavrel
