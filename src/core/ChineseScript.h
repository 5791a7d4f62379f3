// core: chapter text, chapter names and tables of contents shown in simplified or traditional
// characters (never what is stored), through OpenCC's t2s and s2t configurations.
#pragma once

#include <QString>
#include <QStringList>

namespace zvrd {

enum class ChineseScript { Original, Simplified, Traditional };

// The text in that script; Original, or a conversion OpenCC cannot make, gives it unchanged.
// Markup passes through: OpenCC maps only Chinese characters.
QString inScript(const QString& text, ChineseScript script);
QStringList inScript(const QStringList& texts, ChineseScript script);

} // namespace zvrd
