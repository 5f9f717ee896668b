#include "plugins/deckcontroller/deckcontrollersettingspage.h"

#include "framework/accentcolour.h"
#include "framework/cardpushbutton.h"
#include "framework/settingslabel.h"
#include "framework/settingslineedit.h"
#include "framework/settingstab.h"
#include "framework/style.h"
#include "plugins/deckcontroller/deckcontrollerconnection.h"
#include "plugins/deckcontroller/maxutf8lengthvalidator.h"
#include "plugins/deckcontroller/visibledeckcontroller.h"

#include <QLabel>

DeckControllerSettingsPage::DeckControllerSettingsPage(VisibleDeckController* device,
                                                       QWidget* parent)
    : SettingsPage(parent)
    , m_device(device)
    , m_tab(new SettingsTab)
{
    setSettingsButtonVisible(false);
    addTab(m_tab, tr("About"));
    m_tab->addSection(tr("Controller Settings"));
    m_nameField = m_tab->addLineEdit(tr("Name:"), SettingsLineEdit::NoValidator);
    m_nameField->setMinimumWidth(385);
    m_nameField->setValidator(MaxUtf8LengthValidator::unitName());

    IDeckControllerDevice* unit = device ? device->device() : nullptr;
    if (unit && !unit->isFirmwareCurrent()) {
        if (unit->isFirmwareCompatible()) {
            ValueWithButton row =
                m_tab->addValueWithButton(tr("Available Software Version:"),
                                          device->availableVersion(), tr("Update Now"), true);
            connect(row.button, &QAbstractButton::clicked, this,
                    &DeckControllerSettingsPage::onFirmwareUpdate);
            row.button->move(row.value->x() + 35, row.button->y());
        } else {
            SettingsLabel* value =
                m_tab->addTextRow(tr("Available Software Version:"), device->availableVersion());
            QPalette palette = value->palette();
            palette.setBrush(QPalette::All, QPalette::WindowText, accentColour());
            value->setPalette(palette);
            value->setFont(scaledFont(4));
            auto* icon = new QLabel(value);
            icon->setFixedWidth(17);
            icon->move(30, icon->y());
            icon->setPixmap(QPixmap(QStringLiteral(":/Field_Icon_Alert")));
            auto* warning =
                new QLabel(tr("This firmware is not compatible with your device."), value);
            warning->setStyleSheet(QStringLiteral("QLabel { color: rgba(212, 31, 46, 50%); } "));
            warning->setFont(scaledFont(7));
            warning->move(icon->x() + icon->width() + 12, icon->y());
        }
    }
    m_tab->addTextRow(tr("Software Version:"), device ? device->softwareVersion() : QString());
    m_tab->finishBookmarks();

    if (device)
        connect(device, &VisibleDeckController::deviceUnitNameChanged, this,
                &DeckControllerSettingsPage::onSettingsUpdate);
    std::string name;
    if (unit && unit->getUnitName(name))
        m_nameField->setText(QString::fromStdString(name));
}

void DeckControllerSettingsPage::saveSettings()
{
    IDeckControllerDevice* unit = m_device ? m_device->device() : nullptr;
    if (!unit)
        return;
    // What editing would have made of the text; a name the unit cannot take is not sent.
    QString name = m_nameField->text();
    const MaxUtf8LengthValidator* validator = MaxUtf8LengthValidator::unitName();
    validator->fixup(name);
    int position = 0;
    if (validator->validate(name, position) == QValidator::Acceptable) {
        m_nameField->setText(name);
        unit->setUnitName(name.toStdString());
    }
    if (DeckControllerConnection* connection = m_device->connection())
        connection->applySettings();
}

void DeckControllerSettingsPage::onSavePressed()
{
    saveSettings();
    emit closePage();
}

void DeckControllerSettingsPage::onFirmwareUpdate()
{
    emit firmwareUpdateSignal(m_device);
    emit closePage();
}

void DeckControllerSettingsPage::onSettingsUpdate()
{
    IDeckControllerDevice* unit = m_device ? m_device->device() : nullptr;
    std::string name;
    if (unit && unit->getUnitName(name))
        m_nameField->setText(QString::fromStdString(name));
}
