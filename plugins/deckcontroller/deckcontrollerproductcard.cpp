#include "plugins/deckcontroller/deckcontrollerproductcard.h"

#include "framework/accentcolour.h"
#include "framework/connectingstatuspage.h"
#include "framework/contract/family.h"
#include "plugins/deckcontroller/deckcontrollerconnection.h"
#include "plugins/deckcontroller/deckcontrollerfamily.h"
#include "plugins/deckcontroller/deckcontrollersettingspage.h"
#include "plugins/deckcontroller/visibledeckcontroller.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
#include <QStyle>
#include <QTextEdit>

DeckControllerProductCard::DeckControllerProductCard(VisibleDeckController* device,
                                                     QMainWindow* window)
    : ProductCard(device, window, accentColour())
    , m_device(device)
    , m_window(window)
    , m_connectingPage(new ConnectingStatusPage(nullptr))
    , m_settingsPage(new DeckControllerSettingsPage(device, this))
    , m_timer(std::make_unique<QTimer>())
    , m_updateError(new UpdateErrorDialog(tr("Error"), window))
    , m_unableToConnect(new UnableToConnectDialog(tr("Error"), window))
{
    m_timer->setSingleShot(true);
    m_updateError->showMessage(tr("Error"),
                               tr("Failed to update settings on the Deck Controller."));
    m_updateError->showSingleButton(tr("OK"));
    m_unableToConnect->showMessage(tr("Unable to connect"), tr("No Deck Controller was found."));
    m_unableToConnect->showSingleButton(tr("OK"));

    DeckControllerConnection* connection = device ? device->connection() : nullptr;
    if (!connection)
        return;

    connect(m_timer.get(), &QTimer::timeout, this, &DeckControllerProductCard::onConnectionTimeout);
    if (Family* family = device->owner())
        connect(family, qOverload<VisibleDevice*>(&Family::deviceRemoved), this,
                &DeckControllerProductCard::onDeviceRemoved);
    connect(m_connectingPage, &ConnectingStatusPage::connectionCancelled, this,
            &DeckControllerProductCard::close);
    connect(m_updateError, &CommonDialog::closeClicked, m_updateError, &QWidget::close);
    connect(m_unableToConnect, &CommonDialog::closeClicked, m_unableToConnect, &QWidget::close);
    connect(m_settingsPage, &SettingsPage::closePage, this, &DeckControllerProductCard::close);
    connect(m_settingsPage, &DeckControllerSettingsPage::firmwareUpdateSignal, this,
            &DeckControllerProductCard::onFirmwareUpdateRequested);

    addPage(m_connectingPage);
    addPage(m_settingsPage);
    if (connection->status() != DeckControllerConnection::Connected) {
        m_timer->start(kConnectTimeoutMs);
        showPage(m_connectingPage);
    } else {
        showPage(m_settingsPage);
    }
    connect(connection, &DeckControllerConnection::connectionStatusChanged, this,
            [this](VisibleDeckController* d) { onConnectionStatusChanged(d); });
    show();
}

DeckControllerProductCard::~DeckControllerProductCard()
{
    // The dialogs belong to the main window; they go with the card that made them.
    delete m_updateError.data();
    delete m_unableToConnect.data();
    // A connecting page that never made it into the stack has no parent.
    if (!m_connectingPage->parent())
        delete m_connectingPage;
}

bool DeckControllerProductCard::isOwnDevice(VisibleDevice* device) const
{
    return device && device == static_cast<VisibleDevice*>(m_device);
}

void DeckControllerProductCard::onConnectionTimeout()
{
    hide();
    if (m_unableToConnect)
        m_unableToConnect->show();
}

void DeckControllerProductCard::onConnectionStatusChanged(VisibleDevice* device)
{
    if (!isOwnDevice(device))
        return;
    DeckControllerConnection* connection = m_device->connection();
    if (!connection)
        return;
    if (connection->status() == DeckControllerConnection::Connected) {
        m_timer->stop();
        showPage(m_settingsPage);
    } else if (connection->settingsUpdateFailed()) {
        m_timer->stop();
        if (m_updateError)
            m_updateError->show();
    }
}

void DeckControllerProductCard::onDeviceRemoved(VisibleDevice* device)
{
    if (isOwnDevice(device))
        close();
}

void DeckControllerProductCard::onFirmwareUpdateRequested(VisibleDevice* device)
{
    if (isOwnDevice(device))
        emit firmwareUpdateRequested(m_device, m_window);
}

QString DeckControllerProductCard::unitInformation() const
{
    IDeckControllerDevice* device = m_device ? m_device->device() : nullptr;
    if (!device)
        return {};
    QString text = QStringLiteral("** Current Firmware:\n");
    text += DeckControllerFamily::deviceReport(m_device, QStringLiteral("\n\tDevice:\n"));
    text += QStringLiteral("\n** Available Firmware:\n");
    uint16_t productId = 0;
    if (device->getProductId(productId)) {
        try {
            text += DeckControllerFamily::availableFirmwareReport(productId);
        } catch (const std::exception&) {
            // A product the plug-in carries nothing for.
        }
    }
    return text;
}

void DeckControllerProductCard::onShowProductEasterEgg()
{
    if (!m_device || !m_device->device())
        return;
    const QString report = unitInformation();
    QMessageBox box;
    box.setText(tr("Unit Information"));
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (grid) {
        grid->addItem(new QSpacerItem(500, 0, QSizePolicy::Fixed, QSizePolicy::Fixed), 1, 0, 1,
                      grid->columnCount());
        auto* edit = new QTextEdit;
        edit->setFixedSize(460, 300);
        edit->setLineWrapMode(QTextEdit::NoWrap);
        edit->setReadOnly(true);
        edit->setHtml(QStringLiteral("<pre>") + report.toHtmlEscaped() + QStringLiteral("</pre>"));
        grid->addWidget(edit, 1, 1, 1, grid->columnCount());
    }
    box.addButton(QMessageBox::Close);
    QPushButton* force = box.addButton(tr("Force Update!"), QMessageBox::ApplyRole);
    force->setIcon(box.style()->standardIcon(QStyle::SP_MessageBoxCritical));
    box.exec();
    if (box.clickedButton() == force)
        emit firmwareUpdateRequested(m_device, m_window);
}
