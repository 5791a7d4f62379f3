#include "TestSite.h"

#include "PictureData.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>
#include <QUrl>

#include <httplib.h>
#include <iconv.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace zvrd::testsite {
namespace {

using httplib::Request;
using httplib::Response;

// ---- encodings ----------------------------------------------------------------------------

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

std::string convertEncoding(const char* to, const char* from, const std::string& input) {
    std::unique_ptr<void, IconvCloser> cd(iconv_open(to, from));
    if (cd.get() == reinterpret_cast<void*>(-1)) {
        cd.release();
        return std::string();
    }
    std::string out(input.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    while (inLeft > 0) {
        if (iconv(static_cast<iconv_t>(cd.get()), &in, &inLeft, &outPtr, &outLeft) ==
            static_cast<size_t>(-1)) {
            // Skip what cannot be converted; the demo content is all convertible.
            ++in;
            --inLeft;
        }
    }
    out.resize(out.size() - outLeft);
    return out;
}

std::string toGbk(const QString& text) {
    return convertEncoding("GBK", "UTF-8", text.toStdString());
}

bool isValidUtf8(const std::string& s) {
    const QByteArray bytes = QByteArray::fromStdString(s);
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

// Search keys arrive percent-encoded from GBK bytes (the reader always encodes them so); a
// browser would send UTF-8. Accept both.
QString decodeKey(const std::string& raw) {
    if (isValidUtf8(raw))
        return QString::fromStdString(raw);
    return QString::fromStdString(convertEncoding("UTF-8", "GBK", raw));
}

// ---- the made-up novels -------------------------------------------------------------------

const QStringList& titles() {
    static const QStringList titles = {
        QStringLiteral("山村少年"), QStringLiteral("初入宗门"), QStringLiteral("炼气之始"),
        QStringLiteral("神秘小瓶"), QStringLiteral("药园风波"), QStringLiteral("墨大夫"),
        QStringLiteral("长春功"),   QStringLiteral("夜探"),     QStringLiteral("血色禁地"),
        QStringLiteral("筑基丹"),   QStringLiteral("离山"),     QStringLiteral("坊市"),
    };
    return titles;
}

const QStringList& sentences() {
    static const QStringList sentences = {
        QStringLiteral("山风吹过村口的老槐树，落叶打着旋儿飘进了院子。"),
        QStringLiteral("他抬头望了一眼远处的群山，心中升起一股说不出的滋味。"),
        QStringLiteral("“此事不可声张，你且记住了。”老者低声说道。"),
        QStringLiteral("夜色渐深，屋里的油灯忽明忽暗，映出一张年轻而坚毅的脸。"),
        QStringLiteral("修行之路漫长而艰难，唯有心志坚定之人方能走到最后。"),
        QStringLiteral("一道青光从天边划过，转眼间便消失在云层之中。"),
        QStringLiteral("他握紧了手中的小瓶，掌心里渗出了细细的汗珠。"),
        QStringLiteral("第二天一早，院门外已经站满了前来看热闹的乡亲。"),
    };
    return sentences;
}

// The same kind of prose as a traditional-character site writes it.
const QStringList& traditionalSentences() {
    static const QStringList sentences = {
        QStringLiteral("悠揚的鐘聲在雲間來回飄蕩，驚起了一群歸巢的飛鳥。"),
        QStringLiteral("他推開書齋的門，燈光照在滿架的舊書上。"),
        QStringLiteral("「這件事，你聽誰說的？」她轉過頭來問道。"),
        QStringLiteral("雨後的街道濕漉漉的，遠處傳來賣報童的叫賣聲。"),
    };
    return sentences;
}

QString novelPath(const QString& site, const DemoNovel& novel) {
    return QStringLiteral("/%1/book/%2/").arg(site).arg(novel.id);
}

const DemoNovel* findNovel(const std::vector<DemoNovel>& novels, int id) {
    for (const DemoNovel& n : novels) {
        if (n.id == id)
            return &n;
    }
    return nullptr;
}

QString pageHead(const QString& title, const char* charset) {
    return QStringLiteral("<!DOCTYPE html>\r\n<html><head><meta charset=\"%1\">"
                          "<title>%2</title></head><body>\r\n")
        .arg(QLatin1String(charset), title);
}

// ---- GBK site: list pages, absolute 302, root-relative directory link --------------------

QString gbkSearchPage(const QString& key, const std::vector<const DemoNovel*>& found) {
    QString html = pageHead(QStringLiteral("搜索结果"), "gbk");
    html += QStringLiteral("<div class=\"nav\"><a href=\"/gbk/\">书海阁</a></div>\r\n");
    html += QStringLiteral("<h2>搜索“%1”的结果</h2>\r\n<table id=\"results\">\r\n")
                .arg(key.toHtmlEscaped());
    html += QStringLiteral("<tr><th>书名</th><th>作者</th><th>最新章节</th></tr>\r\n");
    for (const DemoNovel* n : found) {
        html +=
            QStringLiteral("<tr>\r\n  <td class=\"name\"><a href=\"%1\">%2</a></td>\r\n"
                           "  <td class=\"author\"> %3 </td>\r\n"
                           "  <td class=\"latest\"><a href=\"%1%4.html\">%5</a></td>\r\n</tr>\r\n")
                .arg(novelPath(QStringLiteral("gbk"), *n), n->name, n->author)
                .arg(n->chapters)
                .arg(demoChapterName(n->chapters));
    }
    html += QStringLiteral(
        "</table>\r\n<div class=\"footer\">书海阁 演示站</div>\r\n</body></html>\r\n");
    return html;
}

QString gbkInfoPage(const DemoNovel& n) {
    QString html = pageHead(n.name + QStringLiteral("_书海阁"), "gbk");
    html +=
        QStringLiteral(
            "<div id=\"info\">\r\n<h1>%1</h1>\r\n<p>作&nbsp;&nbsp;者：%2</p>\r\n"
            "<p>最新章节：<a href=\"%3.html\">%4</a></p>\r\n"
            "<p><a class=\"read\" href=\"/gbk/book/%5/list.html\">开始阅读</a></p>\r\n</div>\r\n")
            .arg(n.name, n.author)
            .arg(n.chapters)
            .arg(demoChapterName(n.chapters))
            .arg(n.id);
    html += QStringLiteral(
                "<div id=\"intro\">一部在演示站连载的小说，共 %1 章。</div>\r\n</body></html>\r\n")
                .arg(n.chapters);
    return html;
}

// Links come relative, root-relative and absolute in turn.
QString gbkDirectoryPage(const DemoNovel& n, const QString& base) {
    QString html = pageHead(n.name + QStringLiteral(" 目录"), "gbk");
    html += QStringLiteral("<h1>%1</h1>\r\n<div id=\"list\"><dl>\r\n").arg(n.name);
    for (int c = 1; c <= n.chapters; ++c) {
        QString href;
        switch (c % 3) {
        case 1:
            href = QStringLiteral("%1.html").arg(c);
            break;
        case 2:
            href = QStringLiteral("/gbk/book/%1/%2.html").arg(n.id).arg(c);
            break;
        default:
            href = QStringLiteral("%1/gbk/book/%2/%3.html").arg(base).arg(n.id).arg(c);
            break;
        }
        html += QStringLiteral("<dd><a href=\"%1\">%2</a></dd>\r\n").arg(href, demoChapterName(c));
    }
    html +=
        QStringLiteral("</dl></div>\r\n<div class=\"footer\">书海阁</div>\r\n</body></html>\r\n");
    return html;
}

QString pictureMarkup(const QString& site, const DemoNovel& n, int chapter) {
    // One root-relative and one folder-relative address, as sites write them.
    return QStringLiteral("<img src=\"/%1/pic/%2-%3-0.png\" alt=\"\"><br />\r\n"
                          "<img class=\"p\" src='../../pic/%2-%3-1.png' />\r\n")
        .arg(site)
        .arg(n.id)
        .arg(chapter);
}

QString gbkChapterPage(const DemoNovel& n, int c) {
    QString html = pageHead(demoChapterName(c), "gbk");
    html += QStringLiteral("<div class=\"bookname\"><h1>%1</h1></div>\r\n").arg(demoChapterName(c));
    html += QStringLiteral("<div id=\"content\">");
    if (c == n.pictureChapter)
        html += pictureMarkup(QStringLiteral("gbk"), n, c);
    else
        html += QStringLiteral("【书海阁首发】<br />\r\n") + demoChapterText(n, c) +
                QStringLiteral("<br />\r\n请记住本站域名：书海阁");
    html += QStringLiteral("</div>\r\n<div class=\"bottem\"><a "
                           "href=\"list.html\">目录</a></div>\r\n</body></html>\r\n");
    return html;
}

// ---- UTF-8 site: relative result addresses and 302s, name-first chapter links ------------

QString utf8SearchPage(const QString& key, const std::vector<const DemoNovel*>& found) {
    QString html = pageHead(QStringLiteral("云中书库 - 搜索"), "utf-8");
    html += QStringLiteral("<p>关键词：%1</p>\r\n<ul class=\"result-list\">\r\n")
                .arg(key.toHtmlEscaped());
    for (const DemoNovel* n : found) {
        html += QStringLiteral("<li><span class=\"s2\"><a href=\"book/%1/\">%2</a></span>"
                               "<span class=\"s4\">%3</span><span class=\"s3\">%4</span></li>\r\n")
                    .arg(n->id)
                    .arg(n->name, n->author, demoChapterName(n->chapters));
    }
    html += QStringLiteral("</ul>\r\n</body></html>\r\n");
    return html;
}

QString utf8InfoPage(const DemoNovel& n) {
    QString html = pageHead(n.name, "utf-8");
    html += QStringLiteral("<meta property=\"og:novel:book_name\" content=\"%1\"/>\r\n"
                           "<meta property=\"og:novel:author\" content=\"%2\"/>\r\n"
                           "<meta property=\"og:novel:latest_chapter_name\" content=\"%3\"/>\r\n"
                           "<div class=\"info\"><h2>%1</h2><a id=\"dir\" "
                           "href=\"index.html\">章节目录</a></div>\r\n"
                           "</body></html>\r\n")
                .arg(n.name, n.author, demoChapterName(n.chapters));
    return html;
}

QString utf8DirectoryPage(const DemoNovel& n) {
    QString html = pageHead(n.name + QStringLiteral(" 章节目录"), "utf-8");
    html += QStringLiteral("<div class=\"listmain\">\r\n");
    for (int c = 1; c <= n.chapters; ++c)
        html += QStringLiteral("<dd title=\"%1\"><a href=\"%2.html\">%1</a></dd>\r\n")
                    .arg(demoChapterName(c))
                    .arg(c);
    html += QStringLiteral("</div>\r\n</body></html>\r\n");
    return html;
}

QString utf8ChapterPage(const DemoNovel& n, int c) {
    QString html = pageHead(demoChapterName(c), "utf-8");
    html += QStringLiteral("<div class=\"text\">");
    if (c == n.pictureChapter)
        html += pictureMarkup(QStringLiteral("utf8"), n, c);
    else
        html += demoChapterText(n, c) + QStringLiteral("<script>ad();</script>");
    html += QStringLiteral("</div>\r\n</body></html>\r\n");
    return html;
}

std::vector<const DemoNovel*> matching(const std::vector<DemoNovel>& novels, const QString& key) {
    std::vector<const DemoNovel*> found;
    if (key.isEmpty())
        return found;
    for (const DemoNovel& n : novels) {
        if (n.name.contains(key))
            found.push_back(&n);
    }
    return found;
}

const DemoNovel* exactMatch(const std::vector<DemoNovel>& novels, const QString& key) {
    for (const DemoNovel& n : novels) {
        if (n.name == key)
            return &n;
    }
    return nullptr;
}

void sendGbk(Response& res, const QString& html) {
    res.set_content(toGbk(html), "text/html; charset=gbk");
}

void sendUtf8(Response& res, const QString& html) {
    res.set_content(html.toStdString(), "text/html; charset=utf-8");
}

void sendPicture(Response& res, int which) {
    if (which == 0)
        res.set_content(reinterpret_cast<const char*>(kPicturePng0), sizeof kPicturePng0,
                        "image/png");
    else
        res.set_content(reinterpret_cast<const char*>(kPicturePng1), sizeof kPicturePng1,
                        "image/png");
}

// size zero bytes, gzip-compressed.
std::string gzipOfZeros(size_t size) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return std::string();
    std::vector<unsigned char> zeros(1 << 20, 0);
    std::string out;
    std::vector<unsigned char> chunk(1 << 16);
    size_t left = size;
    int flush = Z_NO_FLUSH;
    do {
        const size_t take = std::min(left, zeros.size());
        z.next_in = zeros.data();
        z.avail_in = static_cast<uInt>(take);
        left -= take;
        flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = chunk.data();
            z.avail_out = static_cast<uInt>(chunk.size());
            deflate(&z, flush);
            out.append(reinterpret_cast<const char*>(chunk.data()), chunk.size() - z.avail_out);
        } while (z.avail_out == 0);
    } while (flush != Z_FINISH);
    deflateEnd(&z);
    return out;
}

int toInt(const std::string& s) {
    return QString::fromStdString(s).toInt();
}

// Saved pages of real sites at the paths their own links use.
struct RealPage {
    const char* site;
    const char* path;
    const char* file;
};
constexpr RealPage kRealPages[] = {
    {"biquge.com.tw", "/17_17275/", "info_directory_17_17275.html"},
    {"biquge.com.tw", "/17_17275/7633258.html", "chapter_17_17275_7633258.html"},
    {"999wx.com", "/Html/Book/29/29041/Index.shtml", "directory_29041.shtml"},
    {"999wx.com", "/Html/Book/32/32372/11226626.shtml", "chapter_32372_11226626.shtml"},
    {"biquge.info", "/74_74132/", "directory_74_74132.html"},
    {"biquge.info", "/74_74132/14482860.html", "chapter_74_74132_14482860.html"},
    {"biquge.info", "/antibot/74_74132/", "antibot_js_redirect.html"},
    {"siluke.tw", "/ny10354/", "directory_ny10354.html"},
    {"siluke.tw", "/ny10354/6071439.html", "chapter_ny10354_6071439.html"},
    {"shuquge.com", "/txt/30668/index.html", "info_directory_30668.html"},
    {"qidian.com", "/info/1009704712", "info_1009704712.html"},
    {"qidian.com", "/chapter/rCo0cx0UxW08kjk6dUsm_A2/8yNI9L7ye4tMs5iq0oQwLQ2",
     "chapter_8yNI9L7ye4tMs5iq0oQwLQ2.html"},
    {"m.xbiquge.tw", "/modules/article/search.php", "search_fanren.html"},
    {"zongheng.com", "/chapter/jianlai/14.html", "chapter_jianlai_14.html"},
};

} // namespace

// ---- public data ------------------------------------------------------------------------------

const std::vector<DemoNovel>& gbkNovels() {
    static const std::vector<DemoNovel> novels = {
        {1, QStringLiteral("凡人修仙传"), QStringLiteral("忘语"), 45, 4},
        {2, QStringLiteral("修仙归来"), QStringLiteral("老鹰吃小鸡"), 7, 0},
        {3, QStringLiteral("剑来"), QStringLiteral("烽火戏诸侯"), 20, 0},
        {4, QStringLiteral("星辰变"), QStringLiteral("我吃西红柿"), 200, 0},
        {5, QStringLiteral("万古长卷"), QStringLiteral("千章"), 1000, 0},
    };
    return novels;
}

const std::vector<DemoNovel>& utf8Novels() {
    static const std::vector<DemoNovel> novels = {
        {1, QStringLiteral("凡人修仙传"), QStringLiteral("忘语"), 30, 4},
        {2, QStringLiteral("修仙笔记"), QStringLiteral("青衫取醉"), 12, 0},
        {3, QStringLiteral("大道朝天"), QStringLiteral("猫腻"), 9, 0},
        {4, QStringLiteral("詭秘之主"), QStringLiteral("愛潛水的烏賊"), 5, 0, true},
    };
    return novels;
}

QString demoChapterName(int chapter) {
    return QStringLiteral("第%1章 %2").arg(chapter).arg(titles()[(chapter - 1) % titles().size()]);
}

QString demoChapterText(const DemoNovel& novel, int chapter) {
    QStringList paragraphs;
    paragraphs << (novel.traditional
                       ? QStringLiteral("&nbsp;&nbsp;&nbsp;&nbsp;《%1》第%2章正文開始。")
                       : QStringLiteral("&nbsp;&nbsp;&nbsp;&nbsp;《%1》第%2章正文开始。"))
                      .arg(novel.name)
                      .arg(chapter);
    const QStringList& prose = novel.traditional ? traditionalSentences() : sentences();
    for (int i = 0; i < 12; ++i)
        paragraphs << QStringLiteral("&nbsp;&nbsp;&nbsp;&nbsp;") +
                          prose[(chapter * 3 + i * 5 + novel.id) % prose.size()];
    return paragraphs.join(QStringLiteral("<br />\r\n<br />\r\n"));
}

// ---- the mobile-style site: "/m/book/N/" of the GBK site's novels, in UTF-8 ----------------
// Lists of 20 links a page with the 9 newest chapters above the first page's list, chapters of
// two or three pages; every address it links to belongs to the site's old address (moved), which
// redirects here.

constexpr int kMobileListPage = 20;
constexpr int kMobileNewest = 9;

int mobileChapterPages(int chapter) {
    return 2 + chapter % 2;
}

QString mobileInfoPage(const DemoNovel& n, const QString& moved) {
    return QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body>"
                          "<h1 class=\"title\">%1</h1><p class=\"author\">作者：%2</p>"
                          "<p class=\"latest\">最新：<a href=\"%4/m/book/%3/%5.html\">%6</a></p>"
                          "<a class=\"all\" href=\"%4/m/book/%3/list_1.html\">全部章节</a>"
                          "</body></html>")
        .arg(n.name, n.author)
        .arg(n.id)
        .arg(moved)
        .arg(n.chapters)
        .arg(demoChapterName(n.chapters));
}

QString mobileListPage(const DemoNovel& n, int page, const QString& moved) {
    auto link = [&](int c) {
        return QStringLiteral("<li><a href=\"%1/m/book/%2/%3.html\">%4</a></li>")
            .arg(moved)
            .arg(n.id)
            .arg(c)
            .arg(demoChapterName(c));
    };
    QString items;
    if (page == 1) {
        for (int c = n.chapters; c > std::max(0, n.chapters - kMobileNewest); --c)
            items += link(c);
    }
    const int first = (page - 1) * kMobileListPage + 1;
    for (int c = first; c <= std::min(n.chapters, first + kMobileListPage - 1); ++c)
        items += link(c);
    const bool more = page * kMobileListPage < n.chapters;
    return QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body><h1>%1</h1>"
                          "<ul class=\"chapters\">%2</ul>%3</body></html>")
        .arg(
            n.name, items,
            more
                ? QStringLiteral("<a class=\"next\" href=\"list_%1.html\">下一页</a>").arg(page + 1)
                : QString());
}

QString mobileChapterPage(const DemoNovel& n, int chapter, int part) {
    const QStringList paragraphs =
        demoChapterText(n, chapter).split(QStringLiteral("<br />\r\n<br />\r\n"));
    const int parts = mobileChapterPages(chapter);
    const qsizetype per = (paragraphs.size() + parts - 1) / parts;
    const QString text = paragraphs.mid((part - 1) * per, per).join(QStringLiteral("<br /><br />"));
    const QString next =
        part < parts
            ? QStringLiteral("<p>本章未完，请点击下一页继续阅读</p>"
                             "<a id=\"pb_next\" href=\"%1_%2.html\">下一页</a>")
                  .arg(chapter)
                  .arg(part + 1)
            : QStringLiteral("<a id=\"pb_next\" href=\"%1.html\">下一章</a>").arg(chapter + 1);
    return QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body><h1>%1</h1>"
                          "<div id=\"nr1\">%2</div>%3</body></html>")
        .arg(demoChapterName(chapter), text, next);
}

QString mobileChapterText(const DemoNovel& novel, int chapter) {
    QString text;
    for (int part = 1; part <= mobileChapterPages(chapter); ++part) {
        const QString page = mobileChapterPage(novel, chapter, part);
        const qsizetype from = page.indexOf(QStringLiteral("<div id=\"nr1\">")) + 14;
        if (part > 1)
            text += QStringLiteral("<br />\r\n"); // as the reader joins pages
        text += page.mid(from, page.indexOf(QStringLiteral("</div>"), from) - from);
    }
    return text;
}

QString defaultRealSitesDir() {
#ifdef ZVRD_SOURCE_DIR
    const QString dir = QDir::cleanPath(QStringLiteral(ZVRD_SOURCE_DIR "/../shared/realsites"));
    if (QFileInfo(dir).isDir())
        return dir;
#endif
    return QString();
}

// ---- servers ----------------------------------------------------------------------------------

struct TestSite::Server {
    httplib::Server http;
    std::thread thread;
    int port = 0;

    ~Server() {
        http.stop();
        if (thread.joinable())
            thread.join();
    }
};

TestSite::TestSite(const Options& options)
    : m_slowEvery(options.slowEvery), m_slowMs(options.slowMs), m_latencyMs(options.latencyMs),
      m_growEverySeconds(options.growEverySeconds), m_stateFile(options.stateFile) {
    // The serials go on from where the last run left them, as a demo library remembers them.
    if (QFile state(m_stateFile); !m_stateFile.isEmpty() && state.open(QIODevice::ReadOnly))
        m_grownBefore = m_grownKept = std::max(0, state.readAll().trimmed().toInt());
    startMoved();
    startDemo(options.port);
    if (!options.realSitesDir.isEmpty() && QFileInfo(options.realSitesDir).isDir()) {
        QStringList sites;
        for (const RealPage& page : kRealPages) {
            if (!sites.contains(QLatin1String(page.site)))
                sites << QLatin1String(page.site);
        }
        for (const QString& site : sites)
            startRealSite(site, options.realSitesDir + QLatin1Char('/') + site);
    }
}

TestSite::~TestSite() {
    // Stop every server before the counters its handlers use go away.
    m_servers.clear();
}

QString TestSite::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(m_demoPort);
}

int TestSite::port() const {
    return m_demoPort;
}

QString TestSite::realSiteUrl(const QString& site) const {
    const int port = m_realPorts.value(site, 0);
    return port ? QStringLiteral("http://127.0.0.1:%1").arg(port) : QString();
}

QStringList TestSite::realSites() const {
    return m_realPorts.keys();
}

void TestSite::setPage(const QString& name, const QByteArray& body, int status,
                       const QString& location, int delayMs) {
    setAnswers(name, {Answer{body, status, location, delayMs, {}}});
}

void TestSite::setAnswers(const QString& name, const QList<Answer>& answers) {
    std::lock_guard lock(m_pagesLock);
    m_pages.insert(name, CustomPage{answers, 0});
}

int TestSite::pageRequests(const QString& name) const {
    std::lock_guard lock(m_pagesLock);
    return m_pages.value(name).served;
}

void TestSite::holdChapter(int novel, int chapter) {
    std::lock_guard lock(m_holdLock);
    m_held = {novel, chapter};
}

void TestSite::releaseHeld() {
    std::lock_guard lock(m_holdLock);
    m_held = {0, 0};
    m_holdReleased.notify_all();
}

bool TestSite::isHeld() const {
    std::lock_guard lock(m_holdLock);
    return m_waiting;
}

void TestSite::waitIfHeld(int novel, int chapter) {
    std::unique_lock lock(m_holdLock);
    if (m_held != std::pair{novel, chapter})
        return;
    m_waiting = true;
    m_holdReleased.wait_for(lock, std::chrono::seconds(30), [&] {
        return m_held != std::pair{novel, chapter};
    });
    m_waiting = false;
}

namespace {

void launch(httplib::Server& http, std::thread& thread, int& port, int wantedPort,
            std::atomic<int>& latency, std::atomic<int>& requests,
            std::function<bool(Response&)> refuses, TestSite::Gauge* gauge = nullptr,
            std::function<void(const Request&)> seen = {}) {
    // Slow and stalled answers must not starve the others.
    http.new_task_queue = [] { return new httplib::ThreadPool(48); };
    http.set_keep_alive_max_count(1);
    // Called for every answer, refused and unknown ones too.
    if (gauge)
        http.set_post_routing_handler([gauge](const Request&, Response&) { --gauge->now; });
    http.set_pre_routing_handler(
        [&latency, &requests, refuses, gauge, seen](const Request& req, Response& res) {
            ++requests;
            if (seen)
                seen(req);
            if (gauge) {
                const int now = ++gauge->now;
                for (int seen = gauge->most;
                     now > seen && !gauge->most.compare_exchange_weak(seen, now);) {
                }
            }
            if (refuses && refuses(res))
                return httplib::Server::HandlerResponse::Handled;
            // The library compresses with brotli at its top quality, 200 ms of CPU for a
            // 2,000-chapter list page: far more than any real site spends, and it would be counted
            // against the reader in every benchmark. Real novel sites send gzip; so does this one.
            auto& headers = const_cast<httplib::Headers&>(req.headers);
            if (const auto it = headers.find("Accept-Encoding"); it != headers.end()) {
                const bool gzip = it->second.find("gzip") != std::string::npos;
                headers.erase(it);
                if (gzip)
                    headers.emplace("Accept-Encoding", "gzip");
            }
            if (const int ms = latency.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            return httplib::Server::HandlerResponse::Unhandled;
        });
    if (wantedPort > 0) {
        if (!http.bind_to_port("127.0.0.1", wantedPort))
            throw std::runtime_error("testsite: cannot bind port " + std::to_string(wantedPort));
        port = wantedPort;
    } else {
        port = http.bind_to_any_port("127.0.0.1");
        if (port <= 0)
            throw std::runtime_error("testsite: cannot bind a port");
    }
    thread = std::thread([&http] { http.listen_after_bind(); });
    // stop() only reaches a server that is already running: wait for that.
    while (!http.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace

void TestSite::setRateLimit(double perSecond, int burst, bool retryAfter) {
    std::lock_guard lock(m_bucketLock);
    m_retryAfter = retryAfter;
    m_perSecond = perSecond;
    m_burst = burst;
    m_tokens = burst;
    m_refilled = std::chrono::steady_clock::now();
}

bool TestSite::refuses(Response& res) {
    if (m_unavailable > 0 && m_unavailable-- > 0) {
        ++m_refused;
        res.status = 503;
        res.set_content("<html><body>503 Service Unavailable</body></html>", "text/html");
        return true;
    }
    std::lock_guard lock(m_bucketLock);
    if (m_perSecond <= 0)
        return false;
    const auto now = std::chrono::steady_clock::now();
    m_tokens = std::min(
        m_burst, m_tokens + std::chrono::duration<double>(now - m_refilled).count() * m_perSecond);
    m_refilled = now;
    if (m_tokens >= 1) {
        m_tokens -= 1;
        return false;
    }
    ++m_refused;
    res.status = 429;
    if (m_retryAfter)
        res.set_header("Retry-After",
                       std::to_string(static_cast<int>(std::ceil((1 - m_tokens) / m_perSecond))));
    res.set_content("<html><body>429 Too Many Requests</body></html>", "text/html");
    return true;
}

std::optional<DemoNovel> TestSite::novel(const std::vector<DemoNovel>& novels, const char* site,
                                         int id) const {
    const DemoNovel* found = findNovel(novels, id);
    if (!found)
        return std::nullopt;
    DemoNovel copy = *found;
    std::lock_guard lock(m_pagesLock);
    if (m_growEverySeconds > 0) {
        const int grown =
            m_grownBefore + static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(
                                                 std::chrono::steady_clock::now() - m_started)
                                                 .count() /
                                             m_growEverySeconds);
        copy.chapters += grown;
        // Kept before anybody sees the longer list.
        if (grown > m_grownKept && !m_stateFile.isEmpty()) {
            QSaveFile state(m_stateFile);
            if (state.open(QIODevice::WriteOnly) && state.write(QByteArray::number(grown)) > 0 &&
                state.commit())
                m_grownKept = grown;
        }
    }
    copy.chapters = m_chapterCounts.value(QStringLiteral("%1/%2").arg(QLatin1String(site)).arg(id),
                                          copy.chapters);
    return copy;
}

void TestSite::setChapterCount(const QString& site, int novel, int chapters) {
    std::lock_guard lock(m_pagesLock);
    m_chapterCounts.insert(QStringLiteral("%1/%2").arg(site).arg(novel), chapters);
}

void TestSite::slowChapter(int chapter) const {
    const int every = m_slowEvery.load();
    if (every > 0 && chapter % every == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(m_slowMs.load()));
}

void TestSite::startDemo(int port) {
    auto server = std::make_unique<Server>();
    httplib::Server& http = server->http;
    const int* demoPort = &m_demoPort;

    // GBK site
    http.Get("/gbk/search", [demoPort](const Request& req, Response& res) {
        const QString key = decodeKey(req.get_param_value("q"));
        if (const DemoNovel* n = exactMatch(gbkNovels(), key)) {
            res.status = 302;
            res.set_header("Location", QStringLiteral("http://127.0.0.1:%1/gbk/book/%2/")
                                           .arg(*demoPort)
                                           .arg(n->id)
                                           .toStdString());
            return;
        }
        sendGbk(res, gbkSearchPage(key, matching(gbkNovels(), key)));
    });
    http.Get(R"(/gbk/book/(\d+)/)", [this](const Request& req, Response& res) {
        const std::optional<DemoNovel> n = novel(gbkNovels(), "gbk", toInt(req.matches[1]));
        if (!n) {
            res.status = 404;
            return;
        }
        sendGbk(res, gbkInfoPage(*n));
    });
    http.Get(R"(/gbk/book/(\d+)/list\.html)", [this](const Request& req, Response& res) {
        const std::optional<DemoNovel> n = novel(gbkNovels(), "gbk", toInt(req.matches[1]));
        if (!n) {
            res.status = 404;
            return;
        }
        sendGbk(res, gbkDirectoryPage(*n, baseUrl()));
    });
    http.Get(R"(/gbk/book/(\d+)/(\d+)\.html)", [this](const Request& req, Response& res) {
        const std::optional<DemoNovel> n = novel(gbkNovels(), "gbk", toInt(req.matches[1]));
        const int c = toInt(req.matches[2]);
        if (!n || c < 1 || c > n->chapters) {
            res.status = 404;
            return;
        }
        waitIfHeld(n->id, c);
        slowChapter(c);
        sendGbk(res, gbkChapterPage(*n, c));
    });

    // UTF-8 site
    http.Get("/utf8/search.php", [](const Request& req, Response& res) {
        const QString key = decodeKey(req.get_param_value("keyword"));
        if (const DemoNovel* n = exactMatch(utf8Novels(), key)) {
            res.status = 302;
            res.set_header("Location", QStringLiteral("book/%1/").arg(n->id).toStdString());
            return;
        }
        sendUtf8(res, utf8SearchPage(key, matching(utf8Novels(), key)));
    });
    http.Get(R"(/utf8/book/(\d+)/)", [this](const Request& req, Response& res) {
        const std::optional<DemoNovel> n = novel(utf8Novels(), "utf8", toInt(req.matches[1]));
        if (!n) {
            res.status = 404;
            return;
        }
        sendUtf8(res, utf8InfoPage(*n));
    });
    http.Get(R"(/utf8/book/(\d+)/index\.html)", [this](const Request& req, Response& res) {
        const std::optional<DemoNovel> n = novel(utf8Novels(), "utf8", toInt(req.matches[1]));
        if (!n) {
            res.status = 404;
            return;
        }
        sendUtf8(res, utf8DirectoryPage(*n));
    });
    http.Get(R"(/utf8/book/(\d+)/(\d+)\.html)", [this](const Request& req, Response& res) {
        const std::optional<DemoNovel> n = novel(utf8Novels(), "utf8", toInt(req.matches[1]));
        const int c = toInt(req.matches[2]);
        if (!n || c < 1 || c > n->chapters) {
            res.status = 404;
            return;
        }
        slowChapter(c);
        sendUtf8(res, utf8ChapterPage(*n, c));
    });
    http.Get(R"(/(gbk|utf8)/pic/(\d+)-(\d+)-([01])\.png)",
             [](const Request& req, Response& res) { sendPicture(res, toInt(req.matches[4])); });

    // The mobile-style site.
    const int* movedPort = &m_movedPort;
    auto moved = [movedPort] { return QStringLiteral("http://127.0.0.1:%1").arg(*movedPort); };
    http.Get(R"(/m/book/(\d+)/)", [this, moved](const Request& req, Response& res) {
        const std::optional<DemoNovel> n = novel(gbkNovels(), "gbk", toInt(req.matches[1]));
        if (!n) {
            res.status = 404;
            return;
        }
        sendUtf8(res, mobileInfoPage(*n, moved()));
    });
    http.Get(R"(/m/book/(\d+)/list_(\d+)\.html)", [this, moved](const Request& req, Response& res) {
        const std::optional<DemoNovel> n = novel(gbkNovels(), "gbk", toInt(req.matches[1]));
        const int page = toInt(req.matches[2]);
        if (!n || page < 1 || (page - 1) * kMobileListPage >= n->chapters) {
            res.status = 404;
            return;
        }
        sendUtf8(res, mobileListPage(*n, page, moved()));
    });
    http.Get(R"(/m/book/(\d+)/(\d+)(?:_(\d+))?\.html)", [this](const Request& req, Response& res) {
        const std::optional<DemoNovel> n = novel(gbkNovels(), "gbk", toInt(req.matches[1]));
        const int c = toInt(req.matches[2]);
        const int part = req.matches[3].length() > 0 ? toInt(req.matches[3]) : 1;
        if (!n || c < 1 || c > n->chapters || part < 1 || part > mobileChapterPages(c) ||
            (part > 1 && m_brokenPart == c)) {
            res.status = 404;
            return;
        }
        // Anti-hotlinking, as many such sites do: a chapter is shown only to a reader who came
        // from one of the site's own pages.
        if (QUrl(QString::fromStdString(req.get_header_value("Referer"))).host() !=
            QLatin1String("127.0.0.1")) {
            sendUtf8(res, QStringLiteral("<html><body>禁止盗链</body></html>"));
            res.status = 403;
            return;
        }
        sendUtf8(res, mobileChapterPage(*n, c, part));
    });

    // Faults on demand
    http.Get(R"(/fault/status/(\d+))", [](const Request& req, Response& res) {
        res.status = toInt(req.matches[1]);
        if (res.status == 301 || res.status == 302 || res.status == 303 || res.status == 307)
            res.set_header("Location", "/gbk/book/1/");
        res.set_content("<html><body>status page</body></html>", "text/html");
    });
    http.Get("/fault/redirect", [](const Request& req, Response& res) {
        res.status = 302;
        res.set_header("Location", req.get_param_value("to"));
    });
    // N + 1 redirects, each relative, the last one to ?to= (or a page that tells where it is).
    http.Get(R"(/fault/hops/(\d+))", [](const Request& req, Response& res) {
        const int left = toInt(req.matches[1]);
        const std::string to = req.get_param_value("to");
        res.status = 302;
        res.set_header("Location", left > 0 ? "/fault/hops/" + std::to_string(left - 1) +
                                                  (to.empty() ? "" : "?to=" + to)
                                            : to);
    });
    http.Get("/fault/lowercase-location", [](const Request&, Response& res) {
        res.status = 302;
        res.set_header("location", "/gbk/book/2/");
    });
    http.Get("/fault/loop", [](const Request&, Response& res) {
        res.status = 302;
        res.set_header("Location", "/fault/loop");
    });
    http.Get("/fault/slow", [](const Request& req, Response& res) {
        const int ms = req.has_param("ms") ? toInt(req.get_param_value("ms")) : 2000;
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        res.set_content("<html><body>slow answer</body></html>", "text/html");
    });
    http.Get("/fault/big", [](const Request& req, Response& res) {
        const int bytes = req.has_param("bytes") ? toInt(req.get_param_value("bytes")) : 2000000;
        std::string body = "<html><body>";
        body.resize(static_cast<size_t>(std::max(bytes, 20)), 'a');
        res.set_content(body, "text/html");
    });
    http.Get("/fault/bad-utf8", [](const Request&, Response& res) {
        res.set_content(std::string("<p>ok \xff\xfe bad \xe4\xb8 end</p>"), "text/html");
    });
    http.Get("/fault/bad-gbk", [](const Request&, Response& res) {
        // "中" in GBK, a lone lead byte, an invalid pair, then "文".
        res.set_content(std::string("<p>\xd6\xd0 \x81 \xff\xff \xce\xc4</p>"),
                        "text/html; charset=gbk");
    });
    http.Get("/fault/nul", [](const Request&, Response& res) {
        res.set_content(std::string("<p>before\0after</p>", 18), "text/html");
    });
    http.Get("/fault/reset", [](const Request&, Response& res) {
        res.set_chunked_content_provider("text/html",
                                         [](size_t, httplib::DataSink&) { return false; });
    });

    http.Get(R"(/custom/(.+))", [this](const Request& req, Response& res) {
        Answer answer;
        {
            std::lock_guard lock(m_pagesLock);
            const QString name = QString::fromStdString(req.matches[1]);
            auto it = m_pages.find(name);
            if (it == m_pages.end() || it->answers.isEmpty()) {
                res.status = 404;
                return;
            }
            answer = it->answers[std::min<qsizetype>(it->served, it->answers.size() - 1)];
            ++it->served;
        }
        if (answer.delayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(answer.delayMs));
        res.status = answer.status;
        if (!answer.location.isEmpty())
            res.set_header("Location", answer.location.toStdString());
        bool encoded = false;
        for (const auto& [field, value] : answer.headers) {
            res.set_header(field.toStdString(), value.toStdString());
            encoded = encoded || field.compare("Content-Encoding", Qt::CaseInsensitive) == 0;
        }
        // A body with an encoding of its own must reach the client as it is: the server would
        // compress a text type once more.
        res.set_content(answer.body.toStdString(),
                        encoded ? "application/octet-stream" : "text/html");
    });
    // A serial that grows (or shrinks): ?site=gbk|utf8&novel=N&chapters=M from now on.
    http.Get("/fault/grow", [this](const Request& req, Response& res) {
        setChapterCount(QString::fromStdString(req.get_param_value("site")),
                        toInt(req.get_param_value("novel")),
                        toInt(req.get_param_value("chapters")));
        res.set_content("ok", "text/plain");
    });
    // The request target as it arrived, undecoded.
    http.Get("/fault/echo",
             [](const Request& req, Response& res) { res.set_content(req.target, "text/plain"); });
    // The header at once, then a body that stalls (for at most ?ms=, default 20 s).
    http.Get("/fault/stall", [](const Request& req, Response& res) {
        const int ms = req.has_param("ms") ? toInt(req.get_param_value("ms")) : 20000;
        res.set_chunked_content_provider("text/html", [ms](size_t, httplib::DataSink& sink) {
            sink.write("<html>", 6);
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            return false;
        });
    });
    // A redirect to ?to= whose body then stalls (for ?ms=, default 20 s).
    http.Get("/fault/stall-redirect", [](const Request& req, Response& res) {
        const int ms = req.has_param("ms") ? toInt(req.get_param_value("ms")) : 20000;
        res.status = 302;
        res.set_header("Location", req.get_param_value("to"));
        res.set_chunked_content_provider("text/html", [ms](size_t, httplib::DataSink& sink) {
            sink.write("<html>", 6);
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            return false;
        });
    });
    // A body that never ends (no length announced); the server gives up after 1 GiB.
    http.Get(R"(/fault/endless(\.png)?)", [](const Request&, Response& res) {
        auto sent = std::make_shared<size_t>(0);
        res.set_chunked_content_provider("image/png", [sent](size_t, httplib::DataSink& sink) {
            static const std::string block(64 * 1024, 'z');
            if (*sent >= (size_t{1} << 30))
                return false;
            *sent += block.size();
            return sink.write(block.data(), block.size());
        });
    });
    // A gzip-encoded body of few bytes on the wire that decodes to ?mb= MiB of zeros.
    http.Get(R"(/fault/gzip-bomb(\.png)?)", [](const Request& req, Response& res) {
        const int mb = req.has_param("mb") ? toInt(req.get_param_value("mb")) : 70;
        res.set_header("Content-Encoding", "gzip");
        res.set_content(gzipOfZeros(static_cast<size_t>(mb) << 20), "image/png");
    });

    launch(
        http, server->thread, server->port, port, m_latencyMs, m_requests,
        [this](Response& res) { return refuses(res); }, &m_gauge,
        [this, at = &server->port](const Request& req) { remember(*at, req); });
    m_demoPort = server->port;
    m_servers.push_back(std::move(server));
}

void TestSite::startMoved() {
    auto server = std::make_unique<Server>();
    const int* demoPort = &m_demoPort;
    server->http.Get(R"(/.*)", [demoPort](const Request& req, Response& res) {
        res.status = 301;
        res.set_header("Location", "http://127.0.0.1:" + std::to_string(*demoPort) + req.target);
    });
    launch(server->http, server->thread, server->port, 0, m_latencyMs, m_requests, {}, nullptr,
           [this, at = &server->port](const Request& req) { remember(*at, req); });
    m_movedPort = server->port;
    m_servers.push_back(std::move(server));
}

void TestSite::remember(int port, const Request& req) {
    std::lock_guard lock(m_seenLock);
    for (const auto& [name, value] : req.headers)
        m_seen.append({port, QString::fromStdString(req.path),
                       QString::fromStdString(name).toLower(), QString::fromStdString(value)});
}

QStringList TestSite::headerValues(const QString& url, const QString& name) const {
    const int port = QUrl(url).port();
    std::lock_guard lock(m_seenLock);
    QStringList values;
    for (const SeenHeader& header : m_seen) {
        if (header.port == port && header.name == name.toLower())
            values.append(header.path + QLatin1Char(' ') + header.value);
    }
    return values;
}

QString TestSite::movedUrl() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(m_movedPort);
}

namespace {

httplib::Server::Handler savedFile(const QString& file) {
    return [file](const Request&, Response& res) {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly)) {
            res.status = 404;
            return;
        }
        res.set_content(f.readAll().toStdString(), "text/html");
    };
}

} // namespace

void TestSite::startRealSite(const QString& site, const QString& folder) {
    auto server = std::make_unique<Server>();
    for (const RealPage& page : kRealPages) {
        if (site != QLatin1String(page.site))
            continue;
        const QString file = folder + QLatin1Char('/') + QLatin1String(page.file);
        server->http.Get(page.path, savedFile(file));
    }
    // The saved chapter stands for every other chapter of its book's folder, so that a whole
    // chain (list, first and last chapter) can be read.
    for (const RealPage& page : kRealPages) {
        const QString path = QLatin1String(page.path);
        if (site != QLatin1String(page.site) ||
            !QLatin1String(page.file).startsWith(QLatin1String("chapter_")))
            continue;
        const QString folderPath = path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
        const QString file = folder + QLatin1Char('/') + QLatin1String(page.file);
        const std::string pattern =
            (QRegularExpression::escape(folderPath) + QStringLiteral("[^/]+")).toStdString();
        server->http.Get(pattern, savedFile(file));
    }
    launch(server->http, server->thread, server->port, 0, m_latencyMs, m_requests, {});
    m_realPorts.insert(site, server->port);
    m_servers.push_back(std::move(server));
}

} // namespace zvrd::testsite
