#pragma once

#include "support/XServerFixture.h"

namespace pavrel::test {

// The X server the end-to-end tests run on (set up before the first test).
const TXServerFixture& XServer();

}  // namespace pavrel::test
