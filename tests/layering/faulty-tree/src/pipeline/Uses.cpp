#include "app/Main.h"
#include "pipeline/View.h"
