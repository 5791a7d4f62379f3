// The pattern notation: alternatives, first and all matches, groups, options, limits, errors
// and removal lists.
#include "rules/PatternNotation.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <random>

using namespace zvrd;

namespace {

QString First(const QString& field, const QString& text, bool* found = nullptr) {
    return FirstMatch(field, TPatternSubject(text), found);
}

QStringList Group1s(const QString& field, const QString& text) {
    return AllGroup1(field, TPatternSubject(text));
}

QString ErrorOf(const QString& field, const QString& text) {
    try {
        First(field, text);
    } catch (const ERegexException& e) {
        return e.Message();
    }
    return QString();
}

TEST(PatternNotationTest, AlternativesAreCutAtEveryBarAndEmptyPiecesDropped) {
    EXPECT_TRUE(SplitAlternatives(QStringLiteral("|")).isEmpty());
    EXPECT_TRUE(SplitAlternatives(QStringLiteral("||")).isEmpty());
    EXPECT_TRUE(SplitAlternatives(QString()).isEmpty());
    EXPECT_EQ(SplitAlternatives(QStringLiteral("a(.)||b(.)|")),
              (QStringList{QStringLiteral("a(.)"), QStringLiteral("b(.)")}));
    // No escape: a bar inside brackets cuts too, leaving two broken pieces.
    EXPECT_EQ(SplitAlternatives(QStringLiteral("x[a|b]")),
              (QStringList{QStringLiteral("x[a"), QStringLiteral("b]")}));
    EXPECT_EQ(ErrorOf(QStringLiteral("x[a|b]"), QStringLiteral("zzz")),
              QStringLiteral("Error in regular expression at offset 3: missing terminating ] "
                             "for character class"));
}

TEST(PatternNotationTest, FieldWithoutPiecesFindsNothing) {
    bool found = true;
    EXPECT_EQ(First(QStringLiteral("||"), QStringLiteral("anything"), &found), QString());
    EXPECT_FALSE(found);
    EXPECT_TRUE(Group1s(QString(), QStringLiteral("anything")).isEmpty());
}

TEST(PatternNotationTest, FirstMatchTakesTheFirstAlternativeThatMatches) {
    const QString page = QStringLiteral("<b>bold</b><i>italic</i>");
    EXPECT_EQ(First(QStringLiteral("<u>(.+?)</u>|<i>(.+?)</i>|<b>(.+?)</b>"), page),
              QStringLiteral("italic"));
    bool found = false;
    EXPECT_EQ(First(QStringLiteral("<b>(.+?)</b>"), page, &found), QStringLiteral("bold"));
    EXPECT_TRUE(found);
}

TEST(PatternNotationTest, AllMatchesComeInPageOrderFromTheFirstAlternativeThatYields) {
    const QString page = QStringLiteral("<a>1</a><a>2</a><b>x</b><a>3</a>");
    EXPECT_EQ(Group1s(QStringLiteral("<c>(.+?)</c>|<a>(.+?)</a>|<b>(.+?)</b>"), page),
              (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
    // Matches never overlap: each search starts where the previous match ended.
    EXPECT_EQ(Group1s(QStringLiteral("(aa)"), QStringLiteral("aaaaa")),
              (QStringList{QStringLiteral("aa"), QStringLiteral("aa")}));
}

TEST(PatternNotationTest, GroupsThatDoNotExistOrDidNotTakePartAreEmpty) {
    bool found = false;
    EXPECT_EQ(First(QStringLiteral("b"), QStringLiteral("abc"), &found), QString());
    EXPECT_TRUE(found);
    EXPECT_EQ(First(QStringLiteral("(x)?b"), QStringLiteral("abc"), &found), QString());
    EXPECT_TRUE(found);
    EXPECT_EQ(Group1s(QStringLiteral("(x)?b"), QStringLiteral("bxb")),
              (QStringList{QString(), QStringLiteral("x")}));
}

TEST(PatternNotationTest, EmptyMatchesNeverCount) {
    bool found = true;
    EXPECT_EQ(First(QStringLiteral("x*"), QStringLiteral("abc"), &found), QString());
    EXPECT_FALSE(found);
    EXPECT_EQ(First(QStringLiteral("(x*)"), QStringLiteral("abxxc")), QStringLiteral("xx"));
    EXPECT_EQ(Group1s(QStringLiteral("(x*)"), QStringLiteral("xaxxbx")),
              (QStringList{QStringLiteral("x"), QStringLiteral("xx"), QStringLiteral("x")}));
}

TEST(PatternNotationTest, DotMatchesLineBreaksAnchorsAreNotMultilineCaseCounts) {
    EXPECT_EQ(First(QStringLiteral("<p>(.+?)</p>"), QStringLiteral("<p>one\r\ntwo</p>")),
              QStringLiteral("one\r\ntwo"));
    bool found = true;
    First(QStringLiteral("^(two)"), QStringLiteral("one\ntwo"), &found);
    EXPECT_FALSE(found);
    First(QStringLiteral("<P>(.+?)</P>"), QStringLiteral("<p>x</p>"), &found);
    EXPECT_FALSE(found);
    // Any line break ends a line, a lone CR included: "$" matches before a final CR.
    First(QStringLiteral("(c)$"), QStringLiteral("abc\r"), &found);
    EXPECT_TRUE(found);
    First(QStringLiteral("(c)$"), QStringLiteral("abc\u2028"), &found);
    EXPECT_TRUE(found);
}

TEST(PatternNotationTest, PatternsWorkOnCharactersNotBytes) {
    EXPECT_EQ(First(QStringLiteral("作者：(.)"), QStringLiteral("作者：忘语")),
              QStringLiteral("忘"));
    EXPECT_EQ(First(QStringLiteral("([^<]{2})</h1>"), QStringLiteral("<h1>剑来</h1>")),
              QStringLiteral("剑来"));
}

TEST(PatternNotationTest, CompileErrorsCarryOffsetAndMessage) {
    EXPECT_EQ(
        ErrorOf(QStringLiteral("(abc"), QStringLiteral("abc")),
        QStringLiteral("Error in regular expression at offset 4: missing closing parenthesis"));
    // A later alternative is compiled only when the earlier ones did not match.
    EXPECT_EQ(ErrorOf(QStringLiteral("(b)|(c"), QStringLiteral("abc")), QString());
    EXPECT_FALSE(ErrorOf(QStringLiteral("(z)|(c"), QStringLiteral("abc")).isEmpty());
}

TEST(PatternNotationTest, CatastrophicPatternsHitTheLimitAndCountAsNoMatch) {
    const QString page = QString(30000, QLatin1Char('a')) + QLatin1Char('!');
    for (bool jit : {true, false}) {
        TRegex::SetJitEnabled(jit);
        bool found = true;
        EXPECT_EQ(First(QStringLiteral("((a+)+)b"), page, &found), QString());
        EXPECT_FALSE(found) << "jit " << jit;
        EXPECT_TRUE(Group1s(QStringLiteral("(a*)*b"), page).isEmpty());
    }
    TRegex::SetJitEnabled(true);
}

TEST(PatternNotationTest, TrimRemovesControlsAndBlanksOnly) {
    EXPECT_EQ(TrimControl(QStringLiteral(" \t\r\n 剑来 \r\n")), QStringLiteral("剑来"));
    EXPECT_EQ(TrimControl(QStringLiteral("\x01x\x1f")), QStringLiteral("x"));
    EXPECT_EQ(TrimControl(QStringLiteral("x\u3000")), QStringLiteral("x\u3000"));
    EXPECT_EQ(TrimControl(QStringLiteral("\u00a0x")), QStringLiteral("\u00a0x"));
    EXPECT_EQ(TrimControl(QStringLiteral("   ")), QString());
}

// The removal list, reference-checked: delete a match, search again where it began in the
// shortened text.
QString NaiveRemoval(const QString& field, const QString& text) {
    QByteArray utf8 = text.toUtf8();
    for (const QString& piece : SplitAlternatives(field)) {
        TRegex re(piece);
        qsizetype pos = 0;
        qsizetype ms = 0;
        qsizetype me = 0;
        while (re.Match(utf8, pos, nullptr, 0, &ms, &me)) {
            utf8.remove(ms, me - ms);
            pos = ms;
        }
    }
    return QString::fromUtf8(utf8);
}

TEST(RemovalListTest, PiecesApplyInOrderOnTheShortenedText) {
    EXPECT_EQ(ApplyRemovalList(QString(), QStringLiteral("keep")), QStringLiteral("keep"));
    EXPECT_EQ(ApplyRemovalList(QStringLiteral("zz|yy"), QStringLiteral("keep")),
              QStringLiteral("keep"));
    // "X" goes first, which joins "b" and "c" for the second piece.
    EXPECT_EQ(ApplyRemovalList(QStringLiteral("X|bc"), QStringLiteral("abXcd")),
              QStringLiteral("ad"));
    EXPECT_EQ(ApplyRemovalList(QStringLiteral("bc|X"), QStringLiteral("abXcd")),
              QStringLiteral("abcd"));
    // The search resumes where the deleted match began, so halves joined before it stay.
    EXPECT_EQ(ApplyRemovalList(QStringLiteral("<br>"), QStringLiteral("a<b<br>r>c")),
              QStringLiteral("a<br>c"));
    EXPECT_EQ(ApplyRemovalList(QStringLiteral("<br>"), QStringLiteral("<br><br>x<br>")),
              QStringLiteral("x"));
    EXPECT_EQ(ApplyRemovalList(QStringLiteral("‘|’"), QStringLiteral("转到‘胸’前")),
              QStringLiteral("转到胸前"));
    EXPECT_EQ(ApplyRemovalList(QStringLiteral(".+"), QStringLiteral("all of it")), QString());
}

TEST(RemovalListTest, PiecesThatCouldMatchNothingRemoveOnlyStretches) {
    EXPECT_EQ(ApplyRemovalList(QStringLiteral("x*"), QStringLiteral("axxbxc")),
              QStringLiteral("abc"));
    EXPECT_EQ(ApplyRemovalList(QStringLiteral("\\s*"), QStringLiteral(" a b ")),
              QStringLiteral("ab"));
}

TEST(RemovalListTest, LookbehindSeesTheTextBeforeTheDeletedMatch) {
    // Each "b" after "a" goes; after a deletion the next "b" stands after "a" again.
    EXPECT_EQ(ApplyRemovalList(QStringLiteral("(?<=a)b"), QStringLiteral("abbbcb")),
              QStringLiteral("acb"));
    EXPECT_EQ(ApplyRemovalList(QStringLiteral("\\bx"), QStringLiteral("a x xx")),
              QStringLiteral("a  "));
    EXPECT_EQ(ApplyRemovalList(QStringLiteral("^a"), QStringLiteral("aaab")), QStringLiteral("b"));
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
            ASSERT_EQ(ApplyRemovalList(field, text), NaiveRemoval(field, text))
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
        const TPatternSubject subject(text);
        for (const QString& piece : pieces) {
            const QString engine = QStringLiteral("(?:)") + piece;
            ASSERT_EQ(AllMatchesOfPiece(piece, subject, 2), AllMatchesOfPiece(engine, subject, 2))
                << piece.toStdString() << " on \"" << text.toStdString() << '"';
            ASSERT_EQ(ApplyRemovalList(piece, text), ApplyRemovalList(engine, text))
                << piece.toStdString() << " on \"" << text.toStdString() << '"';
        }
    }
    // Not plain text: escapes and other syntax still go to the engine.
    EXPECT_EQ(First(QStringLiteral("a\\.(.+?)c"), QStringLiteral("a.bc axbc")),
              QStringLiteral("b"));
    EXPECT_EQ(First(QStringLiteral("x(.+?)y"), QStringLiteral("x\r\ny")), QStringLiteral("\r\n"));
}

TEST(RemovalListTest, ManyDeletionsInALargeTextFinish) {
    QString text;
    for (int i = 0; i < 100000; ++i)
        text += QStringLiteral("字<i></i>");
    EXPECT_EQ(ApplyRemovalList(QStringLiteral("<i></i>"), text), QString(100000, QChar(0x5B57)));
}

} // namespace
