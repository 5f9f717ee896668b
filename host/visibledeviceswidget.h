#pragma once

#include <QFrame>
#include <QPixmap>
#include <QStringList>

class DeviceList;
class ElidedLabel;
class FlatImageButton;
class LauncherPushButton;
class QHBoxLayout;
class QLabel;
class QStackedWidget;
class TightVBoxLayout;
class VisibleDevice;

// The main page: the selected device large, with arrows through the list, its status or
// firmware state under it and its own summary widget; a message page while there is none.
class VisibleDevicesWidget : public QFrame
{
    Q_OBJECT
public:
    VisibleDevicesWidget(DeviceList* list, QWidget* parent);
    ~VisibleDevicesWidget() override;

    // The pictures the page shows on its own, to read ahead.
    static QStringList picturePaths();

    bool isBadInstall() const { return m_badInstall; }
    FlatImageButton* deviceButton() const { return m_deviceButton; }
    QLabel* nameLabel() const;
    QLabel* messageLabel() const { return m_messageLabel; }
    QLabel* statusLabel() const { return m_statusLabel; }
    QLabel* connectionIconLabel() const { return m_connectionIconLabel; }
    QLabel* versionLabel() const { return m_versionLabel; }
    QLabel* updateStateLabel() const { return m_updateStateLabel; }
    QLabel* availableVersionLabel() const { return m_availableVersionLabel; }
    LauncherPushButton* updateButton() const { return m_updateButton; }
    FlatImageButton* setupButton() const { return m_setupButton; }
    FlatImageButton* controlAppButton() const { return m_controlAppButton; }
    FlatImageButton* leftArrow() const { return m_leftArrow; }
    FlatImageButton* rightArrow() const { return m_rightArrow; }
    QStackedWidget* subPages() const { return m_subPages; }
    int messagePageIndex() const { return m_messagePage; }
    int setupPageIndex() const { return m_setupPage; }
    int updatePageIndex() const { return m_updatePage; }
    QWidget* summaryWidget() const { return m_summaryWidget; }

Q_SIGNALS:
    void addByIpClicked();
    void requestShowDevice(VisibleDevice* device);
    void requestShowControlApp(VisibleDevice* device);
    void requestFirmwareUpdate(VisibleDevice* device);

public Q_SLOTS:
    void onBadInstall();

protected Q_SLOTS:
    void onDeviceClicked();
    void onUpdateButtonClicked();
    void onDeviceListChanged();
    void onLeftClicked();
    void onRightClicked();
    void onControlAppClicked();
    void onSummaryWidgetDestroyed();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* buildMessagePage();
    QWidget* buildSetupPage();
    QWidget* buildUpdatePage();
    void rebuild();
    void releaseSummaryWidget();
    void showStatusText(VisibleDevice* device);

    bool m_badInstall = false;
    TightVBoxLayout* m_summaryArea;
    FlatImageButton* m_deviceButton;
    ElidedLabel* m_nameLabel;
    FlatImageButton* m_setupButton;
    QLabel* m_messageLabel = nullptr;
    QStackedWidget* m_subPages;
    int m_messagePage = -1;
    int m_setupPage = -1;
    int m_updatePage = -1;
    QLabel* m_statusLabel = nullptr;
    QLabel* m_connectionIconLabel = nullptr;
    QLabel* m_versionLabel = nullptr;
    QLabel* m_updateStateLabel = nullptr;
    QLabel* m_availableVersionLabel = nullptr;
    LauncherPushButton* m_updateButton = nullptr;
    FlatImageButton* m_leftArrow;
    FlatImageButton* m_rightArrow;
    QWidget* m_summaryWidget = nullptr;
    DeviceList* m_list;
    QPixmap m_noDevicePixmap;
    QPixmap m_badInstallPixmap;
    FlatImageButton* m_controlAppButton;
    QHBoxLayout* m_setupButtonRow = nullptr;
    QWidget* m_dyingSummaryWidget = nullptr;
};
