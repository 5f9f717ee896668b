#include "framework/imagegroupbutton.h"

#include "framework/flatimagebutton.h"
#include "framework/style.h"
#include "framework/tightvboxlayout.h"

#include <QLabel>

ImageGroupButton::ImageGroupButton(const QPixmap& picture, const QString& caption, bool plain,
                                   QWidget* parent)
    : QFrame(parent)
    , m_checkedColour(94, 94, 94, 255)
    , m_uncheckedColour(94, 94, 94, 127)
    , m_disabledColour(71, 71, 71, 100)
    , m_plain(plain)
{
    m_button = new FlatImageButton(picture);
    m_button->setCheckable(true);
    if (!plain && !picture.isNull()) {
        m_button->setPixmap(fadedPixmap(picture, 0));
        m_button->setHoverPixmap(fadedPixmap(picture, 2));
        m_button->setCheckedPixmap(fadedPixmap(picture, 1));
    } else {
        m_button->setHoverPixmap(picture);
        m_button->setCheckedPixmap(picture);
    }
    const qreal ratio = picture.devicePixelRatio() > 0 ? picture.devicePixelRatio() : 1.0;
    m_button->setFixedSize(int(picture.width() / ratio), int(picture.height() / ratio));

    auto* column = new TightVBoxLayout(this);
    column->addWidget(m_button, 0, Qt::AlignHCenter);
    if (!caption.isEmpty()) {
        column->addSpacing(8);
        m_caption = new QLabel(caption);
        m_caption->setFont(scaledFont(4));
        m_caption->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        column->addWidget(m_caption);
        if (!plain)
            connect(m_button, &QAbstractButton::toggled, this, &ImageGroupButton::onToggled);
    }
    setMaximumSize(column->sizeHint());
    onToggled(m_button->isChecked());
}

ImageGroupButton::ImageGroupButton(const QPixmap& picture, bool plain, QWidget* parent)
    : ImageGroupButton(picture, QString(), plain, parent)
{
}

void ImageGroupButton::onToggled(bool checked)
{
    if (!m_caption)
        return;
    setTextColours(m_caption, m_plain || checked ? m_checkedColour : m_uncheckedColour,
                   m_disabledColour);
}
