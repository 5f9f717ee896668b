#include "framework/productcard.h"

#include "framework/cardheader.h"
#include "framework/contract/visibledevice.h"
#include "framework/elidedlabel.h"
#include "framework/statuspage.h"
#include "framework/tightvboxlayout.h"

#include <QMessageBox>
#include <QStackedWidget>

ProductCard::ProductCard(VisibleDevice* device, QWidget* window, const QColor& accent)
    : ProductCardBase(window)
    , m_window(window)
    , m_accent(accent)
{
    auto* column = new TightVBoxLayout(body());

    m_header = new CardHeader(device);
    column->addWidget(m_header);
    connect(m_header, &CardHeader::showEasterEgg, this, &ProductCard::onShowProductEasterEgg);

    m_pages = new QStackedWidget;
    m_pages->setObjectName(QStringLiteral("productCardBottom"));
    column->addWidget(m_pages);
}

void ProductCard::addPage(StatusPage* page)
{
    m_pages->addWidget(page);
}

void ProductCard::showPage(StatusPage* page)
{
    m_pages->setCurrentWidget(page);
}

StatusPage* ProductCard::currentPage() const
{
    return qobject_cast<StatusPage*>(m_pages->currentWidget());
}

void ProductCard::deleteCurrentPage()
{
    QWidget* page = m_pages->currentWidget();
    if (!page)
        return;
    m_pages->removeWidget(page);
    page->hide();
    page->deleteLater();
}

void ProductCard::showDeviceName(VisibleDevice* device)
{
    if (device)
        m_header->subtitleLabel()->setText(device->displayName());
}

void ProductCard::onShowProductEasterEgg()
{
    QMessageBox box(m_window);
    box.setWindowModality(Qt::WindowModal);
    box.setText(QStringLiteral("No device specific details"));
    box.exec();
}
