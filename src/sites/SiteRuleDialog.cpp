#include "sites/SiteRuleDialog.h"

#include "rules/Extractors.h"
#include "rules/PatternNotation.h"
#include "sites/DialogSaving.h"
#include "store/SiteChecks.h"
#include "store/SiteRules.h"
#include "store/SqliteTable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTextDocumentFragment>
#include <QThread>
#include <QVBoxLayout>

#include <memory>

namespace zvrd {
namespace {

enum RefererMode { kNoReferer, kFixedReferer, kLinkingPage };

// What a try-out shows of a chapter list: its size, the first chapters and the last ones.
QString listSummary(const ChapterList& list) {
    if (list.count == 0)
        return QStringLiteral("没有读到章节目录。");
    QString text = QStringLiteral("共 %1 章").arg(list.count);
    if (!list.pageUrl.isEmpty())
        text += QStringLiteral("（读自 %1）").arg(list.pageUrl);
    text += QLatin1Char('\n');
    constexpr int kHead = 10;
    constexpr int kTail = 3;
    for (int i = 0; i < list.count; ++i) {
        if (i == kHead && list.count > kHead + kTail) {
            text += QStringLiteral("……\n");
            i = list.count - kTail;
        }
        text += QStringLiteral("%1  %2  %3\n").arg(i + 1).arg(list.names[i], list.urls[i]);
    }
    return text;
}

QString chapterSummary(const QString& html) {
    if (html.isEmpty())
        return QStringLiteral("没有读到章节正文。");
    const QString text = QTextDocumentFragment::fromHtml(html).toPlainText().trimmed();
    return QStringLiteral("正文 %1 字：\n%2").arg(text.size()).arg(text);
}

} // namespace

SiteRuleDialog::SiteRuleDialog(const SiteRule& rule, QWidget* parent)
    : QDialog(parent), m_rule(rule) {
    setWindowTitle(QStringLiteral("规则设置：%1").arg(rule.siteName));
    m_chapterNext = new QLineEdit(rule.chapterNextPage, this);
    m_chapterNext->setPlaceholderText(QStringLiteral("章节分页时下一页的地址，第 1 组"));
    m_listNext = new QLineEdit(rule.directoryNextPage, this);
    m_listNext->setPlaceholderText(QStringLiteral("目录分页时下一页的地址，第 1 组"));
    m_distinct = new QCheckBox(QStringLiteral("目录中重复的章节地址只保留最后一处"), this);
    m_distinct->setChecked(rule.distinctLinks);
    m_userAgent = new QLineEdit(rule.userAgent, this);
    m_userAgent->setPlaceholderText(QStringLiteral("留空：用程序自带的"));
    m_refererMode = new QComboBox(this);
    m_refererMode->addItems(
        {QStringLiteral("不发送"), QStringLiteral("固定地址"), QStringLiteral("链接所在的页面")});
    m_refererMode->setCurrentIndex(rule.refererFromLink     ? kLinkingPage
                                   : rule.referer.isEmpty() ? kNoReferer
                                                            : kFixedReferer);
    m_referer = new QLineEdit(rule.referer, this);
    m_referer->setPlaceholderText(QStringLiteral("http://…"));
    auto showReferer = [this] {
        const int mode = m_refererMode->currentIndex();
        m_referer->setEnabled(mode != kNoReferer);
        m_referer->setPlaceholderText(
            mode == kLinkingPage ? QStringLiteral("不知链接所在页面时发送的地址（留空：网站首页）")
                                 : QStringLiteral("http://…"));
    };
    connect(m_refererMode, &QComboBox::currentIndexChanged, this, showReferer);
    showReferer();
    m_headers = new QPlainTextEdit(rule.extraHeaders, this);
    m_headers->setPlaceholderText(QStringLiteral("每行一个，如 Accept-Language: zh-CN"));
    m_headers->setFixedHeight(56);
    m_cookie = new QLineEdit(this);
    m_cookie->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    m_cookie->setPlaceholderText(QStringLiteral("从浏览器复制；只存在本机，不随规则导出"));
    try {
        m_cookie->setText(siteCookie(rule));
    } catch (const SqliteException&) {
        // An old library without cookies shows none.
    }

    m_checkWord = new QLineEdit(rule.checkKeyword, this);
    m_checkWord->setPlaceholderText(QStringLiteral("检查站点时搜索的书名（留空：凡人修仙传）"));
    m_checkPage = new QLineEdit(rule.checkInfoPageUrl, this);
    m_checkPage->setPlaceholderText(QStringLiteral("没有搜索时，检查从这本书的信息页开始"));

    auto* refererRow = new QHBoxLayout;
    refererRow->addWidget(m_refererMode);
    refererRow->addWidget(m_referer, 1);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("章节下一页："), m_chapterNext);
    form->addRow(QStringLiteral("目录下一页："), m_listNext);
    form->addRow(QString(), m_distinct);
    form->addRow(QStringLiteral("User-Agent："), m_userAgent);
    form->addRow(QStringLiteral("Referer："), refererRow);
    form->addRow(QStringLiteral("其他请求头："), m_headers);
    form->addRow(QStringLiteral("Cookie："), m_cookie);
    form->addRow(QStringLiteral("检查用书名："), m_checkWord);
    form->addRow(QStringLiteral("检查用信息页："), m_checkPage);

    auto* trial = new QGroupBox(QStringLiteral("试一试（用上面的设置，不必先保存）"), this);
    m_trialAddress = new QLineEdit(rule.siteUrl, trial);
    m_listButton = new QPushButton(QStringLiteral("读目录"), trial);
    m_chapterButton = new QPushButton(QStringLiteral("读章节"), trial);
    for (QPushButton* button : {m_listButton, m_chapterButton})
        button->setAutoDefault(false);
    connect(m_listButton, &QPushButton::clicked, this, [this] { startTrial(Trial::ChapterList); });
    connect(m_chapterButton, &QPushButton::clicked, this, [this] { startTrial(Trial::Chapter); });
    m_trialOutput = new QPlainTextEdit(trial);
    m_trialOutput->setReadOnly(true);
    m_trialOutput->setPlaceholderText(
        QStringLiteral("填入目录页或章节页的地址，读出的内容显示在这里。"));
    auto* addressRow = new QHBoxLayout;
    addressRow->addWidget(new QLabel(QStringLiteral("地址："), trial));
    addressRow->addWidget(m_trialAddress, 1);
    addressRow->addWidget(m_listButton);
    addressRow->addWidget(m_chapterButton);
    auto* trialLayout = new QVBoxLayout(trial);
    trialLayout->addLayout(addressRow);
    trialLayout->addWidget(m_trialOutput, 1);

    QDialogButtonBox* buttons = dialogButtons(this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(trial, 1);
    layout->addWidget(buttons);
    resize(620, 560);
}

SiteRuleDialog::~SiteRuleDialog() {
    if (!m_trialApplied)
        return;
    // Every fetch goes back to what the library keeps (the kept rule, or the one just saved).
    try {
        loadSiteRules();
    } catch (const SqliteException&) {
    }
}

SiteRule SiteRuleDialog::editedRule() const {
    SiteRule rule = m_rule;
    rule.chapterNextPage = m_chapterNext->text().trimmed();
    rule.directoryNextPage = m_listNext->text().trimmed();
    rule.distinctLinks = m_distinct->isChecked();
    rule.userAgent = m_userAgent->text().trimmed();
    const int mode = m_refererMode->currentIndex();
    rule.refererFromLink = mode == kLinkingPage;
    rule.referer = mode == kNoReferer ? QString() : m_referer->text().trimmed();
    rule.extraHeaders = m_headers->toPlainText().trimmed();
    rule.checkKeyword = m_checkWord->text().trimmed();
    rule.checkInfoPageUrl = m_checkPage->text().trimmed();
    return rule;
}

QString SiteRuleDialog::editedCookie() const {
    return m_cookie->text().trimmed();
}

QString SiteRuleDialog::problem() const {
    const SiteRule rule = editedRule();
    for (const QString& problem : {nextPagePatternProblem(rule.chapterNextPage),
                                   nextPagePatternProblem(rule.directoryNextPage),
                                   requestHeadersProblem(rule, editedCookie())}) {
        if (!problem.isEmpty())
            return problem;
    }
    return QString();
}

bool SiteRuleDialog::save(QString* why) {
    *why = problem();
    if (!why->isEmpty())
        return false;
    const SiteRule rule = editedRule();
    try {
        setSitePaging({rule.id, rule.chapterNextPage, rule.directoryNextPage, rule.distinctLinks});
        setSiteRequestHeaders(rule);
        setSiteCookie(rule, editedCookie());
        setSiteCheckRow({rule.id, rule.checkKeyword, rule.checkInfoPageUrl});
        return true;
    } catch (const SqliteException& e) {
        *why = e.message();
        return false;
    }
}

void SiteRuleDialog::showTrial(const QString& text) {
    m_trialOutput->setPlainText(text);
    m_listButton->setEnabled(true);
    m_chapterButton->setEnabled(true);
    emit trialFinished();
}

void SiteRuleDialog::startTrial(Trial trial) {
    const QString address = m_trialAddress->text().trimmed();
    if (const QString why = problem(); !why.isEmpty()) {
        showTrial(why);
        return;
    }
    const SiteRule rule = editedRule();
    try {
        // The try-out fetches with the dialog's headers and cookie.
        SiteRuleList rules = loadSiteRules();
        for (SiteRule& r : rules) {
            if (r.id == rule.id)
                r = rule;
        }
        applyRequestHeaders(rules, {{cookieServer(rule), editedCookie()}});
        m_trialApplied = true;
    } catch (const SqliteException& e) {
        showTrial(e.message());
        return;
    }
    m_listButton->setEnabled(false);
    m_chapterButton->setEnabled(false);
    m_trialOutput->setPlainText(QStringLiteral("正在读取 %1 ……").arg(address));
    auto result = std::make_shared<QString>();
    QThread* worker = QThread::create([rule, address, trial, result] {
        try {
            *result = trial == Trial::ChapterList
                          ? listSummary(parseDirectoryPage(address, rule))
                          : chapterSummary(parseChapterContent(rule, address));
        } catch (const RegexException& e) {
            *result = e.message();
        } catch (const std::exception& e) {
            *result = QString::fromLocal8Bit(e.what());
        }
    });
    // The thread may outlive the dialog: it owns nothing of it.
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &QThread::finished, this, [this, result] { showTrial(*result); });
    worker->start();
}

bool runSiteRuleDialog(const SiteRule& rule, QWidget* parent) {
    SiteRuleDialog dialog(rule, parent);
    return runUntilSaved(dialog, parent);
}

} // namespace zvrd
