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

void DialogWebChannelAPI::initialSizeSet()
{
    emit onInitialSizeSet();
}
