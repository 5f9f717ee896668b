#include "framework/connectingstatuspage.h"

#include "framework/busybutton.h"
#include "framework/cardpushbutton.h"
#include "framework/style.h"
#include "framework/tighthboxlayout.h"
#include "framework/tightvboxlayout.h"

#include <QLabel>

ConnectingStatusPage::ConnectingStatusPage(QWidget* parent)
    : StatusPage(parent)
{
    m_busyButton = new BusyButton(this);
    m_busyButton->setBusy(true);
    connect(m_busyButton, &QAbstractButton::clicked, this,
            &ConnectingStatusPage::connectionCancelled);

    m_label = makeLabel(3, QColor(71, 71, 71), this);
    m_label->setAlignment(Qt::AlignHCenter);
    m_label->setText(tr("Connecting..."));

    m_cancelButton = new CardPushButton(tr("Cancel"), QSize(114, 25), this);
    m_cancelButton->setStyleSheet(gradientButtonStyleSheet());
    connect(m_cancelButton, &QAbstractButton::clicked, this,
            &ConnectingStatusPage::connectionCancelled);

    auto* busyRow = new TightHBoxLayout;
    busyRow->addStretch();
    busyRow->addWidget(m_busyButton);
    busyRow->addSpacing(20);
    busyRow->addWidget(m_label);
    busyRow->addStretch();

    auto* buttonRow = new TightHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(m_cancelButton);
    buttonRow->addStretch();

    auto* column = new TightVBoxLayout(this);
    column->addStretch();
    column->addLayout(busyRow);
    column->addSpacing(20);
    column->addLayout(buttonRow);
    column->addStretch();
}
