// sites: a settings dialog shown until what it holds is kept or the reader gives up.
#pragma once

#include <QDialog>
#include <QMessageBox>

namespace zvrd {

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
