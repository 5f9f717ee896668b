#include "framework/sliderlinkbase.h"

#include "framework/flatimagebutton.h"
#include "framework/linkbar.h"
#include "framework/style.h"
#include "framework/tightvboxlayout.h"

SliderLinkBase::SliderLinkBase(QWidget* parent)
    : QFrame(parent)
    , m_link(loadHiDpiPixmap(QStringLiteral(":/Link")))
    , m_unlink(loadHiDpiPixmap(QStringLiteral(":/Unlink")))
    , m_linkDisabled(loadHiDpiPixmap(QStringLiteral(":/Link_Disabled")))
    , m_unlinkDisabled(loadHiDpiPixmap(QStringLiteral(":/Unlink_Disabled")))
{
    m_topBar = new LinkBar(LinkBar::Top, this);
    m_topBar->setFixedWidth(26);
    m_bottomBar = new LinkBar(LinkBar::Bottom, this);
    m_bottomBar->setFixedWidth(26);

    m_linkButton = new FlatImageButton(m_unlink, this);
    m_linkButton->setCheckable(true);
    m_linkButton->setDisabledPixmap(m_unlinkDisabled);
    // Shows whether the sliders move together.
    m_linkButton->setCheckedPixmap(m_link);

    auto* column = new TightVBoxLayout(this);
    column->addWidget(m_topBar);
    column->addWidget(m_linkButton, 0, Qt::AlignRight);
    column->addWidget(m_bottomBar);

    connect(m_linkButton, &QAbstractButton::clicked, this, &SliderLinkBase::onLinkButtonClicked);
}

void SliderLinkBase::onLinkButtonClicked(bool linked)
{
    m_linked = linked;
    m_linkButton->setDisabledPixmap(linked ? m_linkDisabled : m_unlinkDisabled);
    m_linkButton->setChecked(linked);
    m_topBar->update();
    m_bottomBar->update();
    update();
    Q_EMIT onSliderLinkClicked(linked);
}
