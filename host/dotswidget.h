#pragma once

#include <QFrame>
#include <QList>
#include <QPixmap>

class DeviceList;
class FlatImageButton;
class TightHBoxLayout;
class VisibleDevice;

// One dot per listed device, the selected one lit; a click on a dot selects its device.
class DotsWidget : public QFrame
{
    Q_OBJECT
public:
    DotsWidget(DeviceList* list, QWidget* parent = nullptr);

    QList<FlatImageButton*> dots() const { return m_dots; }
    // -1 while no device is selected.
    int currentDot() const { return m_current; }

public Q_SLOTS:
    void onDotClicked();
    void onDeviceListChanged(VisibleDevice* device);

private:
    void restyle();

    TightHBoxLayout* m_layout;
    QList<FlatImageButton*> m_dots;
    QPixmap m_off;
    QPixmap m_on;
    int m_current = -1;
    DeviceList* m_list;
};
