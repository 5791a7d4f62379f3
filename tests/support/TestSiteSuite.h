// Test support: one local test web server per test suite, started before its first test.
#pragma once

#include "TestSite.h"

#include <gtest/gtest.h>

#include <memory>

namespace zvrd::test {

class TestSiteSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() { site = std::make_unique<testsite::TestSite>(); }
    static void TearDownTestSuite() { site.reset(); }

    static inline std::unique_ptr<testsite::TestSite> site;
};

} // namespace zvrd::test
