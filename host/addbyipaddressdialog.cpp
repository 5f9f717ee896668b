#include "host/addbyipaddressdialog.h"

#include "framework/appbranding.h"
#include "framework/busybutton.h"
#include "framework/cardpushbutton.h"
#include "framework/ipaddressvalidator.h"
#include "framework/sharedvalidators.h"
#include "framework/style.h"
#include "framework/tighthboxlayout.h"
#include "framework/tightvboxlayout.h"
#include "host/dialoglineedit.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>

namespace {

const int kDialogWidth = 390;
const QColor kTextColour(71, 71, 71);
const QSize kButtonSize(114, 28);

QWidget* row(QWidget* parent, TightHBoxLayout*& layout)
{
    auto* widget = new QWidget(parent);
    widget->setFixedWidth(kDialogWidth);
    layout = new TightHBoxLayout(widget);
    return widget;
}

} // namespace

AddByIpAddressDialog::AddByIpAddressDialog(QWidget* parent)
    : TendwellDialog(parent)
{
    QFrame* box = frame();
    box->setFixedWidth(kDialogWidth);
    auto* layout = new TightVBoxLayout(box);

    QLabel* title = makeLabel(1, kTextColour, box);
    title->setFixedHeight(40);
    title->setAlignment(Qt::AlignCenter);
    title->setText(AppBranding::addDeviceText());
    title->setStyleSheet(QStringLiteral("QFrame { background: %1; border: none; "
                                        "border-top-right-radius: %2; "
                                        "border-top-left-radius: %2; }")
                             .arg(colorToHexString(QColor(241, 241, 241)), QString::number(10)));
    auto* separator = new QWidget(box);
    separator->setFixedHeight(1);
    separator->setStyleSheet(
        QStringLiteral("QWidget { background: %1; }").arg(colorToHexString(QColor(208, 208, 208))));

    TightHBoxLayout* rowLayout = nullptr;
    m_inputRow = row(box, rowLayout);
    QLabel* caption = makeLabel(3, kTextColour, m_inputRow);
    caption->setText(tr("IP address:"));
    caption->setFixedSize(126, 28);
    caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_lineEdit = new DialogLineEdit(m_inputRow);
    m_lineEdit->setValidator(SharedValidators::hostIpAddress());
    m_lineEdit->setText(QStringLiteral("0.0.0.0"));
    rowLayout->addWidget(caption);
    rowLayout->addSpacing(20);
    rowLayout->addWidget(m_lineEdit);
    rowLayout->addSpacing(30);

    m_checkingRow = row(box, rowLayout);
    QLabel* checking = makeLabel(3, kTextColour, m_checkingRow);
    checking->setText(tr("Checking address..."));
    checking->setFixedHeight(33);
    checking->setAlignment(Qt::AlignCenter);
    m_spinner = new BusyButton(m_checkingRow);
    rowLayout->addStretch();
    rowLayout->addWidget(checking);
    rowLayout->addSpacing(20);
    rowLayout->addWidget(m_spinner);
    rowLayout->addStretch();

    m_failedRow = row(box, rowLayout);
    QLabel* failed = makeLabel(3, kTextColour, m_failedRow);
    failed->setText(AppBranding::noDeviceFoundText());
    failed->setFixedHeight(33);
    failed->setAlignment(Qt::AlignCenter);
    rowLayout->addStretch();
    rowLayout->addWidget(failed);
    rowLayout->addStretch();

    m_cancelAddRow = row(box, rowLayout);
    m_cancelButton = new CardPushButton(tr("Cancel"), kButtonSize, m_cancelAddRow);
    m_addButton = new CardPushButton(tr("Add"), kButtonSize, m_cancelAddRow);
    rowLayout->addStretch();
    rowLayout->addWidget(m_cancelButton);
    rowLayout->addSpacing(20);
    rowLayout->addWidget(m_addButton);
    rowLayout->addSpacing(30);

    m_closeRow = row(box, rowLayout);
    m_closeButton = new CardPushButton(tr("Close"), kButtonSize, m_closeRow);
    rowLayout->addStretch();
    rowLayout->addWidget(m_closeButton);
    rowLayout->addSpacing(30);

    layout->addWidget(title);
    layout->addWidget(separator);
    layout->addSpacing(30);
    layout->addWidget(m_inputRow);
    layout->addWidget(m_checkingRow);
    layout->addWidget(m_failedRow);
    layout->addSpacing(30);
    layout->addWidget(m_cancelAddRow);
    layout->addWidget(m_closeRow);
    layout->addSpacing(30);

    connect(m_lineEdit, &QLineEdit::textChanged, this, &AddByIpAddressDialog::checkAddressValid);
    connect(m_spinner, &QAbstractButton::clicked, this, &AddByIpAddressDialog::addCancelled);
    connect(m_cancelButton, &QPushButton::clicked, this, &AddByIpAddressDialog::addCancelled);
    connect(m_addButton, &QPushButton::clicked, this, &AddByIpAddressDialog::addDevice);
    connect(m_closeButton, &QPushButton::clicked, this, &AddByIpAddressDialog::onCloseClicked);
    // Return pressed anywhere inside the dialog reaches it on its way up.
    installEventFilter(this);

    showRows(Input);
    m_spinner->setBusy(false);
    m_state = Input;
}

QString AddByIpAddressDialog::address() const
{
    // The field lets octets through with leading zeros ("192.168.001.020"); everything after
    // it (the socket, a web address) could read those as octal, so they are dropped here.
    const QString text = m_lineEdit->text();
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return text;
    QStringList plain;
    for (const QString& part : parts) {
        bool ok = false;
        const uint octet = part.toUInt(&ok, 10);
        if (!ok || octet > 255)
            return text;
        plain.append(QString::number(octet));
    }
    return plain.join(QLatin1Char('.'));
}

void AddByIpAddressDialog::showRows(int state)
{
    m_inputRow->setVisible(state == Input);
    m_checkingRow->setVisible(state == Checking);
    m_failedRow->setVisible(state == Failed);
    m_cancelAddRow->setVisible(state == Input);
    m_closeRow->setVisible(state != Input);
    frame()->setFixedHeight(frame()->sizeHint().height());
    centreFrame();
}

void AddByIpAddressDialog::setState(int state)
{
    m_state = state;
    if (state < Input || state > Failed)
        return;
    showRows(state);
    m_spinner->setBusy(state == Checking);
}

void AddByIpAddressDialog::checkAddressValid()
{
    m_acceptable = m_lineEdit->hasAcceptableInput();
    m_addButton->setEnabled(m_acceptable);
}

void AddByIpAddressDialog::onCloseClicked()
{
    Q_EMIT closeClicked();
    hide();
    showRows(Input);
    m_spinner->setBusy(false);
    m_state = Input;
}

bool AddByIpAddressDialog::eventFilter(QObject* obj, QEvent* event)
{
    if (isVisible() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (m_state == Input && m_acceptable) {
                Q_EMIT addDevice();
                return true;
            }
            if (m_state == Failed) {
                onCloseClicked();
                return true;
            }
        }
    }
    return TendwellDialog::eventFilter(obj, event);
}
