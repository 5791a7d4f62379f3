// The pattern notation: alternatives, first and all matches, groups, options, limits, errors
// and removal lists.
#include "rules/PatternNotation.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <random>

using namespace zvrd;

namespace {

QString first(const QString& field, const QString& text, bool* found = nullptr) {
    return firstMatch(field, PatternSubject(text), found);
}

QStringList group1s(const QString& field, const QString& text) {
    return allGroup1(field, PatternSubject(text));
}

QString errorOf(const QString& field, const QString& text) {
    try {
        first(field, text);
    } catch (const RegexException& e) {
        return e.message();
    }
    return QString();
}

TEST(PatternNotationTest, AlternativesAreCutAtEveryBarAndEmptyPiecesDropped) {
    EXPECT_TRUE(splitAlternatives(QStringLiteral("|")).isEmpty());
    EXPECT_TRUE(splitAlternatives(QStringLiteral("||")).isEmpty());
    EXPECT_TRUE(splitAlternatives(QString()).isEmpty());
    EXPECT_EQ(splitAlternatives(QStringLiteral("a(.)||b(.)|")),
              (QStringList{QStringLiteral("a(.)"), QStringLiteral("b(.)")}));
    // No escape: a bar inside brackets cuts too, leaving two broken pieces.
    EXPECT_EQ(splitAlternatives(QStringLiteral("x[a|b]")),
              (QStringList{QStringLiteral("x[a"), QStringLiteral("b]")}));
    EXPECT_EQ(errorOf(QStringLiteral("x[a|b]"), QStringLiteral("zzz")),
              QStringLiteral("Error in regular expression at offset 3: missing terminating ] "
                             "for character class"));
}

TEST(PatternNotationTest, FieldWithoutPiecesFindsNothing) {
    bool found = true;
    EXPECT_EQ(first(QStringLiteral("||"), QStringLiteral("anything"), &found), QString());
    EXPECT_FALSE(found);
    EXPECT_TRUE(group1s(QString(), QStringLiteral("anything")).isEmpty());
}

TEST(PatternNotationTest, FirstMatchTakesTheFirstAlternativeThatMatches) {
    const QString page = QStringLiteral("<b>bold</b><i>italic</i>");
    EXPECT_EQ(first(QStringLiteral("<u>(.+?)</u>|<i>(.+?)</i>|<b>(.+?)</b>"), page),
              QStringLiteral("italic"));
    bool found = false;
    EXPECT_EQ(first(QStringLiteral("<b>(.+?)</b>"), page, &found), QStringLiteral("bold"));
    EXPECT_TRUE(found);
}

TEST(PatternNotationTest, AllMatchesComeInPageOrderFromTheFirstAlternativeThatYields) {
    const QString page = QStringLiteral("<a>1</a><a>2</a><b>x</b><a>3</a>");
    EXPECT_EQ(group1s(QStringLiteral("<c>(.+?)</c>|<a>(.+?)</a>|<b>(.+?)</b>"), page),
              (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
    // Matches never overlap: each search starts where the previous match ended.
    EXPECT_EQ(group1s(QStringLiteral("(aa)"), QStringLiteral("aaaaa")),
              (QStringList{QStringLiteral("aa"), QStringLiteral("aa")}));
}

TEST(PatternNotationTest, GroupsThatDoNotExistOrDidNotTakePartAreEmpty) {
    bool found = false;
    EXPECT_EQ(first(QStringLiteral("b"), QStringLiteral("abc"), &found), QString());
    EXPECT_TRUE(found);
    EXPECT_EQ(first(QStringLiteral("(x)?b"), QStringLiteral("abc"), &found), QString());
    EXPECT_TRUE(found);
    EXPECT_EQ(group1s(QStringLiteral("(x)?b"), QStringLiteral("bxb")),
              (QStringList{QString(), QStringLiteral("x")}));
}

TEST(PatternNotationTest, EmptyMatchesNeverCount) {
    bool found = true;
    EXPECT_EQ(first(QStringLiteral("x*"), QStringLiteral("abc"), &found), QString());
    EXPECT_FALSE(found);
    EXPECT_EQ(first(QStringLiteral("(x*)"), QStringLiteral("abxxc")), QStringLiteral("xx"));
    EXPECT_EQ(group1s(QStringLiteral("(x*)"), QStringLiteral("xaxxbx")),
              (QStringList{QStringLiteral("x"), QStringLiteral("xx"), QStringLiteral("x")}));
}

TEST(PatternNotationTest, DotMatchesLineBreaksAnchorsAreNotMultilineCaseCounts) {
    EXPECT_EQ(first(QStringLiteral("<p>(.+?)</p>"), QStringLiteral("<p>one\r\ntwo</p>")),
              QStringLiteral("one\r\ntwo"));
    bool found = true;
    first(QStringLiteral("^(two)"), QStringLiteral("one\ntwo"), &found);
    EXPECT_FALSE(found);
    first(QStringLiteral("<P>(.+?)</P>"), QStringLiteral("<p>x</p>"), &found);
    EXPECT_FALSE(found);
    // Any line break ends a line, a lone CR included: "$" matches before a final CR.
    first(QStringLiteral("(c)$"), QStringLiteral("abc\r"), &found);
    EXPECT_TRUE(found);
    first(QStringLiteral("(c)$"), QStringLiteral("abc\u2028"), &found);
    EXPECT_TRUE(found);
}

TEST(PatternNotationTest, PatternsWorkOnCharactersNotBytes) {
    EXPECT_EQ(first(QStringLiteral("作者：(.)"), QStringLiteral("作者：忘语")),
              QStringLiteral("忘"));
    EXPECT_EQ(first(QStringLiteral("([^<]{2})</h1>"), QStringLiteral("<h1>剑来</h1>")),
              QStringLiteral("剑来"));
}

TEST(PatternNotationTest, CompileErrorsCarryOffsetAndMessage) {
    EXPECT_EQ(
        errorOf(QStringLiteral("(abc"), QStringLiteral("abc")),
        QStringLiteral("Error in regular expression at offset 4: missing closing parenthesis"));
    // A later alternative is compiled only when the earlier ones did not match.
    EXPECT_EQ(errorOf(QStringLiteral("(b)|(c"), QStringLiteral("abc")), QString());
    EXPECT_FALSE(errorOf(QStringLiteral("(z)|(c"), QStringLiteral("abc")).isEmpty());
}

TEST(PatternNotationTest, CatastrophicPatternsHitTheLimitAndCountAsNoMatch) {
    const QString page = QString(30000, QLatin1Char('a')) + QLatin1Char('!');
    for (bool jit : {true, false}) {
        Regex::setJitEnabled(jit);
        bool found = true;
        EXPECT_EQ(first(QStringLiteral("((a+)+)b"), page, &found), QString());
        EXPECT_FALSE(found) << "jit " << jit;
        EXPECT_TRUE(group1s(QStringLiteral("(a*)*b"), page).isEmpty());
    }
    Regex::setJitEnabled(true);
}

TEST(PatternNotationTest, TrimRemovesControlsAndBlanksOnly) {
    EXPECT_EQ(trimControl(QStringLiteral(" \t\r\n 剑来 \r\n")), QStringLiteral("剑来"));
    EXPECT_EQ(trimControl(QStringLiteral("\x01x\x1f")), QStringLiteral("x"));
    EXPECT_EQ(trimControl(QStringLiteral("x\u3000")), QStringLiteral("x\u3000"));
    EXPECT_EQ(trimControl(QStringLiteral("\u00a0x")), QStringLiteral("\u00a0x"));
    EXPECT_EQ(trimControl(QStringLiteral("   ")), QString());
}

// The removal list, reference-checked: delete a match, search again where it began in the
// shortened text.
QString naiveRemoval(const QString& field, const QString& text) {
    QByteArray utf8 = text.toUtf8();
    for (const QString& piece : splitAlternatives(field)) {
        Regex re(piece);
        qsizetype pos = 0;
        qsizetype ms = 0;
        qsizetype me = 0;
        while (re.match(utf8, pos, nullptr, 0, &ms, &me)) {
            utf8.remove(ms, me - ms);
            pos = ms;
        }
    }
    return QString::fromUtf8(utf8);
}

TEST(RemovalListTest, PiecesApplyInOrderOnTheShortenedText) {
    EXPECT_EQ(applyRemovalList(QString(), QStringLiteral("keep")), QStringLiteral("keep"));
    EXPECT_EQ(applyRemovalList(QStringLiteral("zz|yy"), QStringLiteral("keep")),
              QStringLiteral("keep"));
    // "X" goes first, which joins "b" and "c" for the second piece.
    EXPECT_EQ(applyRemovalList(QStringLiteral("X|bc"), QStringLiteral("abXcd")),
              QStringLiteral("ad"));
    EXPECT_EQ(applyRemovalList(QStringLiteral("bc|X"), QStringLiteral("abXcd")),
              QStringLiteral("abcd"));
    // The search resumes where the deleted match began, so halves joined before it stay.
    EXPECT_EQ(applyRemovalList(QStringLiteral("<br>"), QStringLiteral("a<b<br>r>c")),
              QStringLiteral("a<br>c"));
    EXPECT_EQ(applyRemovalList(QStringLiteral("<br>"), QStringLiteral("<br><br>x<br>")),
              QStringLiteral("x"));
    EXPECT_EQ(applyRemovalList(QStringLiteral("‘|’"), QStringLiteral("转到‘胸’前")),
              QStringLiteral("转到胸前"));
    EXPECT_EQ(applyRemovalList(QStringLiteral(".+"), QStringLiteral("all of it")), QString());
}

TEST(RemovalListTest, PiecesThatCouldMatchNothingRemoveOnlyStretches) {
    EXPECT_EQ(applyRemovalList(QStringLiteral("x*"), QStringLiteral("axxbxc")),
              QStringLiteral("abc"));
    EXPECT_EQ(applyRemovalList(QStringLiteral("\\s*"), QStringLiteral(" a b ")),
              QStringLiteral("ab"));
}

TEST(RemovalListTest, LookbehindSeesTheTextBeforeTheDeletedMatch) {
    // Each "b" after "a" goes; after a deletion the next "b" stands after "a" again.
    EXPECT_EQ(applyRemovalList(QStringLiteral("(?<=a)b"), QStringLiteral("abbbcb")),
              QStringLiteral("acb"));
    EXPECT_EQ(applyRemovalList(QStringLiteral("\\bx"), QStringLiteral("a x xx")),
              QStringLiteral("a  "));
    EXPECT_EQ(applyRemovalList(QStringLiteral("^a"), QStringLiteral("aaab")), QStringLiteral("b"));
}

TEST(RemovalListTest, AgreesWithTheNaiveDefinitionOnRandomTexts) {
    const QStringList fields = {
        QStringLiteral("ab|ba"),    QStringLiteral("a+b?"),       QStringLiteral("(?<=a)b|c(?=a)"),
        QStringLiteral("\\bab\\b"), QStringLiteral("^b|a$"),      QStringLiteral("(?<=ab)a|b*"),
        QStringLiteral("中a|a文"),  QStringLiteral("(?<=中文)b"),
    };
    const QString alphabet = QStringLiteral("ab c中文");
    std::mt19937 rng(1234);
    for (int round = 0; round < 400; ++round) {
        QString text;
        const int len = static_cast<int>(rng() % 24);
        for (int i = 0; i < len; ++i)
            text +=
                alphabet[static_cast<qsizetype>(rng() % static_cast<unsigned>(alphabet.size()))];
        for (const QString& field : fields)
            ASSERT_EQ(applyRemovalList(field, text), naiveRemoval(field, text))
                << field.toStdString() << " on \"" << text.toStdString() << '"';
    }
}

// Plain text joined by "(.+?)" is matched without the regex engine; "(?:)" in front keeps the
// same pattern on the engine, which is the reference.
TEST(PatternNotationTest, PlainTextPatternsAgreeWithTheEngine) {
    const QStringList pieces = {
        QStringLiteral("a(.+?)b"),
        QStringLiteral("<d>(.+?)</d>"),
        QStringLiteral("中(.+?)文"),
        QStringLiteral("a(.+?)文(.+?)a"),
        QStringLiteral("ab"),
        QStringLiteral("文a"),
        QStringLiteral("b(.+?)b(.+?)b"),
        QStringLiteral("(.+?)a"),
        QStringLiteral("a(.+?)"),
    };
    const QString alphabet = QStringLiteral("ab<d>/中文\n");
    std::mt19937 rng(99);
    for (int round = 0; round < 600; ++round) {
        QString text;
        const int len = static_cast<int>(rng() % 30);
        for (int i = 0; i < len; ++i)
            text +=
                alphabet[static_cast<qsizetype>(rng() % static_cast<unsigned>(alphabet.size()))];
        const PatternSubject subject(text);
        for (const QString& piece : pieces) {
            const QString engine = QStringLiteral("(?:)") + piece;
            ASSERT_EQ(allMatchesOfPiece(piece, subject, 2), allMatchesOfPiece(engine, subject, 2))
                << piece.toStdString() << " on \"" << text.toStdString() << '"';
            ASSERT_EQ(applyRemovalList(piece, text), applyRemovalList(engine, text))
                << piece.toStdString() << " on \"" << text.toStdString() << '"';
        }
    }
    // Not plain text: escapes and other syntax still go to the engine.
    EXPECT_EQ(first(QStringLiteral("a\\.(.+?)c"), QStringLiteral("a.bc axbc")),
              QStringLiteral("b"));
    EXPECT_EQ(first(QStringLiteral("x(.+?)y"), QStringLiteral("x\r\ny")), QStringLiteral("\r\n"));
}

TEST(RemovalListTest, ManyDeletionsInALargeTextFinish) {
    QString text;
    for (int i = 0; i < 100000; ++i)
        text += QStringLiteral("字<i></i>");
    EXPECT_EQ(applyRemovalList(QStringLiteral("<i></i>"), text), QString(100000, QChar(0x5B57)));
}

} // namespace
