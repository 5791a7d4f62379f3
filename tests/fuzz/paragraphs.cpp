// A stored chapter's HTML made paragraphs for a book: each paragraph is one trimmed line that
// XML can hold, and written escaped, as the book writers write it, it reads back as itself.
#include "FuzzSupport.h"
#include "export/NovelExport.h"

namespace {

bool xmlCanHold(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if ((c < 0x20 && c != 0x09) || c == 0xFFFE || c == 0xFFFF)
            return false;
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 >= text.size() || !text[i + 1].isLowSurrogate())
                return false;
            ++i;
        } else if (QChar::isLowSurrogate(c)) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString html = QString::fromUtf8(zvrd::fuzz::bytes(data, size));
    for (const QString& paragraph : zvrd::chapterParagraphs(html)) {
        FUZZ_CHECK(!paragraph.isEmpty() && paragraph == paragraph.trimmed(), "trimmed, not empty");
        FUZZ_CHECK(xmlCanHold(paragraph), "only characters XML can hold");
        const QString written = paragraph.toHtmlEscaped();
        FUZZ_CHECK(!written.contains(QLatin1Char('<')), "no unescaped <");
        FUZZ_CHECK(zvrd::chapterParagraphs(written) == QStringList{paragraph},
                   "an escaped paragraph reads back as itself");
    }
    return 0;
}
