// app: 阅读设置 — font, size, spacing, width and theme of the reading pages, shown on the page as
// they change.
#pragma once

#include "pages/ReadingStyle.h"

#include <QDialog>

#include <functional>

class QComboBox;
class QPushButton;
class QSpinBox;

namespace zvrd {

class ReadingSettingsDialog : public QDialog {
    Q_OBJECT
public:
    // preview is called with the settings as shown whenever one changes.
    ReadingSettingsDialog(const ReadingSettings& settings,
                          std::function<void(const ReadingSettings&)> preview,
                          QWidget* parent = nullptr);
    ReadingSettings settings() const;

    // For tests.
    QSpinBox* sizeBox() const { return m_size; }
    QComboBox* themeBox() const { return m_theme; }
    QComboBox* scriptBox() const { return m_script; }

private:
    void changed();
    void chooseColour(QString* colour, const QString& title);

    std::function<void(const ReadingSettings&)> m_preview;
    ReadingSettings m_settings;
    QComboBox* m_font = nullptr;
    QSpinBox* m_size = nullptr;
    QSpinBox* m_lineSpacing = nullptr;
    QSpinBox* m_paragraphSpacing = nullptr;
    QSpinBox* m_indent = nullptr;
    QSpinBox* m_width = nullptr;
    QComboBox* m_theme = nullptr;
    QComboBox* m_script = nullptr;
    QPushButton* m_textColour = nullptr;
    QPushButton* m_backgroundColour = nullptr;
};

} // namespace zvrd
