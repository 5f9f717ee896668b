#include "framework/commondialog.h"

#include "framework/accentcolour.h"
#include "framework/busybutton.h"
#include "framework/cardpushbutton.h"
#include "framework/style.h"

#include <QLabel>
#include <QProgressBar>
#include <QTextDocument>

namespace {
const int kFrameWidth = 500;
const int kTextWidth = 440;
const QColor kTextColour(71, 71, 71);
const QSize kButtonSize(114, 28);
} // namespace

CommonDialog::CommonDialog(const QString& title, QWidget* parent)
    : TendwellDialog(parent)
{
    QFrame* box = frame();
    box->setFixedWidth(kFrameWidth);

    m_titleBar = new QFrame(box);
    m_titleBar->setObjectName(QStringLiteral("dialogTitle"));
    m_titleBar->setStyleSheet(
        QStringLiteral("#dialogTitle {\tbackground: %1; border-width: 10; "
                       "border-top-left-radius: 10; border-top-right-radius: 10; "
                       "\tborder-bottom-color: %2; border-bottom-width:1px; "
                       "border-bottom-style:solid; }")
            .arg(colorToHexString(QColor(241, 241, 241)), colorToHexString(QColor(208, 208, 208))));
    m_titleBar->setGeometry(0, 0, kFrameWidth, 40);

    m_titleLabel = makeLabel(1, kTextColour, box);
    m_titleLabel->setText(title);
    m_titleLabel->setAlignment(Qt::AlignCenter);
    m_titleLabel->setGeometry(0, 0, kFrameWidth, 40);

    m_headingLabel = makeLabel(12, kTextColour, box);
    m_headingLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_headingLabel->setWordWrap(true);
    m_headingLabel->resize(kTextWidth, 25);

    m_messageLabel = makeLabel(3, kTextColour, box);
    m_messageLabel->setWordWrap(true);
    m_messageLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_messageLabel->resize(kTextWidth, 20);
    connect(m_messageLabel, &QLabel::linkActivated, this, &CommonDialog::linkActivated);

    m_plainLabel = makeLabel(3, kTextColour, box);
    m_plainLabel->setWordWrap(true);
    m_plainLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_plainLabel->resize(kTextWidth, 20);

    m_noButton = new CardPushButton(tr("Cancel"), kButtonSize, box);
    m_yesButton = new CardPushButton(tr("Save"), kButtonSize, box);
    m_closeButton = new CardPushButton(tr("Close"), kButtonSize, box);
    connect(m_noButton, &QPushButton::clicked, this, &CommonDialog::noClicked);
    connect(m_yesButton, &QPushButton::clicked, this, &CommonDialog::yesClicked);
    connect(m_closeButton, &QPushButton::clicked, this, &CommonDialog::closeClicked);

    m_progressBar = new QProgressBar(box);
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);
    m_progressBar->resize(kTextWidth, 3);
    m_progressBar->setTextVisible(false);
    m_progressBar->setStyleSheet(
        QStringLiteral("QProgressBar { border: none; background: %1 } "
                       "QProgressBar::chunk { background-color: %2; }")
            .arg(colorToHexString(QColor(241, 241, 241)), colorToHexString(accentColour())));

    m_progressLabel = makeLabel(3, kTextColour, box);
    m_progressLabel->setAlignment(Qt::AlignCenter);
    m_progressLabel->resize(kTextWidth, 20);

    m_spinner = new BusyButton(box);
    m_spinner->setBusy(false);
    connect(m_spinner, &QAbstractButton::clicked, this, &CommonDialog::closeClicked);

    m_headingLabel->hide();
    m_messageLabel->hide();
    m_plainLabel->show();
    m_plainLabel->setText(QString());
    m_plainLabel->move(30, 65);
    layoutAt(65 + m_plainLabel->height());
}

void CommonDialog::setTitle(const QString& title)
{
    m_titleLabel->setText(title);
}

QString CommonDialog::keepLastWordsTogether(const QString& message)
{
    // In rich text a space inside a tag ("<a href=...>") is markup, not a gap between words.
    const bool rich = Qt::mightBeRichText(message);
    bool insideTag = false;
    for (qsizetype i = message.size() - 1; i >= 0; --i) {
        const QChar c = message.at(i);
        if (rich && c == QLatin1Char('>'))
            insideTag = true;
        else if (rich && c == QLatin1Char('<'))
            insideTag = false;
        else if (c == QLatin1Char(' ') && !insideTag) {
            QString kept = message;
            kept[i] = QChar(0x00A0);
            return kept;
        }
    }
    return message;
}

void CommonDialog::showMessage(const QString& heading, const QString& message)
{
    m_headingLabel->show();
    m_messageLabel->show();
    m_plainLabel->hide();

    m_headingLabel->setText(heading);
    const int headingHeight = fitLabelHeight(m_headingLabel, 25);
    m_headingLabel->move(30, 65);

    m_messageLabel->setText(keepLastWordsTogether(message));
    const int messageHeight = fitLabelHeight(m_messageLabel, 20);
    m_messageLabel->move(30, 69 + headingHeight);

    layoutAt(69 + headingHeight + messageHeight);
}

void CommonDialog::showChoice(const QString& noText, const QString& yesText)
{
    m_noButton->setText(noText);
    m_noButton->show();
    m_yesButton->setText(yesText);
    m_yesButton->show();
    m_closeButton->hide();
    m_progressBar->hide();
    m_progressLabel->hide();
    m_spinner->setBusy(false);
    m_spinner->hide();
}

void CommonDialog::showSingleButton(const QString& text)
{
    m_noButton->hide();
    m_yesButton->hide();
    m_closeButton->setText(text);
    m_closeButton->show();
    m_progressBar->hide();
    m_progressLabel->hide();
    m_spinner->setBusy(false);
    m_spinner->hide();
}

void CommonDialog::showProgress()
{
    m_noButton->hide();
    m_yesButton->hide();
    m_closeButton->hide();
    m_progressBar->show();
    m_progressLabel->show();
    m_spinner->setBusy(false);
    m_spinner->hide();
}

void CommonDialog::setProgress(int percent)
{
    if (percent < 0) {
        if (!m_busy) {
            m_busy = true;
            m_progressBar->setRange(0, 0);
            m_progressLabel->setText(QStringLiteral("..."));
        }
        return;
    }
    if (m_busy) {
        m_busy = false;
        m_progressBar->setRange(0, 100);
        m_progressBar->setValue(0);
    }
    m_progressLabel->setText(QStringLiteral("%1%").arg(percent));
    m_progressBar->setValue(percent);
}

int CommonDialog::fitLabelHeight(QLabel* label, int lineHeight)
{
    label->resize(label->width(), lineHeight);
    const int lineSpacing = label->fontMetrics().lineSpacing();
    // A wrapped label's natural height depends on the width it has, not on a guessed one.
    const int natural =
        label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
    const int lines = lineSpacing > 0 ? (lineSpacing / 2 + natural) / lineSpacing : 1;
    const int height = lines * lineHeight;
    label->resize(label->width(), height);
    return height;
}

void CommonDialog::layoutAt(int y)
{
    m_noButton->move(222, y + 39);
    m_yesButton->move(356, y + 39);
    m_closeButton->move(356, y + 39);
    m_spinner->move((kFrameWidth - m_spinner->width()) / 2, y + 43);
    m_progressBar->move(30, y + 34);
    m_progressLabel->move(30, y + 40);
    frame()->setFixedSize(kFrameWidth, y + 97);
    centreFrame();
}
