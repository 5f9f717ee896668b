#include "host/mainwindow.h"

#include "framework/accentcolour.h"
#include "framework/appbranding.h"
#include "framework/contract/family.h"
#include "framework/contract/visibledevice.h"
#include "framework/frameworkresources.h"
#include "framework/style.h"
#include "framework/tightvboxlayout.h"
#include "host/aboutbox.h"
#include "host/addbyipaddresscontroller.h"
#include "host/bonjourservice.h"
#include "host/builddetailsdialog.h"
#include "host/dotswidget.h"
#include "host/visibledeviceswidget.h"
#include "host/windowfooter.h"
#include "host/windowheader.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <QPointer>
#include <QSettings>
#include <QStackedWidget>
#include <QTimer>
#include <QWebEngineView>

#include <thread>

namespace {

const int kMinimumWidth = 780;
const int kPageHeight = 680;

QSettings userSettings()
{
    return QSettings(AppBranding::companyName(), AppBranding::appName());
}

QString qString(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

MainWindow::MainWindow()
    : MainWindow(Options())
{
}

MainWindow::MainWindow(Options options)
    : m_deviceList(this)
    , m_bonjour(options.bonjour ? std::move(options.bonjour) : makeBonjourService())
{
    m_recipient.setMessageHandler([this](const Platform::Message& message, intptr_t* result) {
        return handleNativeMessage(&message, result);
    });
    initFrameworkResources();

    if (options.warmUpWebEngine) {
        // Most of the web engine's start is the GUI thread waiting for its helper processes;
        // meanwhile another thread reads the fonts and decodes the window's pictures. The fonts
        // are registered on the GUI thread after all: Chromium reads fontconfig's font sets
        // without Qt's lock.
        QList<QByteArray> fonts;
        QHash<QString, QImage> pictures;
        const QStringList paths =
            WindowHeader::picturePaths() + VisibleDevicesWidget::picturePaths();
        std::thread reader([&fonts, &pictures, &paths] {
            fonts = readApplicationFonts();
            pictures = decodePictures(paths);
        });
        // The web engine starts here, on the GUI thread, before any plug-in needs it.
        auto* view = new QWebEngineView(this);
        view->hide();
        view->load(QUrl());
        reader.join();
        registerApplicationFonts(fonts);
        useDecodedPictures(pictures);
    } else {
        registerApplicationFonts();
    }

    setWindowTitle(AppBranding::fullAppName());
    const int menuHeight = menuBar()->sizeHint().height();
    setMinimumSize(kMinimumWidth, menuHeight + kPageHeight);
    const QByteArray geometry = userSettings().value(QStringLiteral("geometry")).toByteArray();
    if (geometry.isNull())
        resize(kMinimumWidth, menuHeight + kPageHeight);
    else
        restoreGeometry(geometry);

    QMenu* help = menuBar()->addMenu(tr("Help"));
    connect(help->addAction(AppBranding::aboutMenuText()), &QAction::triggered, this,
            &MainWindow::showAboutBox);

    auto* central = new QFrame(this);
    m_mainLayout = new TightVBoxLayout(central);
    m_mainLayout->addWidget(new WindowHeader(central));
    auto* line = new QWidget(central);
    line->setFixedHeight(1);
    line->setStyleSheet(QStringLiteral("QWidget { background: black; }"));
    m_mainLayout->addWidget(line);
    m_pageStack = new QStackedWidget(central);
    m_gallery = new VisibleDevicesWidget(&m_deviceList, this);
    m_pageStack->addWidget(m_gallery);
    m_mainLayout->addWidget(m_pageStack, 1);
    setCentralWidget(central);

    m_addByIpController = new AddByIpAddressController(this, &m_families, m_bonjour.get());
    connect(m_addByIpController, &AddByIpAddressController::deviceAddedByIP, this,
            &MainWindow::onBonjourDeviceAdded);

    connect(m_gallery, &VisibleDevicesWidget::addByIpClicked, this, &MainWindow::onAddByIpClicked);
    connect(m_gallery, &VisibleDevicesWidget::requestFirmwareUpdate, this,
            &MainWindow::updateFirmware);
    connect(m_gallery, &VisibleDevicesWidget::requestShowDevice, this, &MainWindow::showDevice);
    connect(m_gallery, &VisibleDevicesWidget::requestShowControlApp, this,
            &MainWindow::showControlApp);

    QTimer::singleShot(0, this, &MainWindow::postShowStartup);
}

MainWindow::~MainWindow()
{
    for (Family* family : std::as_const(m_families))
        family->stopDiscovery();

    // Cards and everything else on screen are children made after the families, so left to
    // QObject they would outlive them. Widgets go first, newest first, while every family and
    // device they may still refer to is alive.
    const QList<QWidget*> widgets = findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    QList<QPointer<QWidget>> onScreen;
    for (auto it = widgets.rbegin(); it != widgets.rend(); ++it)
        onScreen.append(*it);
    for (const QPointer<QWidget>& widget : std::as_const(onScreen))
        delete widget.data();
    m_gallery = nullptr;
    m_customPage = nullptr;
    m_pageStack = nullptr;
    m_footer = nullptr;
    m_mainLayout = nullptr;

    // Then the families, in load order, while the device list and the recipient they were
    // handed still exist.
    const QList<Family*> families = m_families;
    m_crossMenuEntries.clear();
    m_families.clear();
    for (Family* family : families) {
        if (family->parent() == this)
            delete family;
    }
}

void MainWindow::addFamily(Family* family)
{
    if (!family)
        return;
    m_families.append(family);
    connect(family, &Family::badInstall, m_gallery, &VisibleDevicesWidget::onBadInstall);
    family->setAccentColour(accentColour());
    if (family->handlesNetworkDevices())
        AppBranding::setUsesNetworkDevices();
    // Only a probe: the page itself is fetched again once the window runs.
    if (family->customPage(&m_deviceList, this))
        AppBranding::setHasCustomPage();
}

QWidget* MainWindow::customPage()
{
    if (!AppBranding::hasCustomPage() || m_customPage)
        return nullptr;
    QWidget* first = nullptr;
    for (Family* family : std::as_const(m_families)) {
        m_customPage = family->customPage(&m_deviceList, this);
        if (m_customPage && !first)
            first = m_customPage;
    }
    m_customPage = first;
    return first;
}

Platform::Recipient* MainWindow::notificationRecipient()
{
    return &m_recipient;
}

bool MainWindow::handleNativeMessage(const Platform::Message* message, intptr_t* result)
{
    if (!message || message->message != Platform::kWmDeviceChange)
        return false;
    for (Family* family : std::as_const(m_families)) {
        if (family->nativeEvent(message)) {
            if (result)
                *result = 1;
            return true;
        }
    }
    return false;
}

QStringList MainWindow::crossMenuTexts() const
{
    QStringList texts;
    for (const auto& entry : m_crossMenuEntries)
        texts.append(entry.first);
    return texts;
}

void MainWindow::postShowStartup()
{
    if (m_started)
        return;
    m_started = true;

    QWidget* page = customPage();
    if (page) {
        m_pageStack->addWidget(page);
        // The list view is the family's own widget; its signal is known only by name.
        connect(page, SIGNAL(requestShowDevice(VisibleDevice*)), this,
                SLOT(showDevice(VisibleDevice*)));
    }

    m_footer = new WindowFooter(&m_deviceList, this, page != nullptr);
    m_mainLayout->addWidget(m_footer);
    connect(m_footer, &WindowFooter::crossMenuOptionSelected, this,
            &MainWindow::onCrossMenuOptionSelected);
    connect(m_footer, &WindowFooter::easterEggClicked, this, &MainWindow::showBuildDetails);
    connect(m_footer, &WindowFooter::galleryViewSelected, this, &MainWindow::onGalleryViewSelected);
    connect(m_footer, &WindowFooter::listViewSelected, this, &MainWindow::onListViewSelected);

    for (Family* family : std::as_const(m_families)) {
        connect(family, &Family::deviceArrived, &m_deviceList, &DeviceList::onDeviceAdded);
        connect(family, qOverload<VisibleDevice*>(&Family::deviceRemoved), &m_deviceList,
                &DeviceList::onDeviceRemoved);
        connect(family, &Family::deviceInfoChanged, &m_deviceList,
                &DeviceList::onDeviceInfoChanged);
        connect(family, &Family::crossMenuChanged, this, &MainWindow::onCrossMenuChanged);
        connect(&m_deviceList, &DeviceList::deviceListSelected, family,
                [family](VisibleDevice* device) {
                    family->onDeviceSelected(device && device->owner() == family ? device
                                                                                 : nullptr);
                });
        family->startDiscovery();
    }

    if (AppBranding::usesNetworkDevices()) {
        registerBonjourRecordTypes();
        QSet<QString> names{QString()};
        for (Family* family : std::as_const(m_families)) {
            connect(family, &Family::bonjourResolveRequested, this,
                    &MainWindow::onBonjourResolveRequested);
            connect(family, &Family::bonjourResolveRequestedWithPort, this,
                    &MainWindow::onBonjourResolveRequestedWithPort);
            names.unite(family->serviceNames());
        }
        // One browse per distinct name, shared by every family.
        for (const QString& name : std::as_const(names)) {
            ServiceBrowser* browser = m_bonjour->browse(name, this);
            if (!browser)
                continue;
            m_browsers.append(browser);
            connect(browser, &ServiceBrowser::deviceArrived, this,
                    &MainWindow::onBonjourDeviceAdded);
            connect(browser, &ServiceBrowser::deviceRemoved, this,
                    &MainWindow::onBonjourDeviceRemoved);
            connect(browser, &ServiceBrowser::deviceUpdated, this,
                    &MainWindow::onBonjourDeviceUpdated);
        }
    }

    onCrossMenuChanged();
}

void MainWindow::onBonjourDeviceAdded(BonjourInfo info)
{
    for (Family* family : std::as_const(m_families)) {
        if (family->deviceAdded(info))
            return;
    }
}

void MainWindow::onBonjourDeviceRemoved(BonjourInfo info)
{
    for (Family* family : std::as_const(m_families)) {
        if (family->deviceRemoved(info))
            return;
    }
}

void MainWindow::onBonjourDeviceUpdated(BonjourInfo info)
{
    for (Family* family : std::as_const(m_families)) {
        if (family->deviceUpdated(info))
            return;
    }
}

void MainWindow::newDeviceAddedByIP(BonjourInfo info)
{
    onBonjourDeviceAdded(info);
}

void MainWindow::onBonjourResolveRequested(BonjourInfo info, QSet<QString> serviceNames)
{
    resolve(info, 0, false, std::move(serviceNames));
}

void MainWindow::onBonjourResolveRequestedWithPort(BonjourInfo info, int port,
                                                   QSet<QString> serviceNames)
{
    resolve(info, port, true, std::move(serviceNames));
}

void MainWindow::resolve(const BonjourInfo& info, int port, bool keepPort,
                         QSet<QString> serviceNames)
{
    // A record that carries a host name (one added by address) is asked directly.
    if (!info.hostName.empty()) {
        queryKnownHost(info, std::move(serviceNames));
        return;
    }
    QPointer<MainWindow> self(this);
    m_bonjour->resolve(info, [self, info, port, keepPort](int error, const std::string& hostName,
                                                          uint16_t resolvedPort) {
        if (self)
            self->onBonjourDeviceHaveHostName(info, error == 0, hostName,
                                              keepPort ? port : int(resolvedPort));
    });
}

void MainWindow::onBonjourDeviceHaveHostName(BonjourInfo info, bool success, std::string hostName,
                                             int port)
{
    if (!success) {
        onBonjourDeviceResolved(info, false, QString(), QString(), 0);
        return;
    }
    QPointer<MainWindow> self(this);
    m_bonjour->lookup(
        hostName,
        [self, info, hostName, port](int error, const std::string& address) {
            if (!self)
                return;
            if (error == 0)
                self->onBonjourDeviceResolved(info, true, qString(hostName), qString(address),
                                              port);
            else
                self->onBonjourDeviceResolved(info, false, QString(), QString(), 0);
        },
        uint16_t(port));
}

void MainWindow::queryKnownHost(const BonjourInfo& info, QSet<QString> serviceNames)
{
    std::string serviceType;
    const bool lastQuestion = serviceNames.size() <= 1;
    if (!serviceNames.isEmpty()) {
        const QString name = *serviceNames.begin();
        serviceNames.remove(name);
        if (!name.isEmpty())
            serviceType = (name + QStringLiteral(".local")).toStdString();
    }
    QPointer<MainWindow> self(this);
    m_bonjour->query(
        info.hostName,
        [self, info, serviceNames, lastQuestion](bool complete, const BonjourInfo& result) {
            if (!self)
                return;
            const QString host = qString(info.hostName);
            if (complete) {
                self->onBonjourDeviceResolved(result, true, QString(), host, result.port);
            } else if (!lastQuestion) {
                self->queryKnownHost(info, serviceNames);
            } else {
                // The failure belongs to the record that asked, whatever the query held.
                self->onBonjourDeviceResolved(info, false, QString(), host, info.port);
            }
        },
        serviceType);
}

void MainWindow::onBonjourDeviceResolved(BonjourInfo info, bool success, QString hostName,
                                         QString ipAddress, int port)
{
    for (Family* family : std::as_const(m_families)) {
        if (family->deviceResolved(info, success, hostName, ipAddress, port))
            return;
    }
}

void MainWindow::showDevice(VisibleDevice* device)
{
    if (!device)
        return;
    if (Family* family = m_deviceList.ownerOf(device))
        family->showDevice(device);
}

void MainWindow::showControlApp(VisibleDevice* device)
{
    if (!device)
        return;
    if (Family* family = m_deviceList.ownerOf(device))
        family->showControlApp(device);
}

void MainWindow::updateFirmware(VisibleDevice* device)
{
    if (!device)
        return;
    if (Family* family = m_deviceList.ownerOf(device))
        family->updateFirmware(device);
}

void MainWindow::onCrossMenuChanged()
{
    m_crossMenuEntries.clear();
    if (AppBranding::usesNetworkDevices())
        m_crossMenuEntries.append({tr("Add by IP address"), nullptr});
    for (Family* family : std::as_const(m_families)) {
        const QStringList options = family->crossMenuOptions();
        for (const QString& option : options)
            m_crossMenuEntries.append({option, family});
    }
    if (m_footer)
        m_footer->setCrossMenuOptions(crossMenuTexts());
}

void MainWindow::onCrossMenuOptionSelected(QString option)
{
    for (const auto& entry : std::as_const(m_crossMenuEntries)) {
        if (entry.first != option)
            continue;
        if (entry.second)
            entry.second->crossMenuOptionSelected(option);
        else
            onAddByIpClicked();
        return;
    }
}

void MainWindow::onAddByIpClicked()
{
    m_addByIpController->showDialog();
}

void MainWindow::onGalleryViewSelected()
{
    m_pageStack->setCurrentWidget(m_gallery);
    if (m_footer)
        m_footer->dots()->show();
}

void MainWindow::onListViewSelected()
{
    if (m_customPage)
        m_pageStack->setCurrentWidget(m_customPage);
    if (m_footer)
        m_footer->dots()->hide();
}

void MainWindow::showAboutBox()
{
    AboutBox box(this);
    box.setPicture(AppBranding::appIcon());
    box.setName(AppBranding::appName());
    box.setYear(AppBranding::releaseYear());
    box.setVersion(AppBranding::releaseVersion());
    box.exec();
}

void MainWindow::showBuildDetails()
{
    auto* dialog = new BuildDetailsDialog(m_families, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    for (Family* family : std::as_const(m_families)) {
        if (!family->canClose()) {
            event->ignore();
            return;
        }
    }
    userSettings().setValue(QStringLiteral("geometry"), saveGeometry());
    TendwellWindow::closeEvent(event);
}
