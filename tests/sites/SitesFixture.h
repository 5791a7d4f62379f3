// Test support for the site-selection tests: a data folder whose zvrd.db holds four rules.
#pragma once

#include "core/IniFile.h"
#include "rules/RuleSet.h"
#include "sites/TargetSiteSet.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "support/TempAppFolder.h"

#include <QApplication>
#include <QFile>
#include <QTableWidget>
#include <QTimer>
#include <gtest/gtest.h>

namespace zvrd::test {

class TargetSiteSetTest : public ::testing::Test {
protected:
    void SetUp() override {
        CreateMissingTables();
        AddRule(1, "笔趣阁", "http://b.com/");
        AddRule(2, "Alpha", "http://a.com/");
        AddRule(3, "beta", "");
        AddRule(10, "", "http://z.com/");
    }

    static void AddRule(int id, const char* name, const char* url) {
        TSQLiteDatabase db(RuleDatabasePath());
        db.AddParamText(QStringLiteral(":name"), QString::fromUtf8(name));
        db.AddParamText(QStringLiteral(":url"), QString::fromUtf8(url));
        db.ExecSQL(
            QStringLiteral("insert into site_rule(id, site_name, site_url) values(%1, :name, :url)")
                .arg(id));
    }

    void WriteConfig(const QByteArray& text) {
        QFile f(folder.File(QStringLiteral("config.ini")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

    QByteArray Config() {
        QFile f(folder.File(QStringLiteral("config.ini")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    static QStringList Column(TFrmTargetSiteSet& dialog, int column) {
        QStringList texts;
        for (int r = 0; r < dialog.List()->rowCount(); ++r)
            texts << dialog.List()->item(r, column)->text();
        return texts;
    }

    static QList<bool> Ticks(TFrmTargetSiteSet& dialog) {
        QList<bool> ticks;
        for (int r = 0; r < dialog.List()->rowCount(); ++r)
            ticks << (dialog.List()->item(r, 0)->checkState() == Qt::Checked);
        return ticks;
    }

    // Runs the main window's command, closing the dialog with OK or Cancel.
    bool RunAndClose(bool confirm, const std::function<void(TFrmTargetSiteSet&)>& edit = {}) {
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<TFrmTargetSiteSet*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            if (edit)
                edit(*dialog);
            confirm ? dialog->accept() : dialog->reject();
        });
        return RunTargetSiteDialog(nullptr);
    }

    TempAppFolder folder;
};

} // namespace zvrd::test
