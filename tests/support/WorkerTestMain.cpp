// Test support: GoogleTest main with a QCoreApplication, whose event loop deletes finished
// detached workers, and the HTTP library initialised first.
#include "net/HttpLibrary.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    zvrd::http_global_init();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    zvrd::http_global_cleanup();
    return result;
}
