#include "core/IniFile.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>

namespace zvrd {
namespace {

QStringList readLines(const QString& fileName, bool* crlf = nullptr) {
    QFile file(fileName);
    if (crlf)
        *crlf = true; // a new file gets the line ends Windows tools expect
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    if (crlf && text.contains(QLatin1Char('\n')))
        *crlf = text.contains(QStringLiteral("\r\n"));
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The section name of a "[name]" line, or a null string for any other line.
QString sectionOf(const QString& line) {
    const QString t = line.trimmed();
    if (t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']')))
        return t.mid(1, t.size() - 2).trimmed();
    return QString();
}

bool isKeyLine(const QString& line, const QString& key, QString* value) {
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0 || line.trimmed().startsWith(QLatin1Char(';')))
        return false;
    if (line.left(eq).trimmed().compare(key, Qt::CaseInsensitive) != 0)
        return false;
    if (value)
        *value = line.mid(eq + 1);
    return true;
}

} // namespace

QString readIniValue(const QString& fileName, const QString& section, const QString& key,
                     const QString& defaultValue) {
    bool inSection = false;
    for (const QString& line : readLines(fileName)) {
        const QString name = sectionOf(line);
        if (!name.isNull()) {
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        QString value;
        if (inSection && isKeyLine(line, key, &value))
            return value;
    }
    return defaultValue;
}

bool writeIniValue(const QString& fileName, const QString& section, const QString& key,
                   const QString& value) {
    bool crlf = true;
    QStringList lines = readLines(fileName, &crlf);
    const QString entry = key + QLatin1Char('=') + value;
    qsizetype sectionLine = -1;
    qsizetype lastInSection = -1;
    bool written = false;
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size() && !written; ++i) {
        const QString name = sectionOf(lines[i]);
        if (!name.isNull()) {
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            if (inSection && sectionLine < 0)
                sectionLine = lastInSection = i;
            continue;
        }
        if (!inSection)
            continue;
        if (isKeyLine(lines[i], key, nullptr)) {
            lines[i] = entry;
            written = true;
        } else if (!lines[i].trimmed().isEmpty()) {
            lastInSection = i;
        }
    }
    if (!written) {
        if (sectionLine < 0) {
            if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
                lines.append(QString());
            lines.append(QLatin1Char('[') + section + QLatin1Char(']'));
            lines.append(entry);
        } else {
            lines.insert(lastInSection + 1, entry);
        }
    }
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // The file keeps its own line ends.
    const QString end = crlf ? QStringLiteral("\r\n") : QStringLiteral("\n");
    file.write((lines.join(end) + end).toUtf8());
    return file.commit();
}

} // namespace zvrd
