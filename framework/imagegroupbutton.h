#pragma once

#include <QColor>
#include <QFrame>

class FlatImageButton;
class QLabel;

// A picture to choose among others, with an optional caption under it. Unless plain, the
// picture is faded until it is chosen.
class ImageGroupButton : public QFrame
{
    Q_OBJECT
public:
    ImageGroupButton(const QPixmap& picture, const QString& caption, bool plain,
                     QWidget* parent = nullptr);
    ImageGroupButton(const QPixmap& picture, bool plain, QWidget* parent = nullptr);

    FlatImageButton* button() const { return m_button; }
    QLabel* caption() const { return m_caption; }
    bool isPlain() const { return m_plain; }

public Q_SLOTS:
    void onToggled(bool checked);

private:
    FlatImageButton* m_button;
    QLabel* m_caption = nullptr;
    QColor m_checkedColour;
    QColor m_uncheckedColour;
    QColor m_disabledColour;
    bool m_plain;
};
