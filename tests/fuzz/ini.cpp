// config.ini as a user or another program left it: reading any file works; a value written
// under a section and key reads back exactly, and every other value read before reads the
// same after.
#include "FuzzSupport.h"
#include "core/IniFile.h"

#include <QFile>

namespace {

// A name fit for a section or key: one line, no "=", "[" or "]", not blank.
QString name(const QByteArray& bytes) {
    QString text = QString::fromUtf8(bytes).trimmed();
    for (const QChar c : {QLatin1Char('='), QLatin1Char('['), QLatin1Char(']'), QLatin1Char('\r'),
                          QLatin1Char('\n'), QLatin1Char(';')})
        text.remove(c);
    return text.trimmed();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("config.ini"));
    const auto [content, rest] = zvrd::fuzz::cut(zvrd::fuzz::bytes(data, size));
    const auto [names, valueBytes] = zvrd::fuzz::cut(rest);
    const auto [sectionBytes, keyBytes] = zvrd::fuzz::cut(names);
    {
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        out.write(content);
    }
    const QString section = name(sectionBytes);
    const QString key = name(keyBytes);
    QString value = QString::fromUtf8(valueBytes);
    value.remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
    // Another value of the file: the first key of its first section.
    const QString otherSection = QStringLiteral("target_site");
    const QString otherKey = QStringLiteral("selected");
    const QString otherBefore =
        zvrd::readIniValue(file, otherSection, otherKey, QStringLiteral("\x01"));
    if (section.isEmpty() || key.isEmpty())
        return 0;
    FUZZ_CHECK(zvrd::writeIniValue(file, section, key, value), "written");
    FUZZ_CHECK(zvrd::readIniValue(file, section, key) == value, "the value reads back exactly");
    if (section.compare(otherSection, Qt::CaseInsensitive) != 0 ||
        key.compare(otherKey, Qt::CaseInsensitive) != 0)
        FUZZ_CHECK(zvrd::readIniValue(file, otherSection, otherKey, QStringLiteral("\x01")) ==
                       otherBefore,
                   "another value stays as it was");
    return 0;
}
