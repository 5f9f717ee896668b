#include "host/dotswidget.h"

#include "framework/contract/devicelist.h"
#include "framework/contract/visibledevice.h"
#include "framework/flatimagebutton.h"
#include "framework/style.h"
#include "framework/tighthboxlayout.h"

DotsWidget::DotsWidget(DeviceList* list, QWidget* parent)
    : QFrame(parent)
    , m_layout(new TightHBoxLayout(this))
    , m_off(loadHiDpiPixmap(QStringLiteral(":/Dot_Off")))
    , m_on(loadHiDpiPixmap(QStringLiteral(":/Dot_On")))
    , m_list(list)
{
    m_layout->setSpacing(6);
    connect(list, &DeviceList::deviceListAdded, this, &DotsWidget::onDeviceListChanged);
    connect(list, &DeviceList::deviceListRemoved, this, &DotsWidget::onDeviceListChanged);
    connect(list, &DeviceList::deviceListSelected, this, &DotsWidget::onDeviceListChanged);
    onDeviceListChanged(nullptr);
}

void DotsWidget::onDeviceListChanged(VisibleDevice*)
{
    const int count = m_list->count();
    while (m_dots.size() < count) {
        auto* dot = new FlatImageButton(m_off, this);
        connect(dot, &QAbstractButton::clicked, this, &DotsWidget::onDotClicked);
        m_layout->addWidget(dot);
        m_dots.append(dot);
    }
    while (m_dots.size() > count) {
        FlatImageButton* dot = m_dots.takeFirst();
        m_layout->removeWidget(dot);
        dot->hide();
        dot->deleteLater();
    }
    for (FlatImageButton* dot : std::as_const(m_dots))
        dot->setVisible(m_dots.size() > 1);
    // Devices listed but none selected: no dot is lit.
    m_current = count > 0 ? m_list->selectedIndex() : -1;
    restyle();
}

void DotsWidget::onDotClicked()
{
    auto* dot = qobject_cast<FlatImageButton*>(sender());
    m_current = int(m_dots.indexOf(dot));
    restyle();
    m_list->select(m_current);
}

void DotsWidget::restyle()
{
    for (int i = 0; i < m_dots.size(); ++i)
        m_dots.at(i)->setPixmap(i == m_current ? m_on : m_off);
}
