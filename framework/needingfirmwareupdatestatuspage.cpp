#include "framework/needingfirmwareupdatestatuspage.h"

#include "framework/style.h"
#include "framework/tightvboxlayout.h"

#include <QLabel>

NeedingFirmwareUpdateStatusPage::NeedingFirmwareUpdateStatusPage(QWidget* parent)
    : StatusPage(parent)
{
    m_label = makeLabel(3, QColor(71, 71, 71), this);
    m_label->setAlignment(Qt::AlignHCenter);
    m_label->setText(tr("This device needs updating"));

    auto* column = new TightVBoxLayout(this);
    column->addStretch();
    column->addWidget(m_label);
    column->addStretch();
}
