#include "rules/PatternNotation.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <vector>

namespace zvrd {
namespace {

// A real 1,800-link chapter list needs about 130,000 steps, so PCRE2's default match limit of
// 10,000,000 stays; the heap is capped so a hostile page cannot exhaust memory.
constexpr uint32_t kHeapLimitKiB = 64 * 1024;
constexpr size_t kJitStackStart = 32 * 1024;
constexpr size_t kJitStackMax = 4 * 1024 * 1024;

std::atomic<bool> gJitEnabled{true};

struct CodeFree {
    void operator()(pcre2_code* p) const { pcre2_code_free(p); }
};
struct CompileContextFree {
    void operator()(pcre2_compile_context* p) const { pcre2_compile_context_free(p); }
};
struct MatchContextFree {
    void operator()(pcre2_match_context* p) const { pcre2_match_context_free(p); }
};
struct MatchDataFree {
    void operator()(pcre2_match_data* p) const { pcre2_match_data_free(p); }
};
struct JitStackFree {
    void operator()(pcre2_jit_stack* p) const { pcre2_jit_stack_free(p); }
};

// One match context (limits, JIT stack) per thread, reused by every match on it.
pcre2_match_context* threadMatchContext() {
    thread_local std::unique_ptr<pcre2_jit_stack, JitStackFree> jitStack(
        pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr));
    thread_local std::unique_ptr<pcre2_match_context, MatchContextFree> context([] {
        pcre2_match_context* ctx = pcre2_match_context_create(nullptr);
        if (ctx)
            pcre2_set_heap_limit(ctx, kHeapLimitKiB);
        return ctx;
    }());
    if (context && jitStack)
        pcre2_jit_stack_assign(context.get(), nullptr, jitStack.get());
    return context.get();
}

QString utf8Range(const char* subject, PCRE2_SIZE start, PCRE2_SIZE end) {
    return QString::fromUtf8(subject + start, static_cast<qsizetype>(end - start));
}

// Groups first..last of a match appended to groups; one that is absent or unset is empty.
void appendGroups(const char* subject, const PCRE2_SIZE* ovector, uint32_t pairs, int rc, int first,
                  int last, QStringList* groups) {
    for (int i = first; i <= last; ++i) {
        const auto u = static_cast<uint32_t>(i);
        if (u < pairs && i < rc && ovector[2 * u] != PCRE2_UNSET &&
            ovector[2 * u + 1] >= ovector[2 * u])
            groups->append(utf8Range(subject, ovector[2 * u], ovector[2 * u + 1]));
        else
            groups->append(QString());
    }
}

// The current thread's page budget: no deadline outside a MatchBudget scope.
struct BudgetState {
    bool active = false;
    bool exhausted = false;
    std::chrono::steady_clock::time_point deadline;
};
thread_local BudgetState t_budget;

bool budgetExhausted() {
    if (!t_budget.active)
        return false;
    if (!t_budget.exhausted && std::chrono::steady_clock::now() > t_budget.deadline)
        t_budget.exhausted = true;
    return t_budget.exhausted;
}

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

RegexException::RegexException(const QString& message)
    : std::runtime_error(message.toStdString()), m_message(message) {}

MatchBudget::MatchBudget(int milliseconds) : m_outermost(!t_budget.active) {
    if (!m_outermost)
        return;
    t_budget.active = true;
    t_budget.exhausted = false;
    t_budget.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
}

MatchBudget::~MatchBudget() {
    if (m_outermost)
        t_budget = BudgetState();
}

bool MatchBudget::exhausted() const {
    return t_budget.exhausted;
}

struct Regex::Impl {
    std::unique_ptr<pcre2_code, CodeFree> code;
    // Set when the pattern is plain text pieces joined by "(.+?)" with DOTALL, the shape of most
    // regions and chapter texts: the UTF-8 pieces, matched by a plain search instead.
    std::vector<QByteArray> literals;
};

namespace {

bool isPlainLiteral(const QString& text) {
    static const QString special = QStringLiteral("\\^$.[]|()?*+{}");
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (special.contains(c))
            return false;
    }
    return true;
}

// "a(.+?)b(.+?)c" -> {"a", "b", "c"}, "ab" -> {"ab"}; empty unless every piece is plain,
// non-empty text.
std::vector<QByteArray> literalPieces(const QString& pattern) {
    const QStringList pieces = pattern.split(QStringLiteral("(.+?)"));
    std::vector<QByteArray> literals;
    for (const QString& piece : pieces) {
        if (!isPlainLiteral(piece))
            return {};
        literals.push_back(piece.toUtf8());
    }
    return literals;
}

// What PCRE2 answers for "L0(.+?)L1...(.+?)Lk" on valid UTF-8: the first L0 from start; each
// group takes at least one character and ends at the first following occurrence of the next
// piece. (Searching one byte on finds the same: a piece starts with a whole character.)
// Extending a group only moves the later searches right, and so does a later start, so
// when one search fails there is no match at all.
int matchLiterals(const std::vector<QByteArray>& literals, const char* subject, qsizetype length,
                  qsizetype start, PCRE2_SIZE* ovector) {
    const auto find = [&](qsizetype from, const QByteArray& piece) -> qsizetype {
        if (from > length)
            return -1;
        const void* hit = memmem(subject + from, static_cast<size_t>(length - from),
                                 piece.constData(), static_cast<size_t>(piece.size()));
        return hit ? static_cast<const char*>(hit) - subject : -1;
    };
    const qsizetype first = find(start, literals[0]);
    if (first < 0)
        return PCRE2_ERROR_NOMATCH;
    ovector[0] = static_cast<PCRE2_SIZE>(first);
    qsizetype pos = first + literals[0].size();
    for (size_t i = 1; i < literals.size(); ++i) {
        if (pos >= length)
            return PCRE2_ERROR_NOMATCH;
        const qsizetype end = find(pos + 1, literals[i]);
        if (end < 0)
            return PCRE2_ERROR_NOMATCH;
        ovector[2 * i] = static_cast<PCRE2_SIZE>(pos);
        ovector[2 * i + 1] = static_cast<PCRE2_SIZE>(end);
        pos = end + literals[i].size();
    }
    ovector[1] = static_cast<PCRE2_SIZE>(pos);
    return static_cast<int>(literals.size());
}

} // namespace

Regex::Regex(const QString& pattern, bool dotAll) : d(std::make_unique<Impl>()) {
    std::unique_ptr<pcre2_compile_context, CompileContextFree> ctx(
        pcre2_compile_context_create(nullptr));
    if (ctx)
        pcre2_set_newline(ctx.get(), PCRE2_NEWLINE_ANY);
    const QByteArray utf8 = pattern.toUtf8();
    int error = 0;
    PCRE2_SIZE offset = 0;
    const uint32_t options = PCRE2_UTF | (dotAll ? PCRE2_DOTALL : 0);
    d->code.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(utf8.constData()),
                                static_cast<PCRE2_SIZE>(utf8.size()), options, &error, &offset,
                                ctx.get()));
    if (!d->code) {
        PCRE2_UCHAR message[256] = {};
        pcre2_get_error_message(error, message, sizeof message);
        throw RegexException(QStringLiteral("Error in regular expression at offset ") +
                             QString::number(offset) + QStringLiteral(": ") +
                             QString::fromUtf8(reinterpret_cast<const char*>(message)));
    }
    if (gJitEnabled.load(std::memory_order_relaxed))
        pcre2_jit_compile(d->code.get(), PCRE2_JIT_COMPLETE); // without JIT support: interpreted
    if (dotAll)
        d->literals = literalPieces(pattern);
}

Regex::~Regex() = default;

void Regex::setJitEnabled(bool enabled) {
    gJitEnabled = enabled;
}

bool Regex::jitEnabled() {
    return gJitEnabled;
}

uint32_t Regex::maxLookbehind() const {
    uint32_t chars = 0;
    pcre2_pattern_info(d->code.get(), PCRE2_INFO_MAXLOOKBEHIND, &chars);
    return chars;
}

bool Regex::match(const QByteArray& subject, qsizetype start, QStringList* groups, int count,
                  qsizetype* matchStart, qsizetype* matchEnd) const {
    return run(subject.constData(), subject.size(), start, false, groups, count, matchStart,
               matchEnd);
}

bool Regex::matchTrusted(const char* subject, qsizetype length, qsizetype start,
                         QStringList* groups, int count, qsizetype* matchStart,
                         qsizetype* matchEnd) const {
    return run(subject, length, start, true, groups, count, matchStart, matchEnd);
}

int Regex::exec(const char* subject, qsizetype length, qsizetype start, bool trusted,
                void* matchData) const {
    if (start < 0 || start > length)
        return PCRE2_ERROR_BADOFFSET;
    if (budgetExhausted())
        return PCRE2_ERROR_MATCHLIMIT;
    auto* data = static_cast<pcre2_match_data*>(matchData);
    if (trusted && !d->literals.empty() &&
        pcre2_get_ovector_count(data) >= static_cast<uint32_t>(d->literals.size()))
        return matchLiterals(d->literals, subject, length, start, pcre2_get_ovector_pointer(data));
    const auto subj = reinterpret_cast<PCRE2_SPTR>(subject);
    const uint32_t options = PCRE2_NOTEMPTY | (trusted ? PCRE2_NO_UTF_CHECK : 0);
    int rc = pcre2_match(d->code.get(), subj, static_cast<PCRE2_SIZE>(length),
                         static_cast<PCRE2_SIZE>(start), options, data, threadMatchContext());
    if (rc == PCRE2_ERROR_JIT_STACKLIMIT) {
        // The JIT stack is bounded; the interpreter still has the heap limit.
        rc = pcre2_match(d->code.get(), subj, static_cast<PCRE2_SIZE>(length),
                         static_cast<PCRE2_SIZE>(start), options | PCRE2_NO_JIT, data,
                         threadMatchContext());
    }
    return rc; // negative: no match, or a limit was hit; both count as no match
}

bool Regex::matchGroupRange(const char* subject, qsizetype length, qsizetype start, int group,
                            qsizetype* groupStart, qsizetype* groupEnd) const {
    std::unique_ptr<pcre2_match_data, MatchDataFree> data(
        pcre2_match_data_create_from_pattern(d->code.get(), nullptr));
    if (!data)
        return false;
    const int rc = exec(subject, length, start, true, data.get());
    if (rc < 0)
        return false;
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
    const auto g = static_cast<uint32_t>(group);
    if (g < pcre2_get_ovector_count(data.get()) && group < rc && ovector[2 * g] != PCRE2_UNSET &&
        ovector[2 * g + 1] >= ovector[2 * g]) {
        *groupStart = static_cast<qsizetype>(ovector[2 * g]);
        *groupEnd = static_cast<qsizetype>(ovector[2 * g + 1]);
    } else {
        *groupStart = *groupEnd = -1;
    }
    return true;
}

bool Regex::run(const char* subject, qsizetype length, qsizetype start, bool trusted,
                QStringList* groups, int count, qsizetype* matchStart, qsizetype* matchEnd) const {
    std::unique_ptr<pcre2_match_data, MatchDataFree> data(
        pcre2_match_data_create_from_pattern(d->code.get(), nullptr));
    if (!data)
        return false;
    const int rc = exec(subject, length, start, trusted, data.get());
    if (rc < 0)
        return false;
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
    const uint32_t pairs = pcre2_get_ovector_count(data.get());
    if (matchStart)
        *matchStart = static_cast<qsizetype>(ovector[0]);
    if (matchEnd)
        *matchEnd = static_cast<qsizetype>(ovector[1]);
    if (groups) {
        groups->clear();
        appendGroups(subject, ovector, pairs, rc, 0, count - 1, groups);
    }
    return true;
}

QStringList splitAlternatives(const QString& field) {
    return field.split(QLatin1Char('|'), Qt::SkipEmptyParts);
}

QString firstMatch(const QString& field, const PatternSubject& subject, bool* found) {
    if (found)
        *found = false;
    const QByteArray& utf8 = subject.utf8();
    for (const QString& piece : splitAlternatives(field)) {
        Regex re(piece);
        QStringList groups;
        if (re.matchTrusted(utf8.constData(), utf8.size(), 0, &groups, 2, nullptr, nullptr)) {
            if (found)
                *found = true;
            return groups[1];
        }
    }
    return QString();
}

bool firstMatchBytes(const QString& field, const PatternSubject& subject, QByteArray* group1) {
    const QByteArray& utf8 = subject.utf8();
    for (const QString& piece : splitAlternatives(field)) {
        Regex re(piece);
        qsizetype start = 0;
        qsizetype end = 0;
        if (re.matchGroupRange(utf8.constData(), utf8.size(), 0, 1, &start, &end)) {
            *group1 = start < 0 ? QByteArray() : utf8.mid(start, end - start);
            return true;
        }
    }
    return false;
}

qsizetype Regex::forEachMatch(const QByteArray& subject, int groupCount,
                              const std::function<void(const QStringList&)>& visit) const {
    std::unique_ptr<pcre2_match_data, MatchDataFree> data(
        pcre2_match_data_create_from_pattern(d->code.get(), nullptr));
    if (!data)
        return 0;
    const uint32_t pairs = pcre2_get_ovector_count(data.get());
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
    QStringList groups; // reused: one allocation for the whole list, not one per match
    groups.reserve(groupCount);
    qsizetype count = 0;
    qsizetype start = 0;
    for (;;) {
        const int rc = exec(subject.constData(), subject.size(), start, true, data.get());
        if (rc < 0)
            break;
        groups.clear();
        appendGroups(subject.constData(), ovector, pairs, rc, 1, groupCount, &groups);
        ++count;
        visit(groups);
        const auto end = static_cast<qsizetype>(ovector[1]);
        if (end <= start)
            break; // cannot happen with NOTEMPTY; never loop on the same spot
        start = end;
    }
    return count;
}

QList<QStringList> Regex::matchAll(const QByteArray& subject, int groupCount) const {
    QList<QStringList> matches;
    forEachMatch(subject, groupCount, [&](const QStringList& groups) { matches.append(groups); });
    return matches;
}

qsizetype forEachMatchOfPiece(const QString& piece, const PatternSubject& subject, int groupCount,
                              const std::function<void(const QStringList&)>& visit) {
    return Regex(piece).forEachMatch(subject.utf8(), groupCount, visit);
}

QList<QStringList> allMatchesOfPiece(const QString& piece, const PatternSubject& subject,
                                     int groupCount) {
    return Regex(piece).matchAll(subject.utf8(), groupCount);
}

QList<QStringList> allMatches(const QString& field, const PatternSubject& subject, int groupCount) {
    for (const QString& piece : splitAlternatives(field)) {
        QList<QStringList> matches = allMatchesOfPiece(piece, subject, groupCount);
        if (!matches.isEmpty())
            return matches;
    }
    return {};
}

QStringList allGroup1(const QString& field, const PatternSubject& subject) {
    QStringList values;
    for (const QStringList& groups : allMatches(field, subject, 1))
        values.append(groups[0]);
    return values;
}

namespace {

// Deletes every match of re from text. After a deletion the search resumes where the match
// began, in the shortened text. Instead of shifting the rest of the text after every deletion,
// the tail of what was kept (as much as the pattern can look behind) is copied right before the
// resume point, so the engine sees exactly the shortened text there: linear in the text size.
QByteArray removeAllMatches(const Regex& re, QByteArray text) {
    const qsizetype context = static_cast<qsizetype>(re.maxLookbehind()) * 4 + 4;
    QByteArray kept;
    kept.reserve(text.size());
    char* buf = text.data();
    const qsizetype n = text.size();
    qsizetype cur = 0;
    for (;;) {
        qsizetype tail = std::min(kept.size(), context);
        while (tail < kept.size() && isContinuationByte(kept[kept.size() - tail]))
            ++tail;
        // Everything before cur is either kept or deleted, so those bytes may be overwritten.
        std::memcpy(buf + cur - tail, kept.constData() + kept.size() - tail,
                    static_cast<size_t>(tail));
        qsizetype ms = 0;
        qsizetype me = 0;
        if (!re.matchTrusted(buf + cur - tail, n - cur + tail, tail, nullptr, 0, &ms, &me))
            break;
        ms += cur - tail;
        me += cur - tail;
        ms = std::max(ms, cur);
        if (me <= cur)
            break;
        kept.append(buf + cur, ms - cur);
        cur = me;
    }
    kept.append(buf + cur, n - cur);
    return kept;
}

} // namespace

QString applyRemovalList(const QString& field, const QString& text) {
    const QStringList pieces = splitAlternatives(field);
    if (pieces.isEmpty())
        return text;
    QByteArray utf8 = text.toUtf8();
    for (const QString& piece : pieces) {
        Regex re(piece);
        utf8 = removeAllMatches(re, std::move(utf8));
    }
    return QString::fromUtf8(utf8);
}

} // namespace zvrd
