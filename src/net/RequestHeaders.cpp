#include "net/RequestHeaders.h"

#include "net/SiteLimiter.h"

#include <QStringList>
#include <QUrl>

#include <mutex>
#include <shared_mutex>

namespace zvrd {
namespace {

struct Registry {
    std::shared_mutex lock;
    QHash<QString, SiteHeaders> sites;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

bool isTokenChar(QChar c) {
    if (c.unicode() > 0x7E || c.unicode() <= 0x20)
        return false;
    return c.isLetterOrNumber() || QStringLiteral("!#$%&'*+-.^_`|~").contains(c);
}

QByteArray line(const char* name, const QString& value) {
    return QByteArray(name) + ": " + value.toUtf8();
}

QString siteHome(const QString& url) {
    QUrl home(url);
    home.setPath(QStringLiteral("/"));
    home.setQuery(QString());
    home.setFragment(QString());
    home.setUserInfo(QString());
    return home.toString(QUrl::FullyEncoded);
}

} // namespace

QString headerSiteOf(const QString& url) {
    return SiteLimiter::siteOf(url);
}

void setSiteHeaders(const QHash<QString, SiteHeaders>& sites) {
    Registry& r = registry();
    std::unique_lock locker(r.lock);
    r.sites = sites;
}

QList<QByteArray> requestHeaderLines(const QString& url, const QString& linkedFrom) {
    SiteHeaders site;
    {
        Registry& r = registry();
        std::shared_lock locker(r.lock);
        const QString server = headerSiteOf(url);
        auto it = r.sites.constFind(server);
        if (it == r.sites.constEnd()) {
            const QString host = server.section(QLatin1Char(':'), 0, -2);
            if (server.endsWith(QLatin1String(":80")))
                it = r.sites.constFind(host + QLatin1String(":443"));
            else if (server.endsWith(QLatin1String(":443")))
                it = r.sites.constFind(host + QLatin1String(":80"));
        }
        if (it == r.sites.constEnd())
            return {};
        site = *it;
    }
    QList<QByteArray> lines;
    if (!site.userAgent.isEmpty())
        lines.append(line("User-Agent", site.userAgent));
    if (site.refererFromLink && !linkedFrom.isEmpty())
        lines.append(line("Referer", linkedFrom));
    else if (!site.referer.isEmpty())
        lines.append(line("Referer", site.referer));
    else if (site.refererFromLink)
        lines.append(line("Referer", siteHome(url)));
    for (const QString& extra : site.extraHeaders.split(QLatin1Char('\n'))) {
        if (!extra.trimmed().isEmpty() && extraHeadersProblem(extra).isEmpty())
            lines.append(extra.trimmed().toUtf8());
    }
    if (!site.cookie.isEmpty())
        lines.append(line("Cookie", site.cookie));
    return lines;
}

bool isHeaderValue(const QString& value) {
    for (const QChar c : value) {
        if (c.unicode() < 0x20 && c != QLatin1Char('\t'))
            return false;
        if (c.unicode() == 0x7F)
            return false;
    }
    return true;
}

QString extraHeadersProblem(const QString& lines) {
    static const QStringList reserved{QStringLiteral("host"), QStringLiteral("content-length"),
                                      QStringLiteral("transfer-encoding"),
                                      QStringLiteral("connection")};
    const QStringList all = lines.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < all.size(); ++i) {
        QString text = all[i];
        if (text.endsWith(QLatin1Char('\r')))
            text.chop(1);
        if (text.trimmed().isEmpty())
            continue;
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        const QString name = colon < 0 ? QString() : text.left(colon);
        bool token = !name.isEmpty();
        for (const QChar c : name)
            token = token && isTokenChar(c);
        if (!token || !isHeaderValue(text.mid(colon + 1)))
            return QStringLiteral("请求头第 %1 行应为「名称: 值」：%2").arg(i + 1).arg(text);
        if (reserved.contains(name.toLower()))
            return QStringLiteral("请求头第 %1 行的 %2 由程序自己发送，不能设置")
                .arg(i + 1)
                .arg(name);
    }
    return QString();
}

} // namespace zvrd
