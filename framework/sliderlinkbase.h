#pragma once

#include <QFrame>
#include <QPixmap>

class FlatImageButton;
class LinkBar;

// The bracket between two sliders with the button that links and unlinks them.
class SliderLinkBase : public QFrame
{
    Q_OBJECT
public:
    explicit SliderLinkBase(QWidget* parent = nullptr);

    bool isLinked() const { return m_linked; }
    FlatImageButton* linkButton() const { return m_linkButton; }
    LinkBar* topBar() const { return m_topBar; }
    LinkBar* bottomBar() const { return m_bottomBar; }

Q_SIGNALS:
    void onSliderLinkClicked(bool linked);

public Q_SLOTS:
    virtual void onLinkButtonClicked(bool linked);

protected:
    FlatImageButton* m_linkButton;
    LinkBar* m_topBar;
    LinkBar* m_bottomBar;
    QPixmap m_link;
    QPixmap m_unlink;
    QPixmap m_linkDisabled;
    QPixmap m_unlinkDisabled;
    bool m_linked = false;
};
