// The pattern notation of a rule field on any page: a broken piece fails as RegexException,
// never otherwise; a first match is text of the page; a removal list only takes text away; all
// of it ends within the page's match budget (libFuzzer's time-out catches one that does not).
#include "FuzzSupport.h"
#include "rules/PatternNotation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto [fieldBytes, pageBytes] = zvrd::fuzz::cut(zvrd::fuzz::bytes(data, size));
    const QString field = QString::fromUtf8(fieldBytes);
    const QString page = QString::fromUtf8(pageBytes);
    const zvrd::PatternSubject subject(page);
    try {
        const zvrd::MatchBudget budget;
        bool found = false;
        const QString first = zvrd::firstMatch(field, subject, &found);
        FUZZ_CHECK(found || first.isEmpty(), "nothing without a match");
        FUZZ_CHECK(page.contains(first), "a first match is text of the page");
        for (const QStringList& groups : zvrd::allMatches(field, subject, 2)) {
            FUZZ_CHECK(groups.size() == 2, "each match has the groups asked for");
            for (const QString& group : groups)
                FUZZ_CHECK(page.contains(group), "every group is text of the page");
        }
        FUZZ_CHECK(zvrd::applyRemovalList(field, page).size() <= page.size(),
                   "a removal list only takes away");
    } catch (const zvrd::RegexException&) {
        // A piece PCRE2 cannot compile: said to the rule's author, nothing else.
    }
    return 0;
}
