#pragma once

#include "framework/tendwelldialog.h"

class BusyButton;
class CardPushButton;
class QLabel;
class QProgressBar;

// The standard message, choice and progress dialog drawn over the main window.
class CommonDialog : public TendwellDialog
{
    Q_OBJECT
public:
    CommonDialog(const QString& title, QWidget* parent);

    void setTitle(const QString& title);
    void showMessage(const QString& heading, const QString& message);
    void showChoice(const QString& noText, const QString& yesText);
    void showSingleButton(const QString& text);
    void showProgress();

    QLabel* titleLabel() const { return m_titleLabel; }
    QLabel* headingLabel() const { return m_headingLabel; }
    QLabel* messageLabel() const { return m_messageLabel; }
    QLabel* plainLabel() const { return m_plainLabel; }
    QLabel* progressLabel() const { return m_progressLabel; }
    CardPushButton* noButton() const { return m_noButton; }
    CardPushButton* yesButton() const { return m_yesButton; }
    CardPushButton* closeButton() const { return m_closeButton; }
    QProgressBar* progressBar() const { return m_progressBar; }
    BusyButton* spinner() const { return m_spinner; }
    bool isBusy() const { return m_busy; }

    // Sets the label's height to whole lines of `lineHeight` for its text; returns it.
    static int fitLabelHeight(QLabel* label, int lineHeight);
    // The message as shown: its last space (outside any markup) becomes a no-break space.
    static QString keepLastWordsTogether(const QString& message);

Q_SIGNALS:
    void yesClicked();
    void noClicked();
    void closeClicked();
    void linkActivated(const QString& link);

public Q_SLOTS:
    void setProgress(int percent);

protected:
    void layoutAt(int y);

    QFrame* m_titleBar;
    QLabel* m_titleLabel;
    QLabel* m_headingLabel;
    QLabel* m_messageLabel;
    QLabel* m_plainLabel;
    QLabel* m_progressLabel;
    CardPushButton* m_noButton;
    CardPushButton* m_yesButton;
    CardPushButton* m_closeButton;
    QProgressBar* m_progressBar;
    bool m_busy = false;
    BusyButton* m_spinner;
};
