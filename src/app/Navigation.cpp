// The commands that turn clicks into reading: search, opening a novel from the result list,
// following a chapter link in the page view, and listing the recent reads.
#include "app/FrmMain.h"

#include "app/PageView.h"
#include "core/AppFolder.h"
#include "pages/PageRenderer.h"
#include "rules/Extractors.h"
#include "sites/TargetSiteSet.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "workers/DirectoryThread.h"
#include "workers/GatedSurface.h"
#include "workers/SearchThread.h"

#include <QMessageBox>
#include <QTableWidget>

namespace zvrd {

namespace {

constexpr uint32_t kChapterLinkPauseMs = 3000;

} // namespace

void TFrmMain::ShowError(const QString& text) {
    QMessageBox::critical(this, windowTitle(), text);
}

void TFrmMain::SupersedeSearch() {
    // Rows and texts of the search before stop reaching the window from here on.
    if (fSearchGate)
        fSearchGate->Close();
    fSearchGate.reset();
}

void TFrmMain::StartSearch(const QString& name) {
    fSearchGate = std::make_shared<TGatedSurface>(*this);
    new TSearchThread(name, fSearchGate);
}

void TFrmMain::lvDblClick() {
    const int row = lv->currentRow();
    if (row < 0 || lv->selectedItems().isEmpty())
        return;
    auto cell = [&](int column) {
        const QTableWidgetItem* item = lv->item(row, column);
        return item ? item->text() : QString();
    };
    const QString site = cell(1);
    const QString name = cell(2);
    NavigatePageView(TempFolder() + QStringLiteral("wait.htm"));
    try {
        TInfoPageData info;
        bool fetch = false;
        if (HasLatestRead(site, name)) {
            std::lock_guard lock(AppMutex());
            info = GetLatestReadInfo(site, name);
        } else {
            // Read on the directory worker's thread, so the window stays responsive.
            info.strInfoPageUrl = cell(5);
            fetch = true;
        }
        ShowPageView();
        new TDirectoryThread(info, site, Surface(), fetch);
    } catch (const ESQLiteException& e) {
        ShowError(e.Message());
    }
}

void TFrmMain::wbBeforeNavigate2(const QString& url, bool& cancel) {
    if (!url.contains(QLatin1String("directory_info")))
        return;
    if (fTickCount() - fLastChapterLinkTick < kChapterLinkPauseMs) {
        fShowMessage(QStringLiteral("目前程序正在全力下载所有的小说章节，暂时不能进行快速翻页！"));
        cancel = true;
        return;
    }
    // The link names no real page: it is cancelled whatever happens below.
    cancel = true;
    const QStringList pieces = url.split(QLatin1Char('#'));
    if (pieces.size() == 3) {
        try {
            const int32_t novelId = pieces[1].toInt();
            const int32_t index = pieces[2].toInt();
            QString siteName;
            QString novelName;
            QString bookDir;
            QString ruleId;
            {
                TSQLiteDatabase db(RuleDatabasePath());
                auto novel = db.GetTable(
                    QStringLiteral("select target_site,novel_name from latest_read where id=%1")
                        .arg(novelId));
                if (!novel->Eof()) {
                    siteName = novel->FieldAsString(
                        static_cast<uint32_t>(novel->GetFieldIndex(QStringLiteral("target_site"))));
                    novelName = novel->FieldAsString(
                        static_cast<uint32_t>(novel->GetFieldIndex(QStringLiteral("novel_name"))));
                    bookDir = BookFolder(siteName, novelName);
                }
                if (!siteName.isEmpty() && !novelName.isEmpty()) {
                    db.AddParamText(QStringLiteral(":site"), siteName);
                    auto rule = db.GetTable(
                        QStringLiteral("select id from site_rule where site_name=:site"));
                    if (!rule->Eof())
                        ruleId = rule->FieldAsString(
                            static_cast<uint32_t>(rule->GetFieldIndex(QStringLiteral("id"))));
                }
            }
            QString chapterName;
            QString chapterUrl;
            {
                TSQLiteDatabase db(NovelDatabasePath());
                auto chapter = db.GetTable(
                    QStringLiteral("select chapter_name,chapter_url from novel_directory where "
                                   "novel_id=%1 and chapter_index=%2")
                        .arg(novelId)
                        .arg(index));
                if (!chapter->Eof()) {
                    chapterName = chapter->FieldAsString(0);
                    chapterUrl = chapter->FieldAsString(1);
                }
            }
            if (!ruleId.isEmpty() && !bookDir.isEmpty() && !chapterName.isEmpty() &&
                !chapterUrl.isEmpty()) {
                SetStatusText(QStringLiteral("正在下载章节「%1」……").arg(chapterName));
                fStartChapter(ruleId.toInt(), novelId, index, bookDir, novelName, chapterName,
                              chapterUrl);
            }
        } catch (const ESQLiteException& e) {
            ShowError(e.Message());
            return;
        }
    }
    fLastChapterLinkTick = fTickCount();
}

void TFrmMain::btnLatestReadClick() {
    SupersedeSearch();
    ShowResultList();
    ClearResults();
    try {
        TSQLiteDatabase db(RuleDatabasePath());
        auto table = db.GetTable(QStringLiteral("select * from latest_read"));
        if (table->Eof())
            return;
        auto column = [&](const char* name) {
            return static_cast<uint32_t>(table->GetFieldIndex(QLatin1String(name)));
        };
        const uint32_t site = column("target_site");
        const uint32_t name = column("novel_name");
        const uint32_t author = column("novel_author");
        const uint32_t latest = column("latest_chapter");
        const uint32_t url = column("info_page_url");
        for (; !table->Eof(); table->Next()) {
            AddResultRow(table->FieldAsString(site), table->FieldAsString(name),
                         table->FieldAsString(author), table->FieldAsString(latest),
                         table->FieldAsString(url));
        }
    } catch (const ESQLiteException& e) {
        ShowError(e.Message());
    }
}

void TFrmMain::btnTargetSiteSetClick() {
    RunTargetSiteDialog(this);
}

} // namespace zvrd
