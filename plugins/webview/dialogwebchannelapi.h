#pragma once

#include "webchannelapi.h"

#include <QVariant>

// "DialogAPI": how large a dialog window the page wants, and when it is ready to show.
// The page sees the maxima as numbers; what it writes is checked before it is taken.
class DialogWebChannelAPI : public WebChannelAPI
{
    Q_OBJECT
    // Typed QVariant, so the channel hands over what the page wrote without converting it.
    Q_PROPERTY(QVariant maxDialogWidth READ maxDialogWidthValue WRITE setMaxDialogWidthValue
                   NOTIFY onMaxDialogWidthChanged)
    Q_PROPERTY(QVariant maxDialogHeight READ maxDialogHeightValue WRITE setMaxDialogHeightValue
                   NOTIFY onMaxDialogHeightChanged)
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
    QVariant maxDialogWidthValue() const { return m_maxWidth; }
    QVariant maxDialogHeightValue() const { return m_maxHeight; }
    void setMaxDialogWidthValue(const QVariant& width);
    void setMaxDialogHeightValue(const QVariant& height);

    int m_maxWidth = -1;
    int m_maxHeight = -1;
};
