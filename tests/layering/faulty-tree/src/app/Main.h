#pragma once
#include <QDialog>
#include "pipeline/View.h"
