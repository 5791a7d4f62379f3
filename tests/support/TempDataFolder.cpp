#include "support/TempDataFolder.h"

#include "core/DataFolder.h"
#include "net/SiteLimiter.h"

#include <gtest/gtest.h>

namespace zvrd::test {

TempDataFolder::TempDataFolder() {
    EXPECT_TRUE(m_dir.isValid());
    // Each test meets the sites afresh: a pushback one test provoked does not slow the next.
    SiteLimiter::resetAll();
    setDataFolder(m_dir.path());
}

TempDataFolder::~TempDataFolder() {
    setDataFolder(QString());
}

QString TempDataFolder::path() const {
    return m_dir.path() + QStringLiteral("/");
}

} // namespace zvrd::test
