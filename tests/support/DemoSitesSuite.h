// Test support: the local test web server with the demo sites' rules imported into each test's
// data folder, the page templates written and the chapter retries shortened.
#pragma once

#include "pages/PageRenderer.h"
#include "rules/RuleSet.h"
#include "support/TestSiteSuite.h"
#include "workers/ChapterWorker.h"

namespace zvrd::test {

class DemoSitesSuite : public TestSiteSuite {
protected:
    static void SetUpTestSuite() {
        TestSiteSuite::SetUpTestSuite();
        extractTemplates();
        ChapterWorker::setRetryPauses(20, 40);
    }
    // Derived fixtures that override SetUp call this first.
    void SetUp() override {
        ASSERT_TRUE(importRuleScript(QStringLiteral(ZVRD_SOURCE_DIR "/data/demo_sites.sql"),
                                     site->baseUrl()));
    }
};

} // namespace zvrd::test
