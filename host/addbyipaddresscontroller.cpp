#include "host/addbyipaddresscontroller.h"

#include "framework/contract/family.h"
#include "host/addbyipaddressdialog.h"
#include "host/bonjourservice.h"
#include "host/dialoglineedit.h"
#include "host/hostlog.h"

#include <QDebug>
#include <QWidget>

AddByIpAddressController::AddByIpAddressController(QObject* parent, const QList<Family*>* families,
                                                   BonjourService* bonjour)
    : QObject(parent)
    , m_families(families)
    , m_bonjour(bonjour)
{
}

AddByIpAddressController::~AddByIpAddressController()
{
    if (m_dialog) {
        m_dialog->close();
        m_dialog->deleteLater();
    }
}

void AddByIpAddressController::showDialog()
{
    if (!m_dialog) {
        m_dialog = new AddByIpAddressDialog(qobject_cast<QWidget*>(parent()));
        connect(m_dialog, &AddByIpAddressDialog::addDevice, this, &AddByIpAddressController::onAdd);
        connect(m_dialog, &AddByIpAddressDialog::addCancelled, this,
                &AddByIpAddressController::onBusyCancelled);
        connect(m_dialog, &AddByIpAddressDialog::closeClicked, this,
                &AddByIpAddressController::onClosed);
    }
    m_dialog->setState(AddByIpAddressDialog::Input);
    m_dialog->show();
    m_dialog->raise();
    m_dialog->lineEdit()->setFocus();
}

void AddByIpAddressController::onAdd()
{
    ++m_chain;
    m_dialog->setState(AddByIpAddressDialog::Checking);
    m_pendingServiceNames.clear();
    for (Family* family : *m_families) {
        const QSet<QString> names = family->serviceNames();
        for (const QString& name : names) {
            // The default type is asked first anyway.
            if (!name.isEmpty())
                m_pendingServiceNames.insert(name);
        }
    }
    // The first question is always for the default type.
    queryService(QString());
}

void AddByIpAddressController::endChain()
{
    ++m_chain;
    m_pendingServiceNames.clear();
}

void AddByIpAddressController::onBusyCancelled()
{
    endChain();
    m_dialog->setState(AddByIpAddressDialog::Input);
    m_dialog->hide();
}

void AddByIpAddressController::onClosed()
{
    endChain();
    m_dialog->setState(AddByIpAddressDialog::Input);
    m_dialog->hide();
}

void AddByIpAddressController::queryService(const QString& serviceName)
{
    if (!m_bonjour || !m_dialog)
        return;
    const quint64 chain = m_chain;
    QPointer<AddByIpAddressController> self(this);
    m_bonjour->query(
        m_dialog->address().toStdString(),
        [self, chain](bool success, const BonjourInfo& info) {
            if (!self)
                return;
            if (chain == self->m_chain) {
                self->onBonjourInfoQueryReceived(success, info);
                return;
            }
            // The user gave up on this address, yet the device is there: still add it.
            if (success)
                Q_EMIT self->deviceAddedByIP(info);
        },
        serviceName.toStdString());
}

void AddByIpAddressController::onBonjourInfoQueryReceived(bool success, BonjourInfo info)
{
    if (success) {
        endChain();
        Q_EMIT deviceAddedByIP(info);
        if (m_dialog) {
            m_dialog->setState(AddByIpAddressDialog::Input);
            m_dialog->hide();
        }
        return;
    }
    if (m_pendingServiceNames.isEmpty()) {
        if (m_dialog)
            m_dialog->setState(AddByIpAddressDialog::Failed);
        return;
    }
    const QString name = *m_pendingServiceNames.begin();
    m_pendingServiceNames.remove(name);
    const QString serviceName = name + QStringLiteral(".local");
    qCDebug(lcHost).noquote() << QStringLiteral("Looking for service: ") + serviceName;
    queryService(serviceName);
}
