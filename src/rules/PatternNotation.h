// rules: the pattern notation of rule fields: alternatives cut at "|", PCRE2 pieces matched in
// UTF-8 with DOTALL and newline ANY, NOTEMPTY matches, first-match, all-matches and removal lists.
#pragma once

#include "core/Text.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>

namespace zvrd {

// A piece that PCRE2 cannot compile: "Error in regular expression at offset %d: %s".
class RegexException : public std::runtime_error {
public:
    explicit RegexException(const QString& message);
    QString message() const { return m_message; }

private:
    QString m_message;
};

// A time budget for all matching done on one page by this thread: one slow pattern on a long page
// cannot hold a worker for minutes (PCRE2's match limit bounds one match, not thousands of them).
// Scopes nest; the outermost one sets the deadline. Once it has passed, every further match on
// this thread fails as no match until the outermost scope ends.
class MatchBudget {
public:
    static constexpr int kPageMilliseconds = 2000;
    explicit MatchBudget(int milliseconds = kPageMilliseconds);
    ~MatchBudget();
    MatchBudget(const MatchBudget&) = delete;
    MatchBudget& operator=(const MatchBudget&) = delete;

    // Whether the deadline passed while matching.
    bool exhausted() const;

private:
    bool m_outermost;
};

// The field cut at every "|"; empty pieces are dropped.
QStringList splitAlternatives(const QString& field);

// A subject converted to UTF-8 once, for all the patterns applied to it.
class PatternSubject {
public:
    explicit PatternSubject(const QString& text) : m_utf8(text.toUtf8()) {}
    // Bytes that are already valid UTF-8 (a region cut from another subject).
    static PatternSubject fromUtf8(QByteArray utf8) {
        PatternSubject s;
        s.m_utf8 = std::move(utf8);
        return s;
    }
    const QByteArray& utf8() const { return m_utf8; }

private:
    PatternSubject() = default;
    QByteArray m_utf8;
};

// One compiled piece. Matches that hit PCRE2's match, depth or heap limit count as no match.
class Regex {
public:
    // Options beyond UTF: DOTALL for rule patterns; the picture pattern goes without.
    explicit Regex(const QString& pattern, bool dotAll = true);
    ~Regex();
    Regex(const Regex&) = delete;
    Regex& operator=(const Regex&) = delete;

    // Searches subject from byte offset start; on a match fills groups 0..count-1 (an absent or
    // unset group is empty) and the byte range of the whole match.
    bool match(const QByteArray& subject, qsizetype start, QStringList* groups, int count,
               qsizetype* matchStart = nullptr, qsizetype* matchEnd = nullptr) const;
    // Like Match on a subject that was already checked as valid UTF-8.
    bool matchTrusted(const char* subject, qsizetype length, qsizetype start, QStringList* groups,
                      int count, qsizetype* matchStart, qsizetype* matchEnd) const;
    // Every match of a valid UTF-8 subject from its start, each search beginning where the
    // previous match ended; each entry holds groups 1..groupCount.
    QList<QStringList> matchAll(const QByteArray& subject, int groupCount) const;
    // The same matches handed to visit one by one (the list is reused between calls); returns
    // their number.
    qsizetype forEachMatch(const QByteArray& subject, int groupCount,
                           const std::function<void(const QStringList&)>& visit) const;
    // Like matchTrusted, giving only the byte range of one group (-1, -1 when it is unset).
    bool matchGroupRange(const char* subject, qsizetype length, qsizetype start, int group,
                         qsizetype* groupStart, qsizetype* groupEnd) const;
    // The longest lookbehind of the pattern, in characters.
    uint32_t maxLookbehind() const;

    // JIT compilation is on by default; the benchmarks compare both.
    static void setJitEnabled(bool enabled);
    static bool jitEnabled();

private:
    int exec(const char* subject, qsizetype length, qsizetype start, bool trusted,
             void* matchData) const;
    bool run(const char* subject, qsizetype length, qsizetype start, bool trusted,
             QStringList* groups, int count, qsizetype* matchStart, qsizetype* matchEnd) const;

    struct Impl;
    std::unique_ptr<Impl> d;
};

// First match: the first alternative that matches wins; found tells whether any did.
QString firstMatch(const QString& field, const PatternSubject& subject, bool* found = nullptr);

// First match, group 1 as UTF-8 bytes of the subject (for regions, which are searched again).
bool firstMatchBytes(const QString& field, const PatternSubject& subject, QByteArray* group1);

// All matches of one piece, from the start, each search beginning where the previous match ended;
// each entry holds groups 1..groupCount.
QList<QStringList> allMatchesOfPiece(const QString& piece, const PatternSubject& subject,
                                     int groupCount);

// Like allMatchesOfPiece, handing each match to visit instead of collecting them.
qsizetype forEachMatchOfPiece(const QString& piece, const PatternSubject& subject, int groupCount,
                              const std::function<void(const QStringList&)>& visit);

// All matches: the first alternative that yields at least one match wins.
QList<QStringList> allMatches(const QString& field, const PatternSubject& subject, int groupCount);

// Group 1 of every match of the field (all-matches); empty when nothing matched.
QStringList allGroup1(const QString& field, const PatternSubject& subject);

// Deletes every match of every piece of a removal list, piece by piece; after each deletion the
// search resumes where the deleted match began, in the shortened text.
QString applyRemovalList(const QString& field, const QString& text);

} // namespace zvrd
