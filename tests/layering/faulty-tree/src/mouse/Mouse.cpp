#include "image/Bitmap.h"
#include "tracking/Track.h"
