// sites: the parts of a site's rule real sites need beyond the design's (next pages, repeated
// links, request headers) and the reader's cookie for it, edited; with a try-out that reads a
// chapter list or a chapter at an address with the rule as the dialog shows it.
#pragma once

#include "rules/RuleSet.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace zvrd {

class SiteRuleDialog : public QDialog {
    Q_OBJECT
public:
    SiteRuleDialog(const SiteRule& rule, QWidget* parent = nullptr);
    ~SiteRuleDialog() override;

    // The rule as the dialog shows it, and the cookie.
    SiteRule editedRule() const;
    QString editedCookie() const;
    // Keeps what the dialog shows; false (with the reason in problem) when nothing was kept.
    bool save(QString* problem);

    enum class Trial { ChapterList, Chapter };
    // Reads the address in the try-out field in the background; the result lands in
    // trialOutput() (trialFinished when it has).
    void startTrial(Trial trial);

    // For tests.
    QLineEdit* chapterNextEdit() const { return m_chapterNext; }
    QLineEdit* listNextEdit() const { return m_listNext; }
    QCheckBox* distinctBox() const { return m_distinct; }
    QLineEdit* userAgentEdit() const { return m_userAgent; }
    QComboBox* refererBox() const { return m_refererMode; }
    QLineEdit* refererEdit() const { return m_referer; }
    QPlainTextEdit* headersEdit() const { return m_headers; }
    QLineEdit* cookieEdit() const { return m_cookie; }
    QLineEdit* checkWordEdit() const { return m_checkWord; }
    QLineEdit* checkPageEdit() const { return m_checkPage; }
    QLineEdit* trialAddressEdit() const { return m_trialAddress; }
    QPlainTextEdit* trialOutput() const { return m_trialOutput; }

signals:
    void trialFinished();

private:
    QString problem() const;
    void showTrial(const QString& text);

    SiteRule m_rule;
    bool m_trialApplied = false; // the process fetches with the dialog's headers meanwhile
    QLineEdit* m_chapterNext = nullptr;
    QLineEdit* m_listNext = nullptr;
    QCheckBox* m_distinct = nullptr;
    QLineEdit* m_userAgent = nullptr;
    QComboBox* m_refererMode = nullptr;
    QLineEdit* m_referer = nullptr;
    QPlainTextEdit* m_headers = nullptr;
    QLineEdit* m_cookie = nullptr;
    QLineEdit* m_checkWord = nullptr;
    QLineEdit* m_checkPage = nullptr;
    QLineEdit* m_trialAddress = nullptr;
    QPushButton* m_listButton = nullptr;
    QPushButton* m_chapterButton = nullptr;
    QPlainTextEdit* m_trialOutput = nullptr;
};

// Shows the dialog; on 确定 keeps the rule (an error box when it cannot be kept). True when
// something was kept.
bool runSiteRuleDialog(const SiteRule& rule, QWidget* parent);

} // namespace zvrd
