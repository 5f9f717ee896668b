#pragma once

#include <QJsonValue>
#include <QObject>
#include <QString>

// A native service published to the device's web page under a fixed channel name. Arguments from
// the page arrive as JSON values and are checked here: a page may send anything.
class WebChannelAPI : public QObject
{
    Q_OBJECT
public:
    explicit WebChannelAPI(QString channelName, QObject* parent = nullptr);

    QString channelName() const { return m_channelName; }

protected:
    // The value's text when it is a string; otherwise logs the refusal and answers false.
    bool stringArgument(const QJsonValue& value, const char* method, QString* text) const;
    // The value when it is a whole number that fits an int; otherwise logs the refusal.
    bool intArgument(const QJsonValue& value, const char* member, int* number) const;

private:
    void refuse(const char* member, const char* expected) const;

    QString m_channelName;
};
