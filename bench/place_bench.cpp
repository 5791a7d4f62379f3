// Carrying a reading place to another site's list of the same novel, over a corpus of list
// pairs: the real chapter lists of ../shared/realsites (read at run time), each against copies
// with the changes real sites make — other numbering styles, notes and volume headings put in,
// chapters missing or merged, titles with site junk, a list that lags behind — in both
// directions. For every chapter of every pair, where the place lands: on the same chapter, past
// it (chapters skipped unread) or before it. Side by side: this reader's way (PlaceCarrier) and
// the way of the most used peer (cleaned titles compared by similarity in a window around the
// scaled place, then the chapter number, else the scaled place clamped to the list).
#include "core/ChapterMatch.h"
#include "core/DataFolder.h"
#include "core/Text.h"
#include "net/WebFetch.h"
#include "rules/Extractors.h"
#include "rules/RuleSet.h"
#include "store/Schema.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <vector>

using namespace zvrd;

namespace {

// ---- the corpus ----------------------------------------------------------------------------

struct RealList {
    const char* rule;
    const char* file;
};
constexpr RealList kLists[] = {
    {"笔趣阁", "biquge.com.tw/info_directory_17_17275.html"},
    {"999文学", "999wx.com/directory_29041.shtml"},
    {"笔趣阁info", "biquge.info/directory_74_74132.html"},
    {"思路客", "siluke.tw/directory_ny10354.html"},
    {"书趣阁", "shuquge.com/info_directory_30668.html"},
    {"起点中文网", "qidian.com/info_1009704712.html"},
};

QStringList realList(const RealList& real, const QString& folder) {
    QFile file(folder + QLatin1Char('/') + QLatin1String(real.file));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const SiteRule rule = findRuleBySiteName(loadSiteRules(), QString::fromUtf8(real.rule));
    ChapterList list = extractDirectoryPage(decodeBody(file.readAll(), rule.charset),
                                            QStringLiteral("http://example.com/book/"), rule);
    if (rule.distinctLinks)
        list = withoutRepeatedLinks(list);
    return list.names;
}

QString chinese(int n) {
    static const QString digits = QStringLiteral("零一二三四五六七八九");
    if (n == 0)
        return QStringLiteral("零");
    QString out;
    const int units[] = {1000, 100, 10, 1};
    const QString names[] = {QStringLiteral("千"), QStringLiteral("百"), QStringLiteral("十"),
                             QString()};
    bool zero = false;
    for (int u = 0; u < 4; ++u) {
        const int d = n / units[u] % 10;
        if (d == 0) {
            zero = !out.isEmpty();
            continue;
        }
        if (zero)
            out += digits[0];
        zero = false;
        if (!(d == 1 && units[u] == 10 && out.isEmpty()))
            out += digits[d];
        out += names[u];
    }
    return out;
}

// A copy of a list as another site writes it, with where each chapter of either went.
struct Pair {
    QString what;
    QStringList a;
    QStringList b;
    std::vector<int> aToB; // the right place in b for each chapter of a
    std::vector<int> bToA;
};

enum Change : unsigned {
    kNumbering = 1,
    kJunk = 2,
    kNotes = 4,
    kVolumes = 8,
    kMissing = 16,
    kMerged = 32,
    kLagging = 64,
};

QString otherNumbering(const QString& title) {
    static const QRegularExpression arabic(QStringLiteral("^第(\\d+)章"));
    static const QRegularExpression hanzi(
        QStringLiteral("^第([零〇一二两三四五六七八九十百千]+)章"));
    if (const auto m = arabic.match(title); m.hasMatch())
        return QStringLiteral("第%1章").arg(chinese(m.captured(1).toInt())) +
               title.mid(m.capturedEnd());
    if (const auto m = hanzi.match(title); m.hasMatch())
        return QStringLiteral("第%1章").arg(chineseNumber(m.captured(1))) +
               title.mid(m.capturedEnd());
    static const QRegularExpression leading(QStringLiteral("^(\\d+)、"));
    if (const auto m = leading.match(title); m.hasMatch())
        return QStringLiteral("第%1章 ").arg(m.captured(1)) + title.mid(m.capturedEnd());
    return title;
}

QString withJunk(const QString& title, std::mt19937& random) {
    static const QStringList tails = {QStringLiteral("（求月票）"), QStringLiteral("【加更】"),
                                      QStringLiteral("[手打]"), QStringLiteral("(求收藏)"),
                                      QStringLiteral("（第三更）")};
    QString t = title;
    switch (random() % 5) {
    case 0:
        t += tails[static_cast<int>(random() % tails.size())];
        break;
    case 1:
        t = QStringLiteral("正文 ") + t;
        break;
    case 2:
        t.replace(QLatin1Char(' '), QStringLiteral("　")); // full-width blanks
        break;
    case 3:
        t.replace(QStringLiteral("章 "), QStringLiteral("章："));
        break;
    default:
        break;
    }
    return t;
}

Pair makePair(const QString& what, const QStringList& a, unsigned changes, unsigned seed) {
    std::mt19937 random(seed);
    Pair pair;
    pair.what = what;
    pair.a = a;
    pair.aToB.assign(static_cast<size_t>(a.size()), -1);
    static const QStringList notes = {QStringLiteral("上架感言"), QStringLiteral("请假条"),
                                      QStringLiteral("感谢盟主加更"), QStringLiteral("新书推荐"),
                                      QStringLiteral("今天只有一更")};
    const int count = static_cast<int>(a.size());
    std::vector<bool> present(static_cast<size_t>(count), false); // a's chapters that b has
    const int kept = (changes & kLagging) ? count - std::max(1, count / 20) : count;
    for (int i = 0; i < kept; ++i) {
        if ((changes & kNotes) && i > 0 && random() % 60 == 0) {
            pair.b << notes[static_cast<int>(random() % notes.size())];
        }
        if ((changes & kVolumes) && i > 0 && i % 150 == 0) {
            pair.b << QStringLiteral("第%1卷 风起云涌").arg(chinese(i / 150 + 1));
        }
        if ((changes & kMissing) && i > 0 && i + 1 < kept && random() % 100 == 0)
            continue; // filled in below: the next chapter kept
        QString title = a[i];
        const bool merge = (changes & kMerged) && i + 1 < kept && random() % 150 == 0;
        if (merge) {
            const ChapterKey first = chapterKey(a[i]);
            const ChapterKey second = chapterKey(a[i + 1]);
            static const QRegularExpression number(QStringLiteral("^第[^章]+章"));
            if (first.number > 0 && second.number == first.number + 1 &&
                number.match(title).hasMatch())
                title.replace(number,
                              QStringLiteral("第%1-%2章").arg(first.number).arg(second.number));
            else
                title += QLatin1Char(' ') + a[i + 1];
        }
        if (changes & kNumbering)
            title = otherNumbering(title);
        if (changes & kJunk)
            title = withJunk(title, random);
        pair.aToB[static_cast<size_t>(i)] = static_cast<int>(pair.b.size());
        present[static_cast<size_t>(i)] = true;
        pair.b << title;
        if (merge) {
            ++i;
            pair.aToB[static_cast<size_t>(i)] = static_cast<int>(pair.b.size()) - 1;
            present[static_cast<size_t>(i)] = true;
        }
    }
    // A chapter missing: its place is the next chapter the other site has; past the end of a
    // list that lags behind, its last chapter.
    for (int i = count - 1, next = static_cast<int>(pair.b.size()) - 1; i >= 0; --i) {
        if (pair.aToB[static_cast<size_t>(i)] >= 0)
            next = pair.aToB[static_cast<size_t>(i)];
        else
            pair.aToB[static_cast<size_t>(i)] = next;
    }
    // Back: a chapter of b is the first chapter of a it holds; what was put in lands on the
    // chapter of a that follows it.
    pair.bToA.assign(static_cast<size_t>(pair.b.size()), -1);
    for (int i = count - 1; i >= 0; --i) {
        const int j = pair.aToB[static_cast<size_t>(i)];
        if (present[static_cast<size_t>(i)])
            pair.bToA[static_cast<size_t>(j)] = i;
    }
    for (int j = static_cast<int>(pair.b.size()) - 1, next = count - 1; j >= 0; --j) {
        if (pair.bToA[static_cast<size_t>(j)] >= 0)
            next = pair.bToA[static_cast<size_t>(j)];
        else
            pair.bToA[static_cast<size_t>(j)] = next;
    }
    return pair;
}

// ---- the peer's way --------------------------------------------------------------------------

QString peerClean(const QString& title) {
    QString out;
    for (const QChar c : title) {
        if (c.isLetterOrNumber())
            out += c;
    }
    return out;
}

double similarity(const QString& a, const QString& b) {
    if (a.isEmpty() && b.isEmpty())
        return 1;
    std::vector<int> row(static_cast<size_t>(b.size()) + 1);
    for (qsizetype j = 0; j <= b.size(); ++j)
        row[static_cast<size_t>(j)] = static_cast<int>(j);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = static_cast<int>(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int above = row[static_cast<size_t>(j)];
            row[static_cast<size_t>(j)] = std::min({above + 1, row[static_cast<size_t>(j - 1)] + 1,
                                                    diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return 1.0 -
           static_cast<double>(row.back()) / static_cast<double>(std::max(a.size(), b.size()));
}

int peerCarry(const QStringList& from, int fromIndex, const QStringList& to) {
    const int last = static_cast<int>(to.size()) - 1;
    const int scaled =
        from.size() <= 1
            ? 0
            : static_cast<int>(static_cast<qint64>(fromIndex) * last / (from.size() - 1));
    const QString key = peerClean(from[fromIndex]);
    int best = -1;
    double bestScore = 0;
    for (int j = std::max(0, scaled - 10); j <= std::min(last, scaled + 10); ++j) {
        const double score = similarity(key, peerClean(to[j]));
        if (score > bestScore) {
            bestScore = score;
            best = j;
        }
    }
    if (best >= 0 && bestScore >= 0.8)
        return best;
    if (const int number = chapterNumber(from[fromIndex]); number > 0) {
        for (int j = 0; j <= last; ++j) {
            if (chapterNumber(to[j]) == number)
                return j;
        }
    }
    return std::clamp(scaled, 0, last);
}

// ---- the benchmark -----------------------------------------------------------------------------

struct Tally {
    int carried = 0;
    int same = 0;
    int past = 0;
    void add(int landed, int right) {
        ++carried;
        same += landed == right ? 1 : 0;
        past += landed > right ? 1 : 0;
    }
    double samePercent() const { return carried ? 100.0 * same / carried : 0; }
};

void BM_CarryEveryChapter(benchmark::State& state) {
    const QString folder = QStringLiteral(ZVRD_SOURCE_DIR "/../shared/realsites");
    QTemporaryDir data;
    setDataFolder(data.path());
    prepareLibrary();
    importRuleScript(QStringLiteral(ZVRD_SOURCE_DIR "/data/site_rules.sql"));
    const struct {
        const char* what;
        unsigned changes;
    } variants[] = {
        {"numbering + junk", kNumbering | kJunk},
        {"notes + volumes", kNotes | kVolumes},
        {"missing + merged", kMissing | kMerged},
        {"lagging", kLagging},
        {"all of them", kNumbering | kJunk | kNotes | kVolumes | kMissing | kMerged | kLagging},
    };
    std::vector<Pair> pairs;
    unsigned seed = 1;
    for (const RealList& real : kLists) {
        const QStringList list = realList(real, folder);
        if (list.isEmpty())
            continue;
        for (const auto& variant : variants)
            pairs.push_back(
                makePair(QString::fromUtf8(variant.what), list, variant.changes, seed++));
    }
    if (pairs.empty()) {
        state.SkipWithError("../shared/realsites is absent: no corpus");
        return;
    }
    Tally ours;
    Tally peer;
    std::map<QString, std::pair<Tally, Tally>> byChange;
    for (auto _ : state) {
        ours = Tally();
        peer = Tally();
        byChange.clear();
        for (const Pair& pair : pairs) {
            for (const bool forth : {true, false}) {
                const QStringList& from = forth ? pair.a : pair.b;
                const QStringList& to = forth ? pair.b : pair.a;
                const std::vector<int>& right = forth ? pair.aToB : pair.bToA;
                const PlaceCarrier carrier(from, to);
                auto& [oursHere, peerHere] = byChange[pair.what];
                for (int i = 0; i < from.size(); ++i) {
                    const int truth = right[static_cast<size_t>(i)];
                    const int landed = carrier.carry(i).index;
                    const int peerLanded = peerCarry(from, i, to);
                    ours.add(landed, truth);
                    oursHere.add(landed, truth);
                    peer.add(peerLanded, truth);
                    peerHere.add(peerLanded, truth);
                }
            }
        }
    }
    std::fprintf(stderr, "%-18s %8s %10s %6s %10s %6s\n", "changes", "places", "ours same", "past",
                 "peer same", "past");
    for (const auto& [what, tallies] : byChange)
        std::fprintf(stderr, "%-18s %8d %9.2f%% %6d %9.2f%% %6d\n", what.toUtf8().constData(),
                     tallies.first.carried, tallies.first.samePercent(), tallies.first.past,
                     tallies.second.samePercent(), tallies.second.past);
    std::fprintf(stderr, "%-18s %8d %9.2f%% %6d %9.2f%% %6d\n", "all pairs", ours.carried,
                 ours.samePercent(), ours.past, peer.samePercent(), peer.past);
    state.counters["places"] = ours.carried;
    state.counters["ours_same_pct"] = ours.samePercent();
    state.counters["ours_past"] = ours.past;
    state.counters["peer_same_pct"] = peer.samePercent();
    state.counters["peer_past"] = peer.past;
    setDataFolder(QString());
}
BENCHMARK(BM_CarryEveryChapter)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
