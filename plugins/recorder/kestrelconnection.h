#pragma once

#include "plugins/recorder/kestrelsettings.h"

#include <QObject>

// The card's live link to one recorder while its card is open.
class KestrelConnection : public QObject
{
    Q_OBJECT
public:
    KestrelConnection(quint32 model, QObject* parent);

    KestrelSettings settings() const { return m_settings; }

signals:
    void deviceBusy();
    // force: the unit's firmware cannot record the settings just written.
    void requiresFirmwareUpdate(bool force);
    void settingsChanged();
    void settingsFlushed();
    void connectionOpened();
    void connectionClosed();
    void connectionLost();

public slots:
    virtual quint32 model();
    virtual void startPolling() = 0;
    virtual bool isOpen();
    virtual void stopPolling() = 0;
    virtual bool hasSettingsError();
    virtual bool writeSettings(const KestrelSettings& settings) = 0;

public:
    // The user's settings: written when they differ from the cache or the last write failed.
    void setSettings(const KestrelSettings& settings);
    // Writes the cached settings again, after a firmware update.
    void retryWrite();

protected:
    // Takes a record read from the unit; announces it when it differs from the cache.
    void updateCache(const KestrelSettings& settings);
    void flush();

    bool m_open = false;
    bool m_settingsError = false;
    quint32 m_model = 0;
    KestrelSettings m_settings;
};
