#include "host/footerleftregion.h"

#include "framework/flatimagebutton.h"
#include "framework/secretbutton.h"
#include "framework/style.h"
#include "host/crossmenu.h"

FooterLeftRegion::FooterLeftRegion(QWidget* parent)
    : QFrame(parent)
    , m_menu(new CrossMenu(this))
    , m_crossButton(new FlatImageButton(loadHiDpiPixmap(QStringLiteral(":/Cross")), this))
    , m_secretButton(new SecretButton(this))
{
    setFixedSize(110, 64);
    m_crossButton->setHoverPixmap(QStringLiteral(":/Cross_Hover"));
    m_crossButton->move(40, 0);
    m_crossButton->hide();
    m_secretButton->setGeometry(0, 44, 20, 20);
    connect(m_crossButton, &QAbstractButton::clicked, this,
            &FooterLeftRegion::onCrossButtonClicked);
    connect(m_secretButton, &SecretButton::secretClick, this, &FooterLeftRegion::easterEggClicked);
    connect(m_menu, &CrossMenu::menuOptionSelected, this,
            &FooterLeftRegion::crossMenuOptionSelected);
}

void FooterLeftRegion::setOptions(const QStringList& options)
{
    m_options = options;
    m_crossButton->setVisible(!options.isEmpty());
    if (options.size() >= 2)
        m_menu->setOptions(options);
}

void FooterLeftRegion::onCrossButtonClicked()
{
    if (m_options.isEmpty())
        return;
    if (m_options.size() == 1) {
        Q_EMIT crossMenuOptionSelected(m_options.first());
        return;
    }
    const int above = -10 - m_menu->sizeHint().height();
    m_menu->popup(m_crossButton->mapToGlobal(QPoint(0, above)));
}
