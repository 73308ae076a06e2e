#pragma once
#include <vector>

#include "tracking/Track.h"
