#pragma once

#include "framework/productcardbase.h"

#include <QColor>

class CardHeader;
class QStackedWidget;
class StatusPage;
class VisibleDevice;

// A device's card: its header over a stack of pages, one shown at a time. Each plug-in derives
// its own card from it.
class ProductCard : public ProductCardBase
{
    Q_OBJECT
public:
    ProductCard(VisibleDevice* device, QWidget* window, const QColor& accent);

    // The stack takes the page; the first page added is the one shown.
    void addPage(StatusPage* page);
    void showPage(StatusPage* page);
    // The page shown now, or null when the stack is empty.
    StatusPage* currentPage() const;
    // Takes the shown page out of the stack and deletes it once control returns to the event
    // loop, so a page may ask for this from inside its own signal.
    void deleteCurrentPage();

    // Shows the device's current display name under the product name.
    void showDeviceName(VisibleDevice* device);

    QWidget* mainWindow() const { return m_window; }
    CardHeader* header() const { return m_header; }
    QStackedWidget* pages() const { return m_pages; }
    QColor accent() const { return m_accent; }

public Q_SLOTS:
    virtual void onShowProductEasterEgg();

private:
    QWidget* m_window;
    QStackedWidget* m_pages;
    CardHeader* m_header;
    QColor m_accent;
};
