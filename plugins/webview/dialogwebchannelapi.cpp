#include "dialogwebchannelapi.h"

DialogWebChannelAPI::DialogWebChannelAPI(QObject* parent)
    : WebChannelAPI(QStringLiteral("DialogAPI"), parent)
{
}

void DialogWebChannelAPI::setMaxDialogWidth(int width)
{
    if (width == m_maxWidth)
        return;
    m_maxWidth = width;
    emit onMaxDialogWidthChanged(width);
}

void DialogWebChannelAPI::setMaxDialogHeight(int height)
{
    if (height == m_maxHeight)
        return;
    m_maxHeight = height;
    emit onMaxDialogHeightChanged(height);
}

void DialogWebChannelAPI::setMaxDialogWidthValue(const QVariant& width)
{
    int value = 0;
    if (intArgument(QJsonValue::fromVariant(width), "maxDialogWidth", &value))
        setMaxDialogWidth(value);
}

void DialogWebChannelAPI::setMaxDialogHeightValue(const QVariant& height)
{
    int value = 0;
    if (intArgument(QJsonValue::fromVariant(height), "maxDialogHeight", &value))
        setMaxDialogHeight(value);
}

void DialogWebChannelAPI::initialSizeSet()
{
    emit onInitialSizeSet();
}
