#pragma once

// A GoogleTest base for suites that share one private X server: it starts with the suite and
// stops after it. Derived fixtures that override SetUp call XServerTest::SetUp() first.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/XServerFixture.h"

namespace pavrel {

class XServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartServer({}); }
  // For a derived suite's own SetUpTestSuite that needs another screen or no window manager.
  static void StartServer(const TXServerFixture::TOptions& Options) {
    try {
      Server = std::make_unique<TXServerFixture>(Options);
    } catch (const std::exception& e) {
      ServerError = e.what();
    }
  }
  static void TearDownTestSuite() { Server.reset(); }

  void SetUp() override { ASSERT_NE(Server, nullptr) << ServerError; }

  static inline std::unique_ptr<TXServerFixture> Server;
  static inline std::string ServerError;
};

}  // namespace pavrel
