#include "tracking/Track.h"

#include <gst/gst.h>
#include <QString>
#include <queue>
