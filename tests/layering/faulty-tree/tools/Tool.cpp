#include "image/Bitmap.h"
#include "mouse/Mouse.h"
