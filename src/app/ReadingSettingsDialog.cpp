#include "app/ReadingSettingsDialog.h"

#include "sites/DialogSaving.h"

#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace zvrd {
namespace {

QSpinBox* spinBox(int low, int high, int value, const QString& suffix, QWidget* parent) {
    auto* box = new QSpinBox(parent);
    box->setRange(low, high);
    box->setValue(value);
    box->setSuffix(suffix);
    return box;
}

} // namespace

ReadingSettingsDialog::ReadingSettingsDialog(const ReadingSettings& settings,
                                             std::function<void(const ReadingSettings&)> preview,
                                             QWidget* parent)
    : QDialog(parent), m_preview(std::move(preview)), m_settings(settings) {
    setWindowTitle(QStringLiteral("阅读设置"));
    // The installed Chinese fonts, after the page's own choice: taking the dialog as it opened
    // keeps that choice rather than the first font of the list.
    m_font = new QComboBox(this);
    m_font->addItem(QStringLiteral("默认字体"), QString());
    QStringList families = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    if (!settings.fontFamily.isEmpty() && !families.contains(settings.fontFamily))
        families.prepend(settings.fontFamily);
    for (const QString& family : families)
        m_font->addItem(family, family);
    m_font->setCurrentIndex(std::max(0, m_font->findData(settings.fontFamily)));
    m_size = spinBox(10, 48, settings.fontSize, QStringLiteral(" 像素"), this);
    m_lineSpacing = spinBox(100, 300, settings.lineSpacing, QStringLiteral(" %"), this);
    m_lineSpacing->setSingleStep(10);
    m_paragraphSpacing = spinBox(0, 200, settings.paragraphSpacing, QStringLiteral(" %"), this);
    m_paragraphSpacing->setSingleStep(10);
    m_indent = spinBox(0, 4, settings.indent, QStringLiteral(" 字"), this);
    m_width = spinBox(0, 80, settings.widthChars, QStringLiteral(" 字"), this);
    m_width->setSpecialValueText(QStringLiteral("与窗口同宽"));
    m_theme = new QComboBox(this);
    m_theme->addItems({QStringLiteral("日间"), QStringLiteral("羊皮纸"), QStringLiteral("夜间"),
                       QStringLiteral("自定义")});
    m_theme->setCurrentIndex(static_cast<int>(settings.theme));
    m_script = new QComboBox(this);
    m_script->addItems({QStringLiteral("原文"), QStringLiteral("简体"), QStringLiteral("繁體")});
    m_script->setCurrentIndex(static_cast<int>(settings.script));
    m_script->setToolTip(QStringLiteral("只改变显示，已下载的章节保持原样"));
    m_textColour = new QPushButton(QStringLiteral("文字颜色…"), this);
    m_backgroundColour = new QPushButton(QStringLiteral("背景颜色…"), this);
    for (QPushButton* button : {m_textColour, m_backgroundColour})
        button->setAutoDefault(false);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("字体："), m_font);
    form->addRow(QStringLiteral("字号："), m_size);
    form->addRow(QStringLiteral("行距："), m_lineSpacing);
    form->addRow(QStringLiteral("段距："), m_paragraphSpacing);
    form->addRow(QStringLiteral("首行缩进："), m_indent);
    form->addRow(QStringLiteral("版心宽度："), m_width);
    form->addRow(QStringLiteral("主题："), m_theme);
    form->addRow(QStringLiteral("简繁："), m_script);
    auto* colours = new QHBoxLayout;
    colours->addWidget(m_textColour);
    colours->addWidget(m_backgroundColour);
    form->addRow(QString(), colours);

    QDialogButtonBox* buttons = dialogButtons(this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    connect(m_font, &QComboBox::currentIndexChanged, this, [this] { changed(); });
    for (QSpinBox* box : {m_size, m_lineSpacing, m_paragraphSpacing, m_indent, m_width})
        connect(box, &QSpinBox::valueChanged, this, [this] { changed(); });
    connect(m_theme, &QComboBox::currentIndexChanged, this, [this] { changed(); });
    connect(m_script, &QComboBox::currentIndexChanged, this, [this] { changed(); });
    connect(m_textColour, &QPushButton::clicked, this,
            [this] { chooseColour(&m_settings.customText, QStringLiteral("文字颜色")); });
    connect(m_backgroundColour, &QPushButton::clicked, this,
            [this] { chooseColour(&m_settings.customBackground, QStringLiteral("背景颜色")); });
    const bool custom = settings.theme == ReadingTheme::Custom;
    m_textColour->setEnabled(custom);
    m_backgroundColour->setEnabled(custom);
}

ReadingSettings ReadingSettingsDialog::settings() const {
    ReadingSettings s = m_settings;
    s.fontFamily = m_font->currentData().toString();
    s.fontSize = m_size->value();
    s.lineSpacing = m_lineSpacing->value();
    s.paragraphSpacing = m_paragraphSpacing->value();
    s.indent = m_indent->value();
    s.widthChars = m_width->value();
    s.theme = static_cast<ReadingTheme>(m_theme->currentIndex());
    s.script = static_cast<ChineseScript>(m_script->currentIndex());
    return boundedSettings(s);
}

void ReadingSettingsDialog::changed() {
    const bool custom = m_theme->currentIndex() == static_cast<int>(ReadingTheme::Custom);
    m_textColour->setEnabled(custom);
    m_backgroundColour->setEnabled(custom);
    if (m_preview)
        m_preview(settings());
}

void ReadingSettingsDialog::chooseColour(QString* colour, const QString& title) {
    const QColor chosen = QColorDialog::getColor(QColor::fromString(*colour), this, title);
    if (!chosen.isValid())
        return;
    *colour = chosen.name();
    changed();
}

} // namespace zvrd
