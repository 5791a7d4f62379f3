// sites: a settings dialog shown until what it holds is kept or the reader gives up.
#pragma once

#include <QDialog>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>

namespace zvrd {

// The 确定 (or ok's own caption) and 取消 buttons of a dialog, accepting and rejecting it.
inline QDialogButtonBox* dialogButtons(QDialog* dialog,
                                       const QString& ok = QStringLiteral("确定")) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(ok);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

// Shows the dialog; on 确定 keeps what it shows (save(&problem)), and on failure says why and
// shows it again. True when something was kept.
template <typename Dialog> bool runUntilSaved(Dialog& dialog, QWidget* parent) {
    while (dialog.exec() == QDialog::Accepted) {
        QString problem;
        if (dialog.save(&problem))
            return true;
        QMessageBox::warning(parent, dialog.windowTitle(), problem);
    }
    return false;
}

} // namespace zvrd
