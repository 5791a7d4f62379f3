// GBK decoding of a page: any bytes decode; what they decode to (without replacement
// characters) encodes to bytes that decode to it again, and valid GBK comes back byte for byte.
#include "FuzzSupport.h"
#include "net/WebFetch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input = zvrd::fuzz::bytes(data, size);
    const QString text = zvrd::decodeGbk(input);
    if (text.contains(QChar(0xFFFD)) || text.contains(QLatin1Char('?')))
        return 0; // a replaced byte cannot come back
    const QByteArray encoded = zvrd::encodeGbk(text);
    FUZZ_CHECK(zvrd::decodeGbk(encoded) == text, "decoded text round-trips");
    FUZZ_CHECK(encoded == input, "valid GBK comes back byte for byte");
    return 0;
}
