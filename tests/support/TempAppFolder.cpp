#include "support/TempAppFolder.h"

#include "core/AppFolder.h"

#include <gtest/gtest.h>

namespace zvrd::test {

TempAppFolder::TempAppFolder() {
    EXPECT_TRUE(fDir.isValid());
    SetAppFolder(fDir.path());
}

TempAppFolder::~TempAppFolder() {
    SetAppFolder(QString());
}

QString TempAppFolder::Path() const {
    return fDir.path() + QStringLiteral("/");
}

} // namespace zvrd::test
