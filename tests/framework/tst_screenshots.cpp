// Saves pictures of the dialog and card furniture for a person to look at.
#include "framework/accentcolour.h"
#include "framework/cardfooter.h"
#include "framework/cardheader.h"
#include "framework/cardpopupmenu.h"
#include "framework/cardtabbedpages.h"
#include "framework/commondialog.h"
#include "framework/frameworkresources.h"
#include "framework/settingstab.h"
#include "framework/tabbutton.h"
#include "framework/visibledevice.h"
#include "stubdevice.h"

#include <QDir>
#include <QLabel>
#include <QVBoxLayout>
#include <QtTest>

namespace {

class Device : public StubDevice
{
public:
    Device()
        : StubDevice(nullptr, QStringLiteral("Kestrel Pro"))
    {
        shownName = QStringLiteral("Studio B recorder");
        cardIcon = QPixmap(QStringLiteral(":/Link"));
    }
};

class Tab : public SettingsTab
{
public:
    using SettingsTab::setStatus;
    using SettingsTab::SettingsTab;
};

} // namespace

class TestScreenshots : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(registerApplicationFonts());
        setModuleAccentColour(QColor(1, 171, 255));
        m_folder = qEnvironmentVariable("PELLWORTH_SCREENSHOT_DIR", QDir::currentPath());
        QDir().mkpath(m_folder);
    }

    void dialogOverWindow()
    {
        QWidget window;
        window.resize(960, 640);
        QPalette palette = window.palette();
        palette.setColor(QPalette::Window, QColor(31, 31, 31));
        palette.setColor(QPalette::WindowText, QColor(241, 241, 241));
        window.setPalette(palette);
        window.setAutoFillBackground(true);
        auto* behind = new QLabel(QStringLiteral("Device gallery behind the dialog"), &window);
        QFont font = behind->font();
        font.setPixelSize(40);
        behind->setFont(font);
        behind->adjustSize();
        behind->move(60, 60);
        window.show();

        auto* dialog = new CommonDialog(QStringLiteral("Software Update"), &window);
        dialog->showMessage(QStringLiteral("Update Required!"),
                            QStringLiteral("Would you like to update the software of your Kestrel "
                                           "now? It takes about two minutes, and the recorder "
                                           "restarts when it is done."));
        dialog->showChoice(QStringLiteral("Cancel"), QStringLiteral("Update"));
        dialog->show();
        QVERIFY(window.grab().save(m_folder + "/framework_dialog_choice.png"));

        dialog->showMessage(QStringLiteral("Updating Software..."),
                            QStringLiteral("Please don't unplug the Kestrel while updating!"));
        dialog->showProgress();
        dialog->setProgress(40);
        QVERIFY(window.grab().save(m_folder + "/framework_dialog_progress.png"));
    }

    void cardHeaderAndFooter()
    {
        Device device;
        QWidget card;
        card.setFixedWidth(620);
        card.setStyleSheet(QStringLiteral("QWidget#card { background: white; }"));
        card.setObjectName(QStringLiteral("card"));
        auto* column = new QVBoxLayout(&card);
        column->setSpacing(0);
        column->setContentsMargins(0, 0, 0, 0);
        column->addWidget(new CardHeader(&device));
        auto* pages = new CardTabbedPages(accentColour());
        auto* general = new Tab;
        auto* network = new Tab;
        pages->addPage(general, QStringLiteral("General"));
        pages->addPage(network, QStringLiteral("Network"));
        // Leaving the invalid tab marks it.
        pages->tabButton(1)->click();
        network->setStatus(Invalid);
        pages->tabButton(0)->click();
        pages->setFixedHeight(120);
        column->addWidget(pages);
        auto* footer = new CardFooter;
        footer->menu()->addOption(QStringLiteral("Identify"), 1);
        column->addWidget(footer);
        card.show();
        QVERIFY(card.grab().save(m_folder + "/framework_card.png"));
    }

private:
    QString m_folder;
};

QTEST_MAIN(TestScreenshots)
#include "tst_screenshots.moc"
