// Test support: the HTTP library is initialised once per test program, before any test thread.
#include "net/HttpLibrary.h"

#include <gtest/gtest.h>

namespace {

class HttpEnvironment : public ::testing::Environment {
public:
    void SetUp() override { zvrd::http_global_init(); }
    void TearDown() override { zvrd::http_global_cleanup(); }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new HttpEnvironment);

} // namespace
