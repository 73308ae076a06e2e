#pragma once
#include "image/Bitmap.h"
