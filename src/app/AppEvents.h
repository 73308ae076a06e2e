#pragma once

#include <QEvent>

namespace pavrel {

// The stop window's private message to the main window. Sent synchronously
// (QCoreApplication::sendEvent), so tracking has stopped when the send returns.
inline constexpr QEvent::Type WM_STOPTRACKER = static_cast<QEvent::Type>(0x8002);

}  // namespace pavrel
