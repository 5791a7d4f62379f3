// store: 换源 in zvrd.db: novels the reader left for the same novel on another site
// (novel_switch), and what the library knows of a novel's sources (novel_source_state).
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

namespace zvrd {

// The reader left fromNovel (last read at fromIndex, -1: none) for toNovel, where the place
// became toIndex (-1: none). toNovel is no longer a novel left behind. One transaction.
void recordSwitch(int32_t fromNovel, int32_t toNovel, int32_t fromIndex, int32_t toIndex);
// Where a novel was left for; movedTo -1 when it was not.
struct SwitchRecord {
    int32_t movedTo = -1;
    int32_t fromIndex = -1;
    int32_t toIndex = -1;
};
SwitchRecord switchRecord(int32_t novelId);

// An update check of the novel failed, for the short reason failure (无法读取, 目录过短, ...)
// that its status failureText explains, or went through (failure empty): failures in a row are
// counted, the last one's reason kept.
void recordUpdateCheck(int32_t novelId, const QString& failure, const QString& failureText);
// A site seen listing more chapters of the novel than the library holds (empty: none).
void recordOtherSource(int32_t novelId, const QString& siteName, int32_t chapters);
struct SourceState {
    int32_t failedChecks = 0;
    QString otherSite;
    int32_t otherChapters = 0;
};
SourceState sourceState(int32_t novelId);

} // namespace zvrd
