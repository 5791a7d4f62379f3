#include "app/SourceSwitchDialog.h"

#include "sites/DialogSaving.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace zvrd {

SourceSwitchDialog::SourceSwitchDialog(const QString& novelName,
                                       const QList<SourceCandidate>& candidates, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("换源：%1").arg(novelName));
    m_list = new QTableWidget(static_cast<int>(candidates.size()), 6, this);
    m_list->setHorizontalHeaderLabels({QStringLiteral("目标站"), QStringLiteral("小说名称"),
                                       QStringLiteral("作者"), QStringLiteral("最新章节"),
                                       QStringLiteral("章节数"), QStringLiteral("响应")});
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->verticalHeader()->setVisible(false);
    m_list->horizontalHeader()->setStretchLastSection(true);
    int first = -1;
    for (int row = 0; row < candidates.size(); ++row) {
        const SourceCandidate& c = candidates[row];
        const QString cells[] = {c.siteName,
                                 c.info.name,
                                 c.sameAuthor ? c.info.author
                                              : c.info.author + QStringLiteral("（作者不同）"),
                                 c.info.latestChapter,
                                 QString::number(c.list.count),
                                 QStringLiteral("%1 毫秒").arg(c.answerMs)};
        for (int column = 0; column < 6; ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            if (!c.sameAuthor)
                item->setForeground(palette().placeholderText());
            m_list->setItem(row, column, item);
        }
        if (first < 0 && c.sameAuthor)
            first = row;
    }
    m_list->resizeColumnsToContents();
    if (first >= 0)
        m_list->selectRow(first);

    QDialogButtonBox* buttons = dialogButtons(this, QStringLiteral("换到这里"));
    connect(m_list, &QTableWidget::cellDoubleClicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        QStringLiteral(
            "同一本书在其他目标站的情况；换过去后阅读位置跟着走，原站已下载的章节保留。"),
        this));
    layout->addWidget(m_list, 1);
    layout->addWidget(buttons);
    resize(720, 300);
}

int SourceSwitchDialog::chosen() const {
    const QList<QTableWidgetItem*> selected = m_list->selectedItems();
    return selected.isEmpty() ? -1 : selected.first()->row();
}

} // namespace zvrd
