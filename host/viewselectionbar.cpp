#include "host/viewselectionbar.h"

#include "framework/flatimagebutton.h"
#include "framework/style.h"
#include "framework/tighthboxlayout.h"

ViewSelectionBar::ViewSelectionBar(QWidget* parent)
    : QFrame(parent)
    , m_galleryButton(new FlatImageButton(loadHiDpiPixmap(QStringLiteral(":/Gallery")), this))
    , m_listButton(new FlatImageButton(loadHiDpiPixmap(QStringLiteral(":/List")), this))
{
    m_galleryButton->setHoverPixmap(QStringLiteral(":/GalleryHover"));
    m_listButton->setHoverPixmap(QStringLiteral(":/ListHover"));
    auto* layout = new TightHBoxLayout(this);
    layout->addWidget(m_galleryButton);
    layout->addSpacing(20);
    layout->addWidget(m_listButton);
    setMinimumSize(50, 30);
    connect(m_galleryButton, &QAbstractButton::clicked, this,
            &ViewSelectionBar::onGalleryViewSelected);
    connect(m_listButton, &QAbstractButton::clicked, this, &ViewSelectionBar::onListViewSelected);
}

void ViewSelectionBar::onListViewSelected()
{
    m_state = 2;
    Q_EMIT listViewSelected();
}

void ViewSelectionBar::onGalleryViewSelected()
{
    m_state = 1;
    Q_EMIT galleryViewSelected();
}
