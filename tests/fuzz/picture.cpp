// The media type of a downloaded picture from its first bytes: one of three, each only with its
// signature, anything else empty.
#include "FuzzSupport.h"
#include "export/NovelExport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray first = zvrd::fuzz::bytes(data, size);
    const QString type = zvrd::pictureMediaType(first);
    if (type == QLatin1String("image/png"))
        FUZZ_CHECK(first.startsWith("\x89PNG\r\n\x1a\n"), "png only with its signature");
    else if (type == QLatin1String("image/jpeg"))
        FUZZ_CHECK(first.startsWith("\xff\xd8\xff"), "jpeg only with its signature");
    else if (type == QLatin1String("image/gif"))
        FUZZ_CHECK(first.startsWith("GIF87a") || first.startsWith("GIF89a"),
                   "gif only with its signature");
    else
        FUZZ_CHECK(type.isEmpty(), "no other type");
    return 0;
}
