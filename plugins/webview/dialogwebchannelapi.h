#pragma once

#include "webchannelapi.h"

// "DialogAPI": how large a dialog window the page wants, and when it is ready to show.
class DialogWebChannelAPI : public WebChannelAPI
{
    Q_OBJECT
    Q_PROPERTY(int maxDialogWidth READ maxDialogWidth WRITE setMaxDialogWidth NOTIFY
                   onMaxDialogWidthChanged)
    Q_PROPERTY(int maxDialogHeight READ maxDialogHeight WRITE setMaxDialogHeight NOTIFY
                   onMaxDialogHeightChanged)
public:
    explicit DialogWebChannelAPI(QObject* parent = nullptr);

    int maxDialogWidth() const { return m_maxWidth; }
    int maxDialogHeight() const { return m_maxHeight; }
    void setMaxDialogWidth(int width);
    void setMaxDialogHeight(int height);

Q_SIGNALS:
    void onMaxDialogWidthChanged(int maxWidth);
    void onMaxDialogHeightChanged(int maxHeight);
    void onInitialSizeSet();

public Q_SLOTS:
    void initialSizeSet();

private:
    int m_maxWidth = -1;
    int m_maxHeight = -1;
};
