#include "host/windowfooter.h"

#include "framework/contract/devicelist.h"
#include "framework/contract/visibledevice.h"
#include "framework/tighthboxlayout.h"
#include "host/dotswidget.h"
#include "host/footerleftregion.h"
#include "host/viewselectionbar.h"

#include <QSpacerItem>

WindowFooter::WindowFooter(DeviceList* list, QWidget* parent, bool hasListView)
    : QFrame(parent)
    , m_leftRegion(new FooterLeftRegion(this))
    , m_dots(new DotsWidget(list, this))
    , m_list(list)
{
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(31, 31, 31));
    setPalette(palette);
    setAutoFillBackground(true);

    auto* layout = new TightHBoxLayout(this);
    layout->addWidget(m_leftRegion);
    layout->addStretch();
    layout->addWidget(m_dots, 0, Qt::AlignTop);
    layout->addStretch();
    if (hasListView) {
        m_viewBar = new ViewSelectionBar(this);
        layout->addWidget(m_viewBar, 0, Qt::AlignTop);
        layout->addSpacing(40);
        connect(m_viewBar, &ViewSelectionBar::galleryViewSelected, this,
                &WindowFooter::galleryViewSelected);
        connect(m_viewBar, &ViewSelectionBar::listViewSelected, this,
                &WindowFooter::listViewSelected);
    } else {
        layout->addSpacerItem(new QSpacerItem(100, 20, QSizePolicy::Minimum, QSizePolicy::Fixed));
    }

    connect(m_leftRegion, &FooterLeftRegion::crossMenuOptionSelected, this,
            &WindowFooter::crossMenuOptionSelected);
    connect(m_leftRegion, &FooterLeftRegion::easterEggClicked, this,
            &WindowFooter::easterEggClicked);
    connect(list, &DeviceList::deviceListAdded, this, &WindowFooter::onDeviceListChanged);
    connect(list, &DeviceList::deviceListRemoved, this, &WindowFooter::onDeviceListChanged);
    connect(list, &DeviceList::deviceListSelected, this, &WindowFooter::onDeviceListChanged);
    onDeviceListChanged(nullptr);
}

void WindowFooter::setCrossMenuOptions(const QStringList& options)
{
    m_leftRegion->setOptions(options);
}

void WindowFooter::onDeviceListChanged(VisibleDevice*)
{
    const bool handlesDots = !m_viewBar || m_viewBar->state() == 1;
    // The test is the selection, not the count.
    if (!m_list->selectedDevice()) {
        if (handlesDots)
            m_dots->hide();
        if (m_viewBar)
            m_viewBar->hide();
        Q_EMIT galleryViewSelected();
        return;
    }
    if (m_viewBar)
        m_viewBar->show();
    if (handlesDots)
        m_dots->show();
}
