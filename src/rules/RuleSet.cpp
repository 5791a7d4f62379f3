#include "rules/RuleSet.h"

#include "core/AppFolder.h"
#include "core/IniFile.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"

#include <QFile>

#include <algorithm>
#include <array>

namespace zvrd {
namespace {

constexpr qsizetype kMaxUrlLength = 2047;

// Field pointers in column order, so loading and the column list cannot drift apart.
using RuleField = QString TRuleInfo::*;
const std::array<std::pair<const char*, RuleField>, 21>& RuleColumns() {
    static const std::array<std::pair<const char*, RuleField>, 21> columns = {{
        {"id", &TRuleInfo::strId},
        {"site_name", &TRuleInfo::strSiteName},
        {"site_url", &TRuleInfo::strSiteUrl},
        {"charset", &TRuleInfo::strCharset},
        {"search_page_url_format", &TRuleInfo::strSearchPageUrlFormat},
        {"search_page_result_regional", &TRuleInfo::strSearchPageResultRegional},
        {"search_page_novel_name", &TRuleInfo::strSearchPageNovelName},
        {"search_page_novel_author", &TRuleInfo::strSearchPageNovelAuthor},
        {"search_page_latest_chapter", &TRuleInfo::strSearchPageLatestChapter},
        {"search_page_info_page_url", &TRuleInfo::strSearchPageInfoPageUrl},
        {"info_page_novel_sort", &TRuleInfo::strInfoPageNovelSort},
        {"info_page_novel_name", &TRuleInfo::strInfoPageNovelName},
        {"info_page_novel_author", &TRuleInfo::strInfoPageNovelAuthor},
        {"info_page_novel_state", &TRuleInfo::strInfoPageNovelState},
        {"info_page_novel_intro", &TRuleInfo::strInfoPageNovelIntro},
        {"info_page_latest_chapter", &TRuleInfo::strInfoPageLatestChapter},
        {"info_page_directory_page_url", &TRuleInfo::strInfoPageDirectoryPageUrl},
        {"directory_page_regional", &TRuleInfo::strDirectoryPageRegional},
        {"directory_page_chapter_name_and_url", &TRuleInfo::strDirectoryPageChapterNameAndUrl},
        {"chapter_page_chapter_content", &TRuleInfo::strChapterPageChapterContent},
        {"replace_rule", &TRuleInfo::strReplaceRule},
    }};
    return columns;
}

// ---- address combination -------------------------------------------------------------------

bool HasScheme(const QString& url) {
    if (url.isEmpty() || !url[0].isLetter() || url[0].unicode() > 0x7F)
        return false;
    for (qsizetype i = 1; i < url.size(); ++i) {
        const QChar c = url[i];
        if (c == QLatin1Char(':'))
            return true;
        const bool ok = (c.unicode() < 0x80 && c.isLetterOrNumber()) || c == QLatin1Char('+') ||
                        c == QLatin1Char('-') || c == QLatin1Char('.');
        if (!ok)
            return false;
    }
    return false;
}

// Where the path ends: at the first "?" or "#".
qsizetype PathEnd(const QString& url, qsizetype from) {
    const qsizetype n = url.size();
    for (qsizetype i = from; i < n; ++i) {
        const char16_t u = url[i].unicode();
        if (u == '?' || u == '#')
            return i;
    }
    return n;
}

// RFC 3986 dot-segment removal on a path beginning with "/".
QString RemoveDotSegments(const QString& path) {
    if (!path.contains(QLatin1String("/.")))
        return path; // no "." or ".." segment
    const QStringList segments = path.split(QLatin1Char('/'));
    QStringList out;
    for (qsizetype i = 1; i < segments.size(); ++i) {
        const QString& s = segments[i];
        const bool last = i == segments.size() - 1;
        if (s == QLatin1String(".")) {
            if (last)
                out.append(QString());
        } else if (s == QLatin1String("..")) {
            if (!out.isEmpty())
                out.removeLast();
            if (last)
                out.append(QString());
        } else {
            out.append(s);
        }
    }
    return QLatin1Char('/') + out.join(QLatin1Char('/'));
}

void AppendPercent(QString& out, unsigned char byte) {
    static const char* hex = "0123456789ABCDEF";
    out += QLatin1Char('%');
    out += QLatin1Char(hex[byte >> 4]);
    out += QLatin1Char(hex[byte & 0x0F]);
}

// Percent-escapes the unsafe characters of a path (blanks, controls, quotes, angle brackets and
// the like, and everything beyond ASCII as UTF-8 bytes); "%" is left alone.
bool IsSafe(QChar c) {
    const char16_t u = c.unicode();
    if (u <= 0x20 || u >= 0x7F)
        return false;
    switch (u) {
    case '"':
    case '<':
    case '>':
    case '`':
    case '{':
    case '}':
    case '|':
    case '\\':
    case '^':
        return false;
    default:
        return true;
    }
}

QString EscapePath(const QString& path) {
    if (std::all_of(path.begin(), path.end(), IsSafe))
        return path;
    QString out;
    out.reserve(path.size());
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (IsSafe(path[i])) {
            out += path[i];
            continue;
        }
        const qsizetype len =
            (path[i].isHighSurrogate() && i + 1 < path.size() && path[i + 1].isLowSurrogate()) ? 2
                                                                                               : 1;
        for (const char byte : path.mid(i, len).toUtf8())
            AppendPercent(out, static_cast<unsigned char>(byte));
        i += len - 1;
    }
    return out;
}

// True when text is a plain path piece that canonicalisation leaves as it is: no scheme, no
// "?" or "#", no character to escape and no "." segment. One pass over the text.
bool IsPlainPath(const QString& text) {
    QChar previous = QLatin1Char('/');
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == ':' || u == '?' || u == '#' || !IsSafe(c) ||
            (u == '.' && previous == QLatin1Char('/')))
            return false;
        previous = c;
    }
    return true;
}

// scheme://authority/path?query#fragment made canonical: dot segments gone, unsafe characters
// of the path escaped; query and fragment untouched.
QString Canonical(const QString& url) {
    const qsizetype schemeEnd = url.indexOf(QLatin1Char(':'));
    if (schemeEnd <= 0)
        return QString();
    const QString scheme = url.left(schemeEnd);
    if (url.mid(schemeEnd + 1, 2) != QLatin1String("//"))
        return url; // mailto:, javascript: and the like come back as they are
    const qsizetype authorityStart = schemeEnd + 3;
    const qsizetype pathEnd = PathEnd(url, authorityStart);
    qsizetype pathStart = url.indexOf(QLatin1Char('/'), authorityStart);
    if (pathStart < 0 || pathStart > pathEnd)
        pathStart = pathEnd;
    const QString authority = url.mid(authorityStart, pathStart - authorityStart);
    if (authority.isEmpty())
        return QString();
    QString path = url.mid(pathStart, pathEnd - pathStart);
    if (path.isEmpty())
        path = QStringLiteral("/");
    return scheme + QStringLiteral("://") + authority + EscapePath(RemoveDotSegments(path)) +
           url.mid(pathEnd);
}

} // namespace

const QStringList& RuleColumnNames() {
    static const QStringList names = [] {
        QStringList list;
        for (const auto& [name, field] : RuleColumns())
            list.append(QLatin1String(name));
        return list;
    }();
    return names;
}

TRuleInfoList LoadRuleInfoList() {
    TSQLiteDatabase db(RuleDatabasePath());
    auto table = db.GetTable(QStringLiteral("select * from site_rule"));
    TRuleInfoList rules;
    if (table->Eof())
        return rules;
    std::array<uint32_t, 21> index{};
    for (size_t i = 0; i < RuleColumns().size(); ++i)
        index[i] =
            static_cast<uint32_t>(table->GetFieldIndex(QLatin1String(RuleColumns()[i].first)));
    rules.reserve(table->Count());
    while (!table->Eof()) {
        TRuleInfo rule;
        for (size_t i = 0; i < RuleColumns().size(); ++i)
            rule.*(RuleColumns()[i].second) = table->FieldAsString(index[i]);
        rules.append(rule);
        table->Next();
    }
    return rules;
}

bool ImportRuleScript(const QString& fileName, const QString& base) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QString sql = QString::fromUtf8(file.readAll());
    sql.replace(QStringLiteral("@BASE@"), base);
    {
        TSQLiteDatabase db(RuleDatabasePath());
        db.BeginTransaction();
        db.ExecScript(sql);
        db.Commit();
    }
    CreateMissingTables();
    return true;
}

TRuleInfo FindRuleBySiteName(const TRuleInfoList& rules, const QString& name) {
    for (const TRuleInfo& rule : rules) {
        if (rule.strSiteName == name)
            return rule;
    }
    return TRuleInfo();
}

QString ConfigIniPath() {
    return AppFolder() + QStringLiteral("config.ini");
}

QString ReadSelectionSetting() {
    return ReadIniValue(ConfigIniPath(), QStringLiteral("target_site"), QStringLiteral("selected"));
}

TRuleInfoList SelectRules(const TRuleInfoList& rules, const QString& selection) {
    const QStringList pieces = selection.split(QLatin1Char(','));
    TRuleInfoList selected;
    for (const TRuleInfo& rule : rules) {
        for (const QString& piece : pieces) {
            if (!piece.isEmpty() && piece == rule.strId) {
                selected.append(rule);
                break;
            }
        }
    }
    return selected;
}

TUrlCombiner::TUrlCombiner(const QString& base) : fBase(base) {
    fValid = HasScheme(base) && base.indexOf(QStringLiteral("://")) >= 0;
    if (!fValid)
        return;
    const qsizetype schemeEnd = base.indexOf(QLatin1Char(':'));
    const qsizetype authorityStart = schemeEnd + 3;
    const qsizetype pathEnd = PathEnd(base, authorityStart);
    qsizetype pathStart = base.indexOf(QLatin1Char('/'), authorityStart);
    if (pathStart < 0 || pathStart > pathEnd)
        pathStart = pathEnd;
    fScheme = base.left(schemeEnd + 1);
    fOrigin = base.left(pathStart);
    fBeforeQuery = base.left(pathEnd);
    const qsizetype hash = base.indexOf(QLatin1Char('#'));
    fBeforeFragment = hash < 0 ? base : base.left(hash);
    const QString path = base.mid(pathStart, pathEnd - pathStart);
    fFolder = path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (fFolder.isEmpty())
        fFolder = QStringLiteral("/");
    fCanonicalBase = Canonical(base);
    fFolderIsPlain = IsPlainPath(fFolder);
}

// Dot segments removed from and unsafe characters escaped in the part before "?" or "#".
QString TUrlCombiner::CanonicalTail(const QString& pathAndRest) {
    const qsizetype end = PathEnd(pathAndRest, 0);
    if (end == pathAndRest.size())
        return EscapePath(RemoveDotSegments(pathAndRest));
    return EscapePath(RemoveDotSegments(pathAndRest.left(end))) + pathAndRest.mid(end);
}

QString TUrlCombiner::Combine(const QString& relative) const {
    QString result;
    // The common case on a chapter list: a plain relative or root-relative address.
    if (fValid && fFolderIsPlain && !relative.isEmpty() && IsPlainPath(relative) &&
        !relative.startsWith(QStringLiteral("//"))) {
        const bool rooted = relative.startsWith(QLatin1Char('/'));
        const qsizetype size = fOrigin.size() + (rooted ? 0 : fFolder.size()) + relative.size();
        if (size > kMaxUrlLength)
            return QString();
        result.reserve(size); // one allocation per address: a list has thousands
        result.append(fOrigin);
        if (!rooted)
            result.append(fFolder);
        result.append(relative);
        return result;
    }
    if (HasScheme(relative))
        result = Canonical(relative);
    else if (!fValid)
        return QString();
    else if (relative.isEmpty())
        result = fCanonicalBase;
    else if (relative.startsWith(QStringLiteral("//")))
        result = Canonical(fScheme + relative);
    else if (relative.startsWith(QLatin1Char('/')))
        result = fOrigin + CanonicalTail(relative);
    else if (relative.startsWith(QLatin1Char('?')))
        result = Canonical(fBeforeQuery + relative);
    else if (relative.startsWith(QLatin1Char('#')))
        result = Canonical(fBeforeFragment + relative);
    else
        result = fOrigin + CanonicalTail(fFolder + relative);
    return result.size() > kMaxUrlLength ? QString() : result;
}

QString CombineUrl(const QString& base, const QString& relative) {
    return TUrlCombiner(base).Combine(relative);
}

QString GetFileExt(const QString& text) {
    const qsizetype dot = text.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? text : text.mid(dot + 1);
}

} // namespace zvrd
