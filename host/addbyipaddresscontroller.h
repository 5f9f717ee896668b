#pragma once

#include "discovery/records/bonjourinfo.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include "host/addbyipaddressdialog.h"
#include <QSet>
#include <QString>

class BonjourService;
class Family;

// Adds a device that multicast cannot reach: asks the typed host by unicast DNS-SD for the
// default service type, then for each type the families declare, and hands the first
// instance found to the window like a browsed one.
class AddByIpAddressController : public QObject
{
    Q_OBJECT
public:
    AddByIpAddressController(QObject* parent, const QList<Family*>* families,
                             BonjourService* bonjour);
    ~AddByIpAddressController() override;

    void showDialog();
    AddByIpAddressDialog* dialog() const { return m_dialog; }

Q_SIGNALS:
    void deviceAddedByIP(BonjourInfo info);

private Q_SLOTS:
    void onAdd();
    void onBusyCancelled();
    void onClosed();
    void onBonjourInfoQueryReceived(bool success, BonjourInfo info);

private:
    void queryService(const QString& serviceName);
    void endChain();

    const QList<Family*>* m_families;
    QPointer<AddByIpAddressDialog> m_dialog;
    QSet<QString> m_pendingServiceNames;
    BonjourService* m_bonjour;
    // Answers of a chain that was cancelled or replaced no longer steer the dialog.
    quint64 m_chain = 0;
};
