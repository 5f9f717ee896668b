// Saves pictures of the dialog and card furniture for a person to look at.
#include "framework/accentcolour.h"
#include "framework/cardfooter.h"
#include "framework/cardheader.h"
#include "framework/cardpopupmenu.h"
#include "framework/cardscrollarea.h"
#include "framework/cardtabbedpages.h"
#include "framework/commondialog.h"
#include "framework/connectingstatuspage.h"
#include "framework/contract/visibledevice.h"
#include "framework/flatimagebutton.h"
#include "framework/frameworkresources.h"
#include "framework/productcard.h"
#include "framework/settingscheckbox.h"
#include "framework/settingscombobox.h"
#include "framework/settingslabel.h"
#include "framework/settingslineedit.h"
#include "framework/settingspage.h"
#include "framework/settingsradiobutton.h"
#include "framework/settingsslider.h"
#include "framework/settingssliderwitheditablevalue.h"
#include "framework/settingstab.h"
#include "framework/sliderlink.h"
#include "framework/tabbutton.h"
#include "stubdevice.h"

#include <QButtonGroup>
#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
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

// A dark main window with something behind the card.
class MainWindow : public QWidget
{
public:
    MainWindow()
    {
        resize(960, 760);
        QPalette shade = palette();
        shade.setColor(QPalette::Window, QColor(31, 31, 31));
        setPalette(shade);
        setAutoFillBackground(true);
    }
};

// A picture for an image group: a frame in the given aspect.
QPixmap aspectPicture(int width, int height)
{
    QPixmap pixmap(QSize(70, 50) * 2);
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(71, 71, 71), 2));
    painter.setBrush(QColor(208, 208, 208));
    painter.drawRoundedRect(QRectF(35 - width / 2.0, 25 - height / 2.0, width, height), 3, 3);
    return pixmap;
}

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

    void settingsCard()
    {
        Device device;
        MainWindow window;
        window.show();
        auto* card = new ProductCard(&device, &window, accentColour());
        auto* page = new SettingsPage;
        auto* tab = new SettingsTab(page);
        page->addTab(tab, QStringLiteral("Configure"));
        page->addTab(new SettingsTab(page), QStringLiteral("Network"));
        page->footer()->menu()->addOption(QStringLiteral("Identify"), 1);

        tab->addSection(QStringLiteral("Record"));
        SettingsComboBox* codec = tab->addComboBox(QStringLiteral("Codec:"), 240);
        codec->addItems({QStringLiteral("ProRes 422 HQ"), QStringLiteral("DNxHR HQX")});
        tab->addRadioGroup(QStringLiteral("Timecode Output:"));
        tab->addRadioButton(QStringLiteral("On"))->setChecked(true);
        tab->addRadioButton(QStringLiteral("Off"));
        tab->endRadioGroup();
        tab->addCheckBox(QStringLiteral("Pre-roll:"), QStringLiteral("Keep 5 seconds"))
            ->setChecked(true);
        tab->addLineEdit(QStringLiteral("Name:"), 0)->setText(QStringLiteral("Studio B"));
        SettingsLineEdit* address = tab->addLineEdit(QStringLiteral("Address:"), 1);
        address->setText(QStringLiteral("192.168.1."));
        address->updateStatusIcon();
        tab->addTextRow(QStringLiteral("Serial Number:"), QStringLiteral("KP-2291-0042"));

        tab->addSection(QStringLiteral("Audio"));
        SettingsSliderWithEditableValue* left = tab->addSliderWithEditableValue(
            QStringLiteral("Left Gain:"), -12, 12, 1, QStringLiteral("dB"));
        SettingsSliderWithEditableValue* right = tab->addSliderWithEditableValue(
            QStringLiteral("Right Gain:"), -12, 12, 1, QStringLiteral("dB"));
        left->setValue(3.5);
        right->setValue(-2);
        tab->addSliderLink(left, right, SliderLink::Offset)->linkButton()->click();
        tab->addSliderWithEditableValue(QStringLiteral("Monitor Delay:"), 0, 500, 0,
                                        QStringLiteral("ms"), true, 40)
            ->setValue(120);
        SettingsSlider* level =
            tab->addSliderWithFormat(QStringLiteral("Headphones:"), QStringLiteral("%1 %"));
        level->setRange(0, 100);
        level->setValue(65);
        tab->addCheckBoxGroup(
            QStringLiteral("Channels:"), {nullptr, nullptr, nullptr},
            {QStringLiteral("1-2"), QStringLiteral("3-4"), QStringLiteral("5-6")});

        tab->addSection(QStringLiteral("Display"));
        QList<ImageGroupButton*> looks;
        QButtonGroup* aspect = tab->addImageGroup(
            QStringLiteral("Aspect:"),
            {aspectPicture(64, 36), aspectPicture(48, 36), aspectPicture(44, 44),
             aspectPicture(36, 48), aspectPicture(62, 26)},
            {}, {"16:9", "4:3", "1:1", "3:4", "2.39:1"}, &looks,
            GridGroupLayout{27, 10, int(Qt::AlignLeft | Qt::AlignTop), 2, 16, 8, 4});
        aspect->buttons().first()->setChecked(true);
        tab->beginRadioGrid(QStringLiteral("Frame Rate:"));
        for (const char* rate : {"23.98", "24", "25", "29.97", "50"})
            tab->addGridRadioButton(QString::fromLatin1(rate));
        tab->endRadioGrid();
        tab->addValueWithButton(QStringLiteral("Storage:"), QStringLiteral("SSD 1 (412 GB free)"),
                                QStringLiteral("Format"), true);

        tab->addSection(QStringLiteral("Software"));
        tab->addFirmwareUpdateRow(QStringLiteral("3.1.0"), QStringLiteral("3.2.4"), true, true);
        tab->finishRows();

        card->addPage(page);
        card->show();
        QVERIFY(window.grab().save(m_folder + "/framework_settings_card.png"));

        CardScrollArea* scroll = tab->scrollArea();
        scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum() / 2);
        QVERIFY(window.grab().save(m_folder + "/framework_settings_card_middle.png"));
        scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
        QVERIFY(window.grab().save(m_folder + "/framework_settings_card_scrolled.png"));

        auto* dialog = new CommonDialog(QStringLiteral("Save Settings"), &window);
        dialog->showMessage(QStringLiteral("Unsaved Changes"),
                            QStringLiteral("The address is not complete. Save the other "
                                           "settings anyway?"));
        dialog->showChoice(QStringLiteral("Cancel"), QStringLiteral("Save"));
        dialog->show();
        QVERIFY(window.grab().save(m_folder + "/framework_settings_dialog.png"));
    }

    void connectingCard()
    {
        Device device;
        MainWindow window;
        window.show();
        auto* card = new ProductCard(&device, &window, accentColour());
        card->addPage(new ConnectingStatusPage);
        card->show();
        QVERIFY(window.grab().save(m_folder + "/framework_connecting_card.png"));
    }

private:
    QString m_folder;
};

QTEST_MAIN(TestScreenshots)
#include "tst_screenshots.moc"
