#include "framework/busybutton.h"
#include "framework/cardfooter.h"
#include "framework/cardpushbutton.h"
#include "framework/commondialog.h"
#include "framework/frameworkresources.h"
#include "framework/productcard.h"
#include "framework/settingslineedit.h"
#include "framework/settingspage.h"
#include "framework/settingstab.h"
#include "stubdevice.h"

#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QtTest>

namespace {
const QChar kNoBreak(0x00A0);
} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { registerApplicationFonts(); }

    void init()
    {
        m_window = new QWidget;
        m_window->resize(900, 600);
        m_window->show();
        m_dialog = new CommonDialog(QStringLiteral("Software Update"), m_window);
        m_dialog->show();
    }

    void cleanup() { delete m_window; }

    void lastWordsKeptTogether_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("no space") << "Done."
                                  << "Done.";
        QTest::newRow("words") << "Please do not unplug it."
                               << QString("Please do not unplug") + kNoBreak + "it.";
        QTest::newRow("trailing space") << "Unplug " << QString("Unplug") + kNoBreak;
        QTest::newRow("space inside a link tag")
            << "Open <a href=\"x\">page</a>"
            << QString("Open") + kNoBreak + "<a href=\"x\">page</a>";
        QTest::newRow("link words") << "Open <a href=\"x\">the page</a>"
                                    << QString("Open <a href=\"x\">the") + kNoBreak + "page</a>";
    }

    void lastWordsKeptTogether()
    {
        QFETCH(QString, message);
        m_dialog->showMessage(QStringLiteral("Heading"), message);
        QTEST(m_dialog->messageLabel()->text(), "shown");
    }

    void messageMode()
    {
        QVERIFY(m_dialog->plainLabel()->isVisible());
        QVERIFY(!m_dialog->headingLabel()->isVisible());

        m_dialog->showMessage(QStringLiteral("Update Failed!"),
                              QStringLiteral("Updating the software failed."));
        QVERIFY(m_dialog->headingLabel()->isVisible());
        QVERIFY(m_dialog->messageLabel()->isVisible());
        QVERIFY(!m_dialog->plainLabel()->isVisible());
        QCOMPARE(m_dialog->headingLabel()->pos(), QPoint(30, 65));
        QCOMPARE(m_dialog->headingLabel()->height(), 25);
        QCOMPARE(m_dialog->messageLabel()->pos(), QPoint(30, 94));
        QCOMPARE(m_dialog->messageLabel()->height(), 20);
        // y = 69 + 25 + 20; the frame ends 97 below it.
        QCOMPARE(m_dialog->frame()->size(), QSize(500, 211));
        QCOMPARE(m_dialog->closeButton()->pos(), QPoint(356, 153));
    }

    void longMessageGrowsByWholeLines()
    {
        const QString longText = QString("A rather long sentence that wraps. ").repeated(8);
        m_dialog->showMessage(QStringLiteral("Heading"), longText);
        const int height = m_dialog->messageLabel()->height();
        QVERIFY(height > 20);
        QCOMPARE(height % 20, 0);
        // Every line of the text has room.
        QVERIFY(m_dialog->messageLabel()->heightForWidth(440) <= height + 5);
        QCOMPARE(m_dialog->frame()->height(), 69 + 25 + height + 97);
    }

    void choiceMode()
    {
        QSignalSpy yes(m_dialog, &CommonDialog::yesClicked);
        QSignalSpy no(m_dialog, &CommonDialog::noClicked);
        m_dialog->showChoice(QStringLiteral("Cancel"), QStringLiteral("Update"));
        QVERIFY(m_dialog->noButton()->isVisible());
        QVERIFY(m_dialog->yesButton()->isVisible());
        QCOMPARE(m_dialog->yesButton()->text(), QStringLiteral("Update"));
        QVERIFY(!m_dialog->closeButton()->isVisible());
        QVERIFY(!m_dialog->progressBar()->isVisible());
        QVERIFY(!m_dialog->progressLabel()->isVisible());
        QVERIFY(!m_dialog->spinner()->isVisible());
        m_dialog->yesButton()->click();
        m_dialog->noButton()->click();
        QCOMPARE(yes.count(), 1);
        QCOMPARE(no.count(), 1);
    }

    void singleButtonMode()
    {
        QSignalSpy close(m_dialog, &CommonDialog::closeClicked);
        m_dialog->showChoice(QStringLiteral("No"), QStringLiteral("Yes"));
        m_dialog->showSingleButton(QStringLiteral("Done"));
        QVERIFY(!m_dialog->noButton()->isVisible());
        QVERIFY(!m_dialog->yesButton()->isVisible());
        QVERIFY(m_dialog->closeButton()->isVisible());
        QCOMPARE(m_dialog->closeButton()->text(), QStringLiteral("Done"));
        QVERIFY(!m_dialog->progressBar()->isVisible());
        QVERIFY(!m_dialog->spinner()->isVisible());
        m_dialog->closeButton()->click();
        QCOMPARE(close.count(), 1);
    }

    void progressMode()
    {
        m_dialog->showProgress();
        QVERIFY(!m_dialog->noButton()->isVisible());
        QVERIFY(!m_dialog->yesButton()->isVisible());
        QVERIFY(!m_dialog->closeButton()->isVisible());
        QVERIFY(m_dialog->progressBar()->isVisible());
        QVERIFY(m_dialog->progressLabel()->isVisible());

        m_dialog->setProgress(-1);
        QVERIFY(m_dialog->isBusy());
        QCOMPARE(m_dialog->progressBar()->maximum(), 0);
        QCOMPARE(m_dialog->progressLabel()->text(), QStringLiteral("..."));
        m_dialog->setProgress(-7);
        QVERIFY(m_dialog->isBusy());
        QCOMPARE(m_dialog->progressLabel()->text(), QStringLiteral("..."));

        m_dialog->setProgress(40);
        QVERIFY(!m_dialog->isBusy());
        QCOMPARE(m_dialog->progressBar()->minimum(), 0);
        QCOMPARE(m_dialog->progressBar()->maximum(), 100);
        QCOMPARE(m_dialog->progressBar()->value(), 40);
        QCOMPARE(m_dialog->progressLabel()->text(), QStringLiteral("40%"));
        m_dialog->setProgress(100);
        QCOMPARE(m_dialog->progressLabel()->text(), QStringLiteral("100%"));
    }

    void followsTheWindow()
    {
        m_dialog->showMessage(QStringLiteral("Heading"), QStringLiteral("Message"));
        for (const QSize size : {QSize(900, 600), QSize(1201, 777), QSize(640, 480)}) {
            m_window->resize(size);
            QCOMPARE(m_dialog->size(), size);
            const QRect frame = m_dialog->frame()->geometry();
            QCOMPARE(frame.x(), (size.width() - frame.width()) / 2);
            QCOMPARE(frame.y(), (size.height() - frame.height()) / 2);
        }
    }

    void spinnerActsAsClose()
    {
        QSignalSpy close(m_dialog, &CommonDialog::closeClicked);
        m_dialog->spinner()->click();
        QCOMPARE(close.count(), 1);
    }

    void titleAndLinks()
    {
        QCOMPARE(m_dialog->titleLabel()->text(), QStringLiteral("Software Update"));
        m_dialog->setTitle(QStringLiteral("Error"));
        QCOMPARE(m_dialog->titleLabel()->text(), QStringLiteral("Error"));
        QSignalSpy links(m_dialog, &CommonDialog::linkActivated);
        Q_EMIT m_dialog->messageLabel()->linkActivated(QStringLiteral("addbyip"));
        QCOMPARE(links.count(), 1);
        QCOMPARE(links.at(0).at(0).toString(), QStringLiteral("addbyip"));
    }

    // A dialog over an open card holds the keyboard: typing, Tab and Space stay inside it, code
    // can't move focus under it, and closing it gives focus back.
    void keepsTheKeyboardOverACard()
    {
        QWidget window;
        window.resize(960, 700);
        StubDevice device(nullptr);
        auto* card = new ProductCard(&device, &window, QColor());
        auto* page = new SettingsPage;
        auto* tab = new SettingsTab(page);
        page->addTab(tab, QStringLiteral("General"));
        card->addPage(page);
        SettingsLineEdit* name = tab->addLineEdit(QStringLiteral("Name:"), 2);
        name->setText(QStringLiteral("Kestrel"));
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        name->setFocus();
        QCOMPARE(QApplication::focusWidget(), name);
        QSignalSpy saved(page->footer(), &CardFooter::savePressed);

        auto* dialog = new CommonDialog(QStringLiteral("Save Settings"), &window);
        dialog->showMessage(QStringLiteral("Unsaved Changes"), QStringLiteral("Save anyway?"));
        dialog->showChoice(QStringLiteral("Cancel"), QStringLiteral("Save"));
        QSignalSpy no(dialog, &CommonDialog::noClicked);
        QSignalSpy yes(dialog, &CommonDialog::yesClicked);
        dialog->show();
        auto focusInside = [dialog] { return dialog->isAncestorOf(QApplication::focusWidget()); };
        QVERIFY(focusInside());

        QWindow* keys = window.windowHandle();
        for (const char c : {'a', 'b', 'c'})
            QTest::keyClick(keys, c);
        QCOMPARE(name->text(), QStringLiteral("Kestrel"));
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(keys, Qt::Key_Tab);
            QVERIFY(focusInside());
            QTest::keyClick(keys, Qt::Key_Backtab);
            QVERIFY(focusInside());
        }
        QTest::keyClick(keys, Qt::Key_Tab);
        QTest::keyClick(keys, Qt::Key_Space);
        QCOMPARE(no.count() + yes.count(), 1);
        QCOMPARE(saved.count(), 0);

        name->setFocus();
        QVERIFY(focusInside());
        dialog->hide();
        QCOMPARE(QApplication::focusWidget(), name);
    }

private:
    QWidget* m_window = nullptr;
    CommonDialog* m_dialog = nullptr;
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
