#pragma once

#include <QFrame>
#include <QStringList>

class DeviceList;
class DotsWidget;
class FooterLeftRegion;
class ViewSelectionBar;
class VisibleDevice;

// The band below the pages: commands, device dots and the view switch.
class WindowFooter : public QFrame
{
    Q_OBJECT
public:
    WindowFooter(DeviceList* list, QWidget* parent, bool hasListView);

    void setCrossMenuOptions(const QStringList& options);

    FooterLeftRegion* leftRegion() const { return m_leftRegion; }
    DotsWidget* dots() const { return m_dots; }
    // Null without a list view.
    ViewSelectionBar* viewBar() const { return m_viewBar; }

Q_SIGNALS:
    void crossMenuOptionSelected(QString option);
    void easterEggClicked();
    void galleryViewSelected();
    void listViewSelected();

public Q_SLOTS:
    void onDeviceListChanged(VisibleDevice* device);

private:
    FooterLeftRegion* m_leftRegion;
    DotsWidget* m_dots;
    ViewSelectionBar* m_viewBar = nullptr;
    DeviceList* m_list;
};
