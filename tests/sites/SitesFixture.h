// Test support for the site-selection tests: a data folder whose zvrd.db holds four rules.
#pragma once

#include "core/IniFile.h"
#include "rules/RuleSet.h"
#include "sites/SiteSelectionDialog.h"
#include "store/NovelLibrary.h"
#include "store/Schema.h"
#include "store/SqliteTable.h"
#include "support/TempDataFolder.h"

#include <QApplication>
#include <QFile>
#include <QTableWidget>
#include <QTimer>
#include <gtest/gtest.h>

namespace zvrd::test {

class SiteSelectionDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        prepareLibrary();
        addRule(1, "笔趣阁", "http://b.com/");
        addRule(2, "Alpha", "http://a.com/");
        addRule(3, "beta", "");
        addRule(10, "", "http://z.com/");
    }

    static void addRule(int id, const char* name, const char* url) {
        SqliteDatabase db(ruleDatabasePath());
        db.exec(QStringLiteral("insert into site_rule(id, site_name, site_url) values(?1, ?2, ?3)"),
                {id, QString::fromUtf8(name), QString::fromUtf8(url)});
    }

    void writeConfig(const QByteArray& text) {
        QFile f(folder.file(QStringLiteral("config.ini")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

    QByteArray config() {
        QFile f(folder.file(QStringLiteral("config.ini")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    static QStringList Column(SiteSelectionDialog& dialog, int column) {
        QStringList texts;
        for (int r = 0; r < dialog.list()->rowCount(); ++r)
            texts << dialog.list()->item(r, column)->text();
        return texts;
    }

    static QList<bool> ticks(SiteSelectionDialog& dialog) {
        QList<bool> ticks;
        for (int r = 0; r < dialog.list()->rowCount(); ++r)
            ticks << (dialog.list()->item(r, 0)->checkState() == Qt::Checked);
        return ticks;
    }

    // Runs the main window's command, closing the dialog with OK or Cancel.
    bool runAndClose(bool confirm, const std::function<void(SiteSelectionDialog&)>& edit = {}) {
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<SiteSelectionDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            if (edit)
                edit(*dialog);
            confirm ? dialog->accept() : dialog->reject();
        });
        return runSiteSelectionDialog(nullptr);
    }

    TempDataFolder folder;
};

} // namespace zvrd::test
