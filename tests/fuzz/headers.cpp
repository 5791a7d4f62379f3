// A response header as the site sends it: the status is -1 or a three-digit number, and the
// Location value is one line.
#include "FuzzSupport.h"
#include "net/WebFetch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString header = QString::fromLatin1(zvrd::fuzz::bytes(data, size));
    const int32_t status = zvrd::statusCode(header);
    FUZZ_CHECK(status == -1 || (status >= 0 && status <= 999), "status -1 or three digits");
    const QString location = zvrd::locationOf(header);
    FUZZ_CHECK(!location.contains(QLatin1Char('\r')) && !location.contains(QLatin1Char('\n')),
               "Location is one line");
    FUZZ_CHECK(location.isEmpty() || header.contains(location), "Location comes from the header");
    return 0;
}
