#include "novaproductcard.h"

#include "connecteddevice.h"
#include "framework/connectingstatuspage.h"
#include "framework/statuspage.h"
#include "novavisibledevice.h"
#include "potentialdevice.h"

#include <QDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStyle>
#include <QVBoxLayout>

#include <memory>

namespace {

void line(QString& text, const QString& label, const QString& value)
{
    text += QStringLiteral("\t%1:%2%3\n")
                .arg(label, QString(qMax(0, 20 - int(label.size())), QLatin1Char(' ')), value);
}

} // namespace

NovaProductCard::NovaProductCard(const std::shared_ptr<ConnectedDevice>& device, QWidget* window,
                                 const QColor& accent)
    : NovaProductCard(device, device->visibleDevice(), window, accent)
{
}

NovaProductCard::NovaProductCard(NovaVisibleDevice* device, QWidget* window, const QColor& accent)
    : NovaProductCard(device->createConnectedDevice(), device, window, accent)
{
}

NovaProductCard::NovaProductCard(const std::shared_ptr<ConnectedDevice>& device,
                                 NovaVisibleDevice* visible, QWidget* window, const QColor& accent)
    : ProductCard(visible, window, accent)
    , m_visible(visible)
    , m_forceUpdateAllowed(device && device->supportsFirmwareUpdate())
{
    qRegisterMetaType<ConnectionState>("ConnectionState");
    // The device actions belong to the card, as a pop-up of its own.
    m_menu.setParent(this, m_menu.windowFlags());
    connect(this, &NovaProductCard::firmwareUpdateRequested, this, &QWidget::close);
    m_retryTimer.setInterval(kRetryMs);
    m_retryTimer.setSingleShot(false);
    connect(&m_retryTimer, &QTimer::timeout, this, &NovaProductCard::retry);
    setConnectedDevice(device);
}

NovaProductCard::~NovaProductCard()
{
    m_closing = true;
    setConnectedDevice(nullptr);
}

void NovaProductCard::setConnectedDevice(const std::shared_ptr<ConnectedDevice>& device)
{
    if (m_device)
        disconnect(m_device.get(), &ConnectedDevice::connectionStateChanged, this,
                   &NovaProductCard::onConnectionChanged);
    m_device = device;
    if (m_closing)
        return;
    if (!m_device) {
        // No way to reach the recorder now: the connecting page, and the retry makes one later.
        onConnectionChanged(Idle);
        return;
    }
    connect(m_device.get(), &ConnectedDevice::connectionStateChanged, this,
            &NovaProductCard::onConnectionChanged, Qt::QueuedConnection);
    onConnectionChanged(ConnectionState(m_device->state()));
}

void NovaProductCard::clearPages()
{
    while (QWidget* page = pages()->currentWidget()) {
        pages()->removeWidget(page);
        delete page;
    }
}

void NovaProductCard::onConnectionChanged(ConnectionState state)
{
    clearPages();
    m_menu.clear();
    QAction* force = m_menu.addAction(style()->standardIcon(QStyle::SP_MessageBoxCritical),
                                      QStringLiteral("Force Update"));
    force->setEnabled(m_forceUpdateAllowed);
    connect(force, &QAction::triggered, this, [this] { emit firmwareUpdateRequested(true); });

    if (state == Connected && m_device) {
        m_device->populateCard(this);
        m_retryTimer.stop();
        return;
    }
    auto* connecting = new ConnectingStatusPage(this);
    connect(connecting, &ConnectingStatusPage::connectionCancelled, this, &QWidget::close);
    addPage(connecting);
    showPage(connecting);
    if ((state == Interrupted || !m_device) && !m_retryTimer.isActive())
        m_retryTimer.start();
}

void NovaProductCard::retry()
{
    NovaVisibleDevice* visible = visibleDevice();
    if (visible && visible->primary())
        setConnectedDevice(visible->createConnectedDevice());
    refreshDeviceName();
}

void NovaProductCard::refreshDeviceName()
{
    if (NovaVisibleDevice* visible = visibleDevice())
        showDeviceName(visible);
}

NovaVisibleDevice* NovaProductCard::visibleDevice() const
{
    return static_cast<NovaVisibleDevice*>(m_visible.data());
}

QString NovaProductCard::deviceDetails() const
{
    QString text;
    if (!m_device || !m_device->potentialDevice())
        return text;
    const auto device = m_device->potentialDevice();
    const auto record = device->productRecord();
    text += QStringLiteral("** Device Information:\n\n");
    line(text, QStringLiteral("Model Name"), record ? record->name : QString());
    line(text, QStringLiteral("Device Name"), device->name());
    line(text, QStringLiteral("Unique Id"), device->uniqueId());
    line(text, QStringLiteral("Product Id"),
         QStringLiteral("0x%1").arg(device->productId(), 4, 16, QLatin1Char('0')));
    line(text, QStringLiteral("Hardware Revision"),
         QStringLiteral("0x%1").arg(device->hardwareRevision(), 4, 16, QLatin1Char('0')));
    line(text, QStringLiteral("Firmware Build"), device->firmwareBuild());
    line(text, QStringLiteral("Release Version"), device->releaseVersion());
    text += QStringLiteral("\n");
    line(text, QStringLiteral("Connection Type"), connectionTypeName(m_device->connectionType()));
    line(text, QStringLiteral("Connection State"), connectionStateName(m_device->state()));
    line(text, QStringLiteral("Connection Info"), m_device->description());
    text += QStringLiteral("\n** Available Firmware:\n\n");
    line(text, QStringLiteral("Firmware Build"), record ? record->firmwareBuild : QString());
    line(text, QStringLiteral("Release Version"), record ? record->releaseVersion : QString());
    text += QStringLiteral("\n");
    return text;
}

QDialog* NovaProductCard::createDeviceDetailsDialog()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (!QFontInfo(font).fixedPitch())
        font = QFont(QStringLiteral("courier"));

    auto* dialog = new QDialog(window());
    dialog->setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setSizeGripEnabled(true);

    auto* report = new QLabel(deviceDetails());
    report->setFont(font);
    report->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    report->setWordWrap(true);
    report->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    report->setMinimumWidth(600);
    auto* scroll = new QScrollArea;
    scroll->setMinimumSize(600, 300);
    scroll->setWidgetResizable(true);
    scroll->setWidget(report);

    auto* actions = new QPushButton(QStringLiteral("Device Actions"));
    actions->setAutoDefault(false);
    actions->setMenu(&m_menu);
    connect(&m_menu, &QMenu::triggered, dialog, &QDialog::reject);
    auto* close = new QPushButton(QStringLiteral("Close"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, dialog, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(actions);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(scroll);
    layout->addLayout(buttons);
    // Room for the report's widest line without a horizontal scroll bar.
    dialog->resize(dialog->sizeHint().expandedTo(QSize(680, 420)));
    return dialog;
}

void NovaProductCard::onShowProductEasterEgg()
{
    const std::unique_ptr<QDialog> dialog(createDeviceDetailsDialog());
    dialog->exec();
}
