#include "framework/firmwareupdaterow.h"

#include "framework/accentcolour.h"
#include "framework/cardpushbutton.h"
#include "framework/settingslabel.h"
#include "framework/style.h"

#include <QLabel>

namespace {

QLabel* makeRowLabel(const QColor& colour, QWidget* parent, int x, int y, int width,
                     const QString& text)
{
    QLabel* label = makeLabel(7, colour, parent);
    label->setText(text);
    label->setFixedWidth(width);
    label->adjustSize();
    label->move(x, y);
    return label;
}

} // namespace

FirmwareUpdateRow::FirmwareUpdateRow(const QString& currentVersion, const QString& availableVersion,
                                     bool updateAvailable, bool incompatible, QWidget* parent)
    : QFrame(parent)
{
    const QString current = currentVersion.isEmpty() ? tr("Unknown") : currentVersion;
    const QString available = availableVersion.isEmpty() ? tr("Unknown") : availableVersion;
    const QColor grey(71, 71, 71);
    const Qt::Alignment captionAlignment = Qt::AlignRight | Qt::AlignVCenter;

    if (updateAvailable) {
        makeRowLabel(grey, this, 30, 7, 160, tr("Available Software Version:"))
            ->setAlignment(captionAlignment);
        QLabel* value =
            makeRowLabel(accentColour(), this, 214, 7, 476,
                         incompatible ? tr("%1").arg(available)
                                      : tr("%1 is available for update").arg(available));
        if (incompatible) {
            value->adjustSize();
            auto* icon = new QLabel(this);
            icon->setPixmap(loadHiDpiPixmap(QStringLiteral(":/Field_Icon_Alert")));
            icon->adjustSize();
            icon->move(254, 7);
            makeRowLabel(QColor(212, 31, 46), this, 284, 7, 385,
                         tr("This software is not compatible with your device."));
        } else {
            m_updateButton = new CardPushButton(tr("Update Now"), QSize(114, 25), this);
            m_updateButton->move(476, 3);
            connect(m_updateButton, &QAbstractButton::clicked, this,
                    &FirmwareUpdateRow::updateFirmware);
        }
    }

    const int y = updateAvailable ? 38 : 7;
    makeRowLabel(grey, this, 30, y, 160,
                 updateAvailable ? tr("Device Software Version:") : tr("Software Version:"))
        ->setAlignment(captionAlignment);
    auto* version = new SettingsLabel(current, this);
    version->setFixedWidth(385);
    version->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    version->adjustSize();
    version->move(214, y);

    setFixedHeight(updateAvailable ? 62 : 31);
}
