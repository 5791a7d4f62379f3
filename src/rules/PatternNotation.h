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
class ERegexException : public std::runtime_error {
public:
    explicit ERegexException(const QString& message);
    QString Message() const { return fMessage; }

private:
    QString fMessage;
};

// The field cut at every "|"; empty pieces are dropped.
QStringList SplitAlternatives(const QString& field);

// A subject converted to UTF-8 once, for all the patterns applied to it.
class TPatternSubject {
public:
    explicit TPatternSubject(const QString& text) : fUtf8(text.toUtf8()) {}
    // Bytes that are already valid UTF-8 (a region cut from another subject).
    static TPatternSubject FromUtf8(QByteArray utf8) {
        TPatternSubject s;
        s.fUtf8 = std::move(utf8);
        return s;
    }
    const QByteArray& Utf8() const { return fUtf8; }

private:
    TPatternSubject() = default;
    QByteArray fUtf8;
};

// One compiled piece. Matches that hit PCRE2's match, depth or heap limit count as no match.
class TRegex {
public:
    // Options beyond UTF: DOTALL for rule patterns; the picture pattern goes without.
    explicit TRegex(const QString& pattern, bool dotAll = true);
    ~TRegex();
    TRegex(const TRegex&) = delete;
    TRegex& operator=(const TRegex&) = delete;

    // Searches subject from byte offset start; on a match fills groups 0..count-1 (an absent or
    // unset group is empty) and the byte range of the whole match.
    bool Match(const QByteArray& subject, qsizetype start, QStringList* groups, int count,
               qsizetype* matchStart = nullptr, qsizetype* matchEnd = nullptr) const;
    // Like Match on a subject that was already checked as valid UTF-8.
    bool MatchTrusted(const char* subject, qsizetype length, qsizetype start, QStringList* groups,
                      int count, qsizetype* matchStart, qsizetype* matchEnd) const;
    // Every match of a valid UTF-8 subject from its start, each search beginning where the
    // previous match ended; each entry holds groups 1..groupCount.
    QList<QStringList> MatchAll(const QByteArray& subject, int groupCount) const;
    // The same matches handed to visit one by one (the list is reused between calls); returns
    // their number.
    qsizetype ForEachMatch(const QByteArray& subject, int groupCount,
                           const std::function<void(const QStringList&)>& visit) const;
    // Like MatchTrusted, giving only the byte range of one group (-1, -1 when it is unset).
    bool MatchGroupRange(const char* subject, qsizetype length, qsizetype start, int group,
                         qsizetype* groupStart, qsizetype* groupEnd) const;
    // The longest lookbehind of the pattern, in characters.
    uint32_t MaxLookbehind() const;

    // JIT compilation is on by default; the benchmarks compare both.
    static void SetJitEnabled(bool enabled);
    static bool JitEnabled();

private:
    int Exec(const char* subject, qsizetype length, qsizetype start, bool trusted,
             void* matchData) const;
    bool Run(const char* subject, qsizetype length, qsizetype start, bool trusted,
             QStringList* groups, int count, qsizetype* matchStart, qsizetype* matchEnd) const;

    struct Impl;
    std::unique_ptr<Impl> d;
};

// First match: the first alternative that matches wins; found tells whether any did.
QString FirstMatch(const QString& field, const TPatternSubject& subject, bool* found = nullptr);

// First match, group 1 as UTF-8 bytes of the subject (for regions, which are searched again).
bool FirstMatchBytes(const QString& field, const TPatternSubject& subject, QByteArray* group1);

// All matches of one piece, from the start, each search beginning where the previous match ended;
// each entry holds groups 1..groupCount.
QList<QStringList> AllMatchesOfPiece(const QString& piece, const TPatternSubject& subject,
                                     int groupCount);

// Like AllMatchesOfPiece, handing each match to visit instead of collecting them.
qsizetype ForEachMatchOfPiece(const QString& piece, const TPatternSubject& subject, int groupCount,
                              const std::function<void(const QStringList&)>& visit);

// All matches: the first alternative that yields at least one match wins.
QList<QStringList> AllMatches(const QString& field, const TPatternSubject& subject, int groupCount);

// Group 1 of every match of the field (all-matches); empty when nothing matched.
QStringList AllGroup1(const QString& field, const TPatternSubject& subject);

// Deletes every match of every piece of a removal list, piece by piece; after each deletion the
// search resumes where the deleted match began, in the shortened text.
QString ApplyRemovalList(const QString& field, const QString& text);

} // namespace zvrd
