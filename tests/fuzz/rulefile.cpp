// A rule file a user imports (or a shipped set) as anyone may write one: it is taken whole or
// not at all, and the library reads its rules afterwards either way.
#include "FuzzSupport.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"

#include <QFile>

namespace {

// The library as the shipped rules left it, put back before every input.
void restoreLibrary() {
    static const QString pristine = [] {
        zvrd::fuzz::shippedRules();
        {
            zvrd::SqliteDatabase db(zvrd::ruleDatabasePath());
            db.stringValue(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        }
        const QString copy = zvrd::ruleDatabasePath() + QStringLiteral(".pristine");
        QFile::copy(zvrd::ruleDatabasePath(), copy);
        return copy;
    }();
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(zvrd::ruleDatabasePath() + QLatin1String(suffix));
    QFile::copy(pristine, zvrd::ruleDatabasePath());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    restoreLibrary();
    const qsizetype before = zvrd::fuzz::shippedRules().size();
    static QTemporaryDir scratch;
    const QString file = scratch.filePath(QStringLiteral("rules.sql"));
    {
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        out.write(reinterpret_cast<const char*>(data + 1), static_cast<qint64>(size - 1));
    }
    bool taken = false;
    try {
        if (data[0] & 1)
            taken = zvrd::installShippedRules(file).installed;
        else
            taken = zvrd::importRuleScript(file, QStringLiteral("http://127.0.0.1:1"));
    } catch (const zvrd::SqliteException&) {
        taken = false;
    }
    qsizetype after = -1;
    try {
        after = zvrd::loadSiteRules().size();
    } catch (const zvrd::SqliteException&) {
        FUZZ_CHECK(false, "the rules still load");
    }
    if (!taken)
        FUZZ_CHECK(after == before, "a file not taken changes no rule");
    return 0;
}
