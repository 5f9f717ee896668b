#pragma once

#include <QFrame>

class FlatImageButton;

// The switch between the gallery and a family's list of devices.
class ViewSelectionBar : public QFrame
{
    Q_OBJECT
public:
    explicit ViewSelectionBar(QWidget* parent = nullptr);

    // 0 before the first choice, 1 gallery, 2 list.
    int state() const { return m_state; }
    FlatImageButton* galleryButton() const { return m_galleryButton; }
    FlatImageButton* listButton() const { return m_listButton; }

Q_SIGNALS:
    void galleryViewSelected();
    void listViewSelected();

public Q_SLOTS:
    void onListViewSelected();
    void onGalleryViewSelected();

private:
    FlatImageButton* m_galleryButton;
    FlatImageButton* m_listButton;
    int m_state = 0;
};
