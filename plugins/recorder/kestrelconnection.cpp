#include "plugins/recorder/kestrelconnection.h"

KestrelConnection::KestrelConnection(quint32 model, QObject* parent)
    : QObject(parent)
    , m_model(model)
{
}

quint32 KestrelConnection::model()
{
    return m_model;
}

bool KestrelConnection::isOpen()
{
    return m_open;
}

bool KestrelConnection::hasSettingsError()
{
    return m_settingsError;
}

void KestrelConnection::setSettings(const KestrelSettings& settings)
{
    if (settings == m_settings && !m_settingsError)
        return;
    m_settings = settings;
    flush();
}

void KestrelConnection::retryWrite()
{
    flush();
}

void KestrelConnection::flush()
{
    if (writeSettings(m_settings)) {
        m_settingsError = false;
        emit settingsFlushed();
    } else {
        m_settingsError = true;
    }
}

void KestrelConnection::updateCache(const KestrelSettings& settings)
{
    if (settings == m_settings)
        return;
    m_settings = settings;
    emit settingsChanged();
}
