// The fuzz targets' common ground: a property that fails stops the run with its input kept,
// and the ways the targets cut one input into several.
#pragma once

#include "core/DataFolder.h"
#include "rules/RuleSet.h"
#include "store/Schema.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

// Like assert, in every build: libFuzzer keeps the input that made it fail.
#define FUZZ_CHECK(condition, what)                                                                \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "property failed: %s (%s:%d)\n", what, __FILE__, __LINE__);       \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace zvrd::fuzz {

inline QByteArray bytes(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// The input cut at its first NUL (the dictionaries' separator): what comes before and after.
inline std::pair<QByteArray, QByteArray> cut(const QByteArray& input) {
    const qsizetype at = input.indexOf('\0');
    if (at < 0)
        return {input, QByteArray()};
    return {input.left(at), input.mid(at + 1)};
}

// A data folder of its own for the whole run, with the shipped rules in it.
inline const SiteRuleList& shippedRules() {
    static QTemporaryDir folder;
    static const SiteRuleList rules = [] {
        setDataFolder(folder.path());
        prepareLibrary();
        installShippedRules(QStringLiteral(ZVRD_SOURCE_DIR "/data/site_rules.sql"));
        return loadSiteRules();
    }();
    return rules;
}

} // namespace zvrd::fuzz
