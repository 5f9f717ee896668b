#include "host/visibledeviceswidget.h"

#include "framework/appbranding.h"
#include "framework/contract/devicelist.h"
#include "framework/contract/visibledevice.h"
#include "framework/elidedlabel.h"
#include "framework/flatimagebutton.h"
#include "framework/style.h"
#include "framework/testmodepixmap.h"
#include "framework/tighthboxlayout.h"
#include "framework/tightvboxlayout.h"
#include "host/launcherpushbutton.h"

#include <QFontMetrics>
#include <QLabel>
#include <QSpacerItem>
#include <QStackedWidget>

namespace {

// Some devices give their version with its label ("Version 7.1"), others bare ("7.1").
QString versionText(const QString& version)
{
    const QString label = QObject::tr("Version ");
    return version.startsWith(label) ? version : label + version;
}

const QString kSetup = QStringLiteral(":/Setup");
const QString kSetupHover = QStringLiteral(":/Setup_Hover");
const QString kLeftArrow = QStringLiteral(":/LeftArrow");
const QString kLeftArrowHover = QStringLiteral(":/LeftArrow_Hover");
const QString kRightArrow = QStringLiteral(":/RightArrow");
const QString kRightArrowHover = QStringLiteral(":/RightArrow_Hover");

const QColor kNameColour(241, 241, 241);
const QColor kTextColour(146, 146, 146);
const int kPageWidth = 400;
const int kMessageWidth = 470;

QLabel* textLabel(QWidget* parent)
{
    QLabel* label = makeLabel(1, kTextColour, parent);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    return label;
}

QVBoxLayout* arrowColumn(FlatImageButton* arrow)
{
    auto* column = new TightVBoxLayout;
    column->addStrut(32);
    column->addStretch(1);
    column->addWidget(arrow);
    column->addStretch(1);
    return column;
}

} // namespace

VisibleDevicesWidget::VisibleDevicesWidget(DeviceList* list, QWidget* parent)
    : QFrame(parent)
    , m_summaryArea(new TightVBoxLayout)
    , m_deviceButton(new FlatImageButton(AppBranding::noDevicePixmap(), this))
    , m_nameLabel(new ElidedLabel(QString(), scaledFont(0), kNameColour, this))
    , m_setupButton(new FlatImageButton(loadHiDpiPixmap(kSetup), this))
    , m_subPages(new QStackedWidget(this))
    , m_leftArrow(new FlatImageButton(loadHiDpiPixmap(kLeftArrow), this))
    , m_rightArrow(new FlatImageButton(loadHiDpiPixmap(kRightArrow), this))
    , m_list(list)
    , m_noDevicePixmap(AppBranding::noDevicePixmap())
    , m_controlAppButton(new FlatImageButton(QPixmap(), this))
{
    setObjectName(QStringLiteral("VisibleDevicesWidget"));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(31, 31, 31));
    setPalette(palette);
    setAutoFillBackground(true);

    m_setupButton->setHoverPixmap(kSetupHover);
    m_leftArrow->setHoverPixmap(kLeftArrowHover);
    m_rightArrow->setHoverPixmap(kRightArrowHover);
    m_controlAppButton->hide();
    m_nameLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_nameLabel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

    m_messagePage = m_subPages->addWidget(buildMessagePage());
    m_setupPage = m_subPages->addWidget(buildSetupPage());
    m_updatePage = m_subPages->addWidget(buildUpdatePage());
    m_subPages->setContentsMargins(0, 0, 0, 0);

    const int nameDescent = QFontMetrics(m_nameLabel->font()).descent();
    auto* panel = new TightVBoxLayout;
    panel->addStretch(4);
    panel->addSpacing(16);
    panel->addWidget(m_deviceButton, 0, Qt::AlignHCenter);
    panel->addSpacing(25 - nameDescent);
    panel->addWidget(m_nameLabel, 0, Qt::AlignTop);
    panel->addSpacing(8 - nameDescent);
    panel->addWidget(m_subPages, 0, Qt::AlignHCenter);
    panel->addStretch(6);
    panel->addSpacerItem(new QSpacerItem(40, 0, QSizePolicy::Minimum, QSizePolicy::Fixed));
    panel->addLayout(m_summaryArea);

    auto* centre = new TightVBoxLayout;
    centre->addStretch(2);
    centre->addSpacerItem(new QSpacerItem(40, 33, QSizePolicy::Minimum, QSizePolicy::Preferred));
    centre->addLayout(panel);
    centre->addSpacerItem(new QSpacerItem(40, 20, QSizePolicy::Minimum, QSizePolicy::Expanding));
    centre->addStretch(3);

    auto* layout = new TightHBoxLayout(this);
    layout->addSpacing(40);
    layout->addLayout(arrowColumn(m_leftArrow));
    layout->addSpacing(35);
    layout->addLayout(centre);
    layout->addSpacing(35);
    layout->addLayout(arrowColumn(m_rightArrow));
    layout->addSpacing(40);

    rebuild();

    connect(m_deviceButton, &QAbstractButton::clicked, this,
            &VisibleDevicesWidget::onDeviceClicked);
    connect(m_setupButton, &QAbstractButton::clicked, this, &VisibleDevicesWidget::onDeviceClicked);
    connect(m_controlAppButton, &QAbstractButton::clicked, this,
            &VisibleDevicesWidget::onControlAppClicked);
    connect(m_updateButton, &QAbstractButton::clicked, this,
            &VisibleDevicesWidget::onUpdateButtonClicked);
    connect(m_leftArrow, &QAbstractButton::clicked, this, &VisibleDevicesWidget::onLeftClicked);
    connect(m_rightArrow, &QAbstractButton::clicked, this, &VisibleDevicesWidget::onRightClicked);
    connect(list, &DeviceList::deviceListAdded, this, &VisibleDevicesWidget::onDeviceListChanged);
    connect(list, &DeviceList::deviceListRemoved, this, &VisibleDevicesWidget::onDeviceListChanged);
    connect(list, &DeviceList::deviceListSelected, this,
            &VisibleDevicesWidget::onDeviceListChanged);
    connect(list, &DeviceList::deviceListChanged, this, &VisibleDevicesWidget::onDeviceListChanged);
}

QStringList VisibleDevicesWidget::picturePaths()
{
    return {AppBranding::instance().noDeviceIconPath,
            kSetup,
            kSetupHover,
            kLeftArrow,
            kLeftArrowHover,
            kRightArrow,
            kRightArrowHover};
}

VisibleDevicesWidget::~VisibleDevicesWidget()
{
    // The summary widget is its device's: hand it back rather than take it down with us.
    releaseSummaryWidget();
}

QLabel* VisibleDevicesWidget::nameLabel() const
{
    return m_nameLabel;
}

QWidget* VisibleDevicesWidget::buildMessagePage()
{
    auto* page = new QWidget;
    auto* layout = new TightVBoxLayout(page);
    m_messageLabel = textLabel(page);
    m_messageLabel->setWordWrap(true);
    m_messageLabel->setScaledContents(true);
    m_messageLabel->setIndent(0);
    m_messageLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    layout->addWidget(m_messageLabel, 0, Qt::AlignHCenter);
    layout->addStretch();
    connect(m_messageLabel, &QLabel::linkActivated, this, &VisibleDevicesWidget::addByIpClicked);
    return page;
}

QWidget* VisibleDevicesWidget::buildSetupPage()
{
    auto* page = new QWidget;
    page->setFixedWidth(kPageWidth);
    auto* layout = new TightVBoxLayout(page);

    m_statusLabel = textLabel(page);
    m_connectionIconLabel = new QLabel(page);
    m_connectionIconLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* statusRow = new TightHBoxLayout;
    statusRow->addStretch();
    statusRow->addWidget(m_statusLabel);
    statusRow->addWidget(m_connectionIconLabel);
    statusRow->addStretch();
    layout->addLayout(statusRow);
    layout->addSpacing(15 - QFontMetrics(m_statusLabel->font()).descent());

    m_setupButtonRow = new TightHBoxLayout;
    m_setupButtonRow->setSpacing(30);
    m_setupButtonRow->setAlignment(Qt::AlignHCenter);
    m_setupButton->setParent(page);
    m_controlAppButton->setParent(page);
    m_setupButtonRow->addWidget(m_setupButton);
    layout->addLayout(m_setupButtonRow);
    layout->addSpacing(20);
    return page;
}

QWidget* VisibleDevicesWidget::buildUpdatePage()
{
    auto* page = new QWidget;
    page->setFixedSize(kPageWidth, 123);
    auto place = [page](QLabel* label, int y) {
        label->setGeometry(0, y, kPageWidth, label->fontMetrics().height());
    };
    m_versionLabel = textLabel(page);
    m_updateStateLabel = textLabel(page);
    m_availableVersionLabel = textLabel(page);
    place(m_versionLabel, 6);
    place(m_updateStateLabel, 40);
    place(m_availableVersionLabel, 58);
    m_updateButton = new LauncherPushButton(tr("Update Now"), page);
    m_updateButton->move((kPageWidth - m_updateButton->width()) / 2, 95);
    return page;
}

void VisibleDevicesWidget::releaseSummaryWidget()
{
    if (!m_summaryWidget)
        return;
    QWidget* widget = m_summaryWidget;
    m_summaryWidget = nullptr;
    disconnect(widget, &QObject::destroyed, this, &VisibleDevicesWidget::onSummaryWidgetDestroyed);
    widget->hide();
    m_summaryArea->removeWidget(widget);
    widget->setParent(nullptr);
}

void VisibleDevicesWidget::rebuild()
{
    releaseSummaryWidget();

    VisibleDevice* device = m_list->selectedDevice();
    if (!device || m_badInstall) {
        m_subPages->setFixedWidth(kMessageWidth);
        if (m_badInstall) {
            // Read when first shown: a sound install never needs it, and its start is quicker.
            if (m_badInstallPixmap.isNull())
                m_badInstallPixmap = AppBranding::badInstallPixmap();
            m_deviceButton->setPixmap(m_badInstallPixmap);
            m_nameLabel->setText(AppBranding::badInstallHeader());
            m_messageLabel->setText(AppBranding::badInstallMessage());
        } else {
            m_deviceButton->setPixmap(m_noDevicePixmap);
            m_nameLabel->setText(AppBranding::noDeviceHeader());
            m_messageLabel->setText(AppBranding::noDeviceMessage());
        }
        m_messageLabel->setFixedWidth(kMessageWidth);
        m_deviceButton->setEnabled(false);
        m_subPages->setCurrentIndex(m_messagePage);
        m_leftArrow->hide();
        m_rightArrow->hide();
        return;
    }

    m_subPages->setFixedWidth(kPageWidth);
    const int count = m_list->count();
    const int index = m_list->indexOf(device);
    if (index < 0)
        return;

    const QPixmap picture = device->productPixmap();
    m_deviceButton->setPixmap(device->isTestMode() ? TestModePixmap(picture, 400, 360, 0)
                                                   : picture);
    m_nameLabel->setText(device->displayName());

    if (device->hasControlApp()) {
        m_controlAppButton->setPixmap(device->controlAppPixmap());
        m_controlAppButton->setHoverPixmap(device->controlAppHoverPixmap());
        m_controlAppButton->show();
        if (m_setupButtonRow->indexOf(m_controlAppButton) < 0)
            m_setupButtonRow->addWidget(m_controlAppButton);
    } else {
        m_setupButtonRow->removeWidget(m_controlAppButton);
        m_controlAppButton->hide();
    }

    if (device->showsFirmwareStatus()) {
        m_deviceButton->setEnabled(false);
        m_subPages->setCurrentIndex(m_updatePage);
        const QString version = device->softwareVersion();
        if (!version.isEmpty())
            m_versionLabel->setText(versionText(version));
        const bool update = device->needsFirmwareUpdate();
        m_updateStateLabel->setText(update ? tr("Software update available.")
                                           : tr("Software is up to date."));
        if (update)
            m_availableVersionLabel->setText(versionText(device->availableVersion()));
        m_availableVersionLabel->setVisible(update);
        m_updateButton->setVisible(update);
    } else {
        m_deviceButton->setEnabled(true);
        m_subPages->setCurrentIndex(m_setupPage);
        showStatusText(device);
        m_setupButton->setVisible(device->isConnected());
        QWidget* summary = device->summaryWidget();
        if (summary && summary != m_dyingSummaryWidget) {
            m_summaryWidget = summary;
            summary->setParent(this);
            m_summaryArea->addWidget(summary, 0, Qt::AlignHCenter | Qt::AlignTop);
            summary->show();
            connect(summary, &QObject::destroyed, this,
                    &VisibleDevicesWidget::onSummaryWidgetDestroyed);
        }
    }

    m_leftArrow->setVisible(index > 0);
    m_rightArrow->setVisible(index < count - 1);
}

void VisibleDevicesWidget::showStatusText(VisibleDevice* device)
{
    int room = kPageWidth;
    const QPixmap icon = device->launcherConnectionIcon();
    if (icon.isNull()) {
        m_connectionIconLabel->hide();
    } else {
        const int iconWidth = int(icon.width() / icon.devicePixelRatio() + 10);
        m_connectionIconLabel->setPixmap(icon);
        m_connectionIconLabel->setFixedWidth(iconWidth);
        m_connectionIconLabel->show();
        room -= iconWidth;
    }
    const QString text = device->productName();
    const int textWidth = m_statusLabel->fontMetrics().horizontalAdvance(text);
    if (room < textWidth + 2) {
        m_statusLabel->setFixedWidth(room);
        m_statusLabel->setText(elidedText(m_statusLabel, text, Qt::ElideRight));
    } else {
        m_statusLabel->setFixedWidth(textWidth + 2);
        m_statusLabel->setText(text);
    }
}

void VisibleDevicesWidget::onBadInstall()
{
    m_badInstall = true;
    rebuild();
}

void VisibleDevicesWidget::onDeviceClicked()
{
    VisibleDevice* device = m_list->selectedDevice();
    if (!device || !device->isConnected())
        return;
    m_deviceButton->clearFocus();
    m_setupButton->clearFocus();
    Q_EMIT requestShowDevice(device);
}

void VisibleDevicesWidget::onUpdateButtonClicked()
{
    Q_EMIT requestFirmwareUpdate(m_list->selectedDevice());
}

void VisibleDevicesWidget::onControlAppClicked()
{
    Q_EMIT requestShowControlApp(m_list->selectedDevice());
}

void VisibleDevicesWidget::onDeviceListChanged()
{
    rebuild();
}

void VisibleDevicesWidget::onLeftClicked()
{
    const int index = m_list->indexOf(m_list->selectedDevice());
    if (index > 0)
        m_list->select(index - 1);
}

void VisibleDevicesWidget::onRightClicked()
{
    // A device not in the list counts as -1, so this then selects the first.
    const int index = m_list->indexOf(m_list->selectedDevice());
    if (index + 1 < m_list->count())
        m_list->select(index + 1);
}

void VisibleDevicesWidget::onSummaryWidgetDestroyed()
{
    // Only the address is used: the widget is half gone, and its device may not know yet.
    auto* dying = static_cast<QWidget*>(sender());
    m_summaryArea->removeWidget(dying);
    m_summaryWidget = nullptr;
    m_dyingSummaryWidget = dying;
    rebuild();
    m_dyingSummaryWidget = nullptr;
}

void VisibleDevicesWidget::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
}
