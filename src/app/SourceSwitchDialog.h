// app: the 换源 list: the same novel on the reader's other sites, the best first.
#pragma once

#include "workers/SourceSwitch.h"

#include <QDialog>

class QTableWidget;

namespace zvrd {

class SourceSwitchDialog : public QDialog {
    Q_OBJECT
public:
    // One row per candidate (site, name, author, latest chapter, chapters, answer time); the
    // first of the same author is chosen, one of another author is marked and never chosen
    // for the reader.
    SourceSwitchDialog(const QString& novelName, const QList<SourceCandidate>& candidates,
                       QWidget* parent = nullptr);
    // The chosen row, -1 for none.
    int chosen() const;
    QTableWidget* list() const { return m_list; }

private:
    QTableWidget* m_list = nullptr;
};

} // namespace zvrd
