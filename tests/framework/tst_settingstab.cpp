// Settings tab rows: spacing, sections, status and the grouped builders.
#include "framework/bookmarkmenu.h"
#include "framework/bookmarkselector.h"
#include "framework/cardscrollarea.h"
#include "framework/cardsection.h"
#include "framework/flatimagebutton.h"
#include "framework/frameworkresources.h"
#include "framework/imagegroupbutton.h"
#include "framework/rowspacer.h"
#include "framework/settingscheckbox.h"
#include "framework/settingslabel.h"
#include "framework/settingslineedit.h"
#include "framework/settingsradiobutton.h"
#include "framework/settingssliderwitheditablevalue.h"
#include "framework/settingstab.h"
#include "framework/tightvboxlayout.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QLabel>
#include <QScrollBar>
#include <QtTest>

namespace {

// What the column holds, top to bottom: "row", "section", "line", "stretch" or a spacer's
// height.
QStringList columnOf(const SettingsTab& tab)
{
    QStringList items;
    QLayout* column = tab.rowLayout();
    for (int i = 0; i < column->count(); ++i) {
        QLayoutItem* item = column->itemAt(i);
        QWidget* widget = item->widget();
        if (!widget)
            items.append(QStringLiteral("stretch"));
        else if (qobject_cast<RowSpacer*>(widget))
            items.append(QString::number(widget->minimumHeight()));
        else if (qobject_cast<CardSection*>(widget))
            items.append(QStringLiteral("section"));
        else if (widget->objectName() == QLatin1String("CardSeparatorDarkMiddle"))
            items.append(QStringLiteral("line"));
        else
            items.append(QStringLiteral("row"));
    }
    return items;
}

QList<QPixmap> pictures(int count)
{
    QList<QPixmap> list;
    for (int i = 0; i < count; ++i) {
        QPixmap pixmap(40 + 10 * i, 30);
        pixmap.fill(QColor(10 * i, 80, 120));
        list.append(pixmap);
    }
    return list;
}

// Buttons per grid row of a group, in row order.
QList<int> rowsOf(QGridLayout* grid)
{
    QList<int> perRow(grid->rowCount(), 0);
    for (int i = 0; i < grid->count(); ++i) {
        int row, column, rowSpan, columnSpan;
        grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
        ++perRow[row];
    }
    return perRow;
}

QGridLayout* gridOf(QButtonGroup* group)
{
    QWidget* inner = group->buttons().first()->parentWidget()->parentWidget();
    return qobject_cast<QGridLayout*>(inner->layout());
}

} // namespace

class TestSettingsTab : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { initFrameworkResources(); }

    void spacingRules()
    {
        SettingsTab tab;
        tab.addSection(QStringLiteral("Record"));
        tab.addTextRow(QStringLiteral("Model:"), QString());
        tab.addComboBox(QStringLiteral("Codec:"), 240);
        tab.addSliderWithEditableValue(QStringLiteral("Gain:"), 0, 10, 1);
        tab.addCheckBox(QStringLiteral("Loop:"), QStringLiteral("On"));
        tab.addSection(QStringLiteral("Timecode"));
        tab.addLineEdit(QStringLiteral("Name:"), 2);
        tab.finishRows();
        tab.addTextRow(QStringLiteral("Late:"), QStringLiteral("x"));

        const QStringList expected = {
            "section", "row",  "11",      "row", "11", "row",     "row", // no gap after the slider
            "28",      "line", "section", "row", "36", "stretch", "11",  "row"};
        QCOMPARE(columnOf(tab).join(","), expected.join(","));
        QCOMPARE(tab.sections().size(), 2);
        // Each section lists what it shows and hides.
        QCOMPARE(tab.sections().at(1)->rows().size(), 4);
    }

    void firstSectionAfterRowsGetsNoBreakWhenNothingCameBefore()
    {
        SettingsTab tab;
        tab.addTextRow(QStringLiteral("Loose:"), QStringLiteral("row"));
        tab.addSection(QStringLiteral("First"));
        tab.addSection(QStringLiteral("Second"));
        QCOMPARE(columnOf(tab), QStringList({"row", "section", "28", "line", "section"}));

        SettingsTab empty;
        empty.addSection(QStringLiteral("A"));
        empty.addSection(QStringLiteral("B"));
        QCOMPARE(columnOf(empty), QStringList({"section", "section"}));
    }

    void statusMachine()
    {
        SettingsTab tab;
        SettingsLineEdit* name = tab.addLineEdit(QStringLiteral("Name:"), 0);
        SettingsLineEdit* address = tab.addLineEdit(QStringLiteral("Address:"), 1);
        SettingsCheckBox* box = tab.addCheckBox(QStringLiteral("Loop:"), QStringLiteral("On"));
        name->setText(QStringLiteral("Kestrel"));
        address->setText(QStringLiteral("10.0.0.2"));
        QSignalSpy changed(&tab, &SettingsTab::settingsStatusChanged);
        QCOMPARE(tab.status(), int(Unchanged));

        box->click();
        QCOMPARE(tab.status(), int(Edited));
        box->click();
        QCOMPARE(changed.count(), 1);

        // Two fields turn invalid: one signal. Fixing one is not enough.
        name->selectAll();
        QTest::keyClick(name, Qt::Key_Delete);
        QCOMPARE(tab.status(), int(Invalid));
        address->selectAll();
        QTest::keyClicks(address, QStringLiteral("1.2."));
        QCOMPARE(changed.count(), 2);
        QTest::keyClicks(name, QStringLiteral("K"));
        QCOMPARE(tab.status(), int(Invalid));
        QTest::keyClicks(address, QStringLiteral("3.4"));
        QCOMPARE(tab.status(), int(Edited));
        QCOMPARE(changed.count(), 3);
    }

    void finishBookmarksEndsTheColumnOnce()
    {
        SettingsTab tab;
        tab.addTextRow(QStringLiteral("A:"), QStringLiteral("a"));
        tab.finishBookmarks();
        tab.finishBookmarks();
        QCOMPARE(columnOf(tab), QStringList({"row", "36", "stretch"}));
        QVERIFY(!tab.bookmarkSelector());
    }

    void bookmarksJumpToTheirRows()
    {
        QWidget window;
        window.resize(620, 200);
        auto* tab = new SettingsTab(&window);
        tab->resize(620, 200);
        tab->addSection(QStringLiteral("Top"));
        for (int i = 0; i < 12; ++i)
            tab->addTextRow(QStringLiteral("Row:"), QString::number(i));
        CardSection* lower = tab->addSection(QStringLiteral("Lower"));
        tab->addTextRow(QStringLiteral("Last:"), QStringLiteral("x"));
        QCOMPARE(tab->addBookmark(tab->sections().first(), QStringLiteral("Top")), 0);
        QCOMPARE(tab->addBookmark(lower, QStringLiteral("Lower")), 1);
        tab->finishBookmarks();
        QVERIFY(tab->bookmarkSelector());
        QCOMPARE(tab->bookmarkSelector()->menu()->entryCount(), 2);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QSignalSpy chosen(tab->bookmarkSelector()->menu(), &BookmarkMenu::bookmarkSelected);
        tab->bookmarkSelector()->menu()->onBookmarkSelected(1);
        QCOMPARE(chosen.count(), 1);
        QScrollBar* bar = tab->scrollArea()->verticalScrollBar();
        QVERIFY(bar->value() > 0);
        QCOMPARE(bar->value(), qMin(lower->y(), bar->maximum()));
        QVERIFY(!tab->bookmarkSelector()->menu()->isVisible());
    }

    // A plug-in may delete rows it was handed; the tab must not follow them afterwards.
    void deletedFieldNoLongerHoldsTheTabInvalid()
    {
        SettingsTab tab;
        SettingsLineEdit* name = tab.addLineEdit(QStringLiteral("Name:"), 0);
        SettingsLineEdit* address = tab.addLineEdit(QStringLiteral("Address:"), 1);
        name->setText(QStringLiteral("K"));
        address->setText(QStringLiteral("10.0.0.2"));
        QTest::keyClick(name, Qt::Key_Backspace);
        QCOMPARE(tab.status(), int(Invalid));

        delete name->parentWidget();
        QCOMPARE(tab.lineEdits(), QList<SettingsLineEdit*>({address}));
        QTest::keyClicks(address, QStringLiteral("0"));
        QCOMPARE(tab.status(), int(Edited));
    }

    void bookmarkOfADeletedRowLeadsNowhere()
    {
        QWidget window;
        window.resize(620, 200);
        auto* tab = new SettingsTab(&window);
        tab->resize(620, 200);
        for (int i = 0; i < 12; ++i)
            tab->addTextRow(QStringLiteral("Row:"), QString::number(i));
        CardSection* gone = tab->addSection(QStringLiteral("Gone"));
        CardSection* kept = tab->addSection(QStringLiteral("Kept"));
        tab->addTextRow(QStringLiteral("Last:"), QStringLiteral("x"));
        tab->addBookmark(gone, QStringLiteral("Gone"));
        tab->addBookmark(kept, QStringLiteral("Kept"));
        tab->finishBookmarks();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        delete gone;
        QCOMPARE(tab->bookmarks(), QList<QWidget*>({nullptr, kept}));
        QCOMPARE(tab->sections(), QList<CardSection*>({kept}));
        QScrollBar* bar = tab->scrollArea()->verticalScrollBar();
        tab->bookmarkSelector()->menu()->onBookmarkSelected(0);
        QCOMPARE(bar->value(), 0);
        tab->bookmarkSelector()->menu()->onBookmarkSelected(1);
        QCOMPARE(bar->value(), qMin(kept->y(), bar->maximum()));
    }

    void deletedGridsDropOutOfColumnAlignment()
    {
        SettingsTab tab;
        QWidget* checks = tab.beginCheckBoxGroup(QStringLiteral("Inputs:"));
        tab.addCheckBoxPair(QStringLiteral("A"), QStringLiteral("B"));
        tab.endCheckBoxGroup();
        const QList<QPixmap> two = pictures(2);
        QButtonGroup* images = tab.addImageGroup(QStringLiteral("Look:"), two, {}, {}, nullptr,
                                                 GridGroupLayout::uncaptionedImageGroup());
        delete checks;
        delete gridOf(images)->parentWidget()->parentWidget();

        tab.beginRadioGrid(QStringLiteral("Rate:"));
        tab.addGridRadioButton(QStringLiteral("25"));
        tab.endRadioGrid();
        tab.addImageGroup(QStringLiteral("Again:"), two, {}, {}, nullptr,
                          GridGroupLayout::uncaptionedImageGroup());
        QCOMPARE(tab.checkGrids().size(), 1);
        QCOMPARE(tab.imageGrids().size(), 1);
    }

    void deletedSectionAndRowsAreForgotten()
    {
        SettingsTab tab;
        CardSection* first = tab.addSection(QStringLiteral("First"));
        tab.addTextRow(QStringLiteral("A:"), QStringLiteral("a"));
        QWidget* lastRow =
            tab.addTextRow(QStringLiteral("B:"), QStringLiteral("b"))->parentWidget();
        delete lastRow;
        QCOMPARE(first->rows().size(), 3);

        CardSection* second = tab.addSection(QStringLiteral("Second"));
        delete second;
        // The rows that would have gone into it end the column instead.
        tab.addTextRow(QStringLiteral("C:"), QStringLiteral("c"));
        QCOMPARE(tab.sections(), QList<CardSection*>({first}));
        QCOMPARE(columnOf(tab).last(), QStringLiteral("row"));
    }

    void radioGroup()
    {
        SettingsTab tab;
        QVERIFY(!tab.addRadioButton(QStringLiteral("Orphan")));
        QButtonGroup* group = tab.addRadioGroup(QStringLiteral("Output:"));
        SettingsRadioButton* on = tab.addRadioButton(QStringLiteral("On"));
        SettingsRadioButton* off = tab.addRadioButton(QStringLiteral("Off"));
        tab.endRadioGroup();
        QCOMPARE(group->buttons().size(), 2);
        QCOMPARE(on->pos(), QPoint(205, 8));
        QCOMPARE(off->pos(), QPoint(205, 35));
        QCOMPARE(on->parentWidget()->height(), 63);
        QVERIFY(group->exclusive());

        off->click();
        QCOMPARE(tab.status(), int(Edited));
    }

    void radioGridFillsRowsInOrder()
    {
        SettingsTab tab;
        QVERIFY(!tab.addGridRadioButton(QStringLiteral("Orphan")));
        tab.beginRadioGrid(QStringLiteral("Rate:"));
        QList<SettingsRadioButton*> buttons;
        for (const char* text : {"24", "25", "30", "50", "60"})
            buttons.append(tab.addGridRadioButton(QString::fromLatin1(text)));
        tab.endRadioGrid();
        QGridLayout* grid = tab.checkGrids().last();
        QCOMPARE(rowsOf(grid), QList<int>({2, 2, 1}));
        int row, column, rowSpan, columnSpan;
        grid->getItemPosition(grid->indexOf(buttons.at(3)), &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(QPoint(column, row), QPoint(1, 1));
        QCOMPARE(grid->columnMinimumWidth(0), 112);
        QCOMPARE(grid->columnMinimumWidth(1), 112);
    }

    void checkBoxGroups()
    {
        SettingsTab tab;
        QCOMPARE(tab.addCheckBoxPair(QStringLiteral("x")).first, nullptr);
        tab.beginCheckBoxGroup(QStringLiteral("Inputs:"));
        const CheckBoxPair both = tab.addCheckBoxPair(QStringLiteral("A"), QStringLiteral("B"));
        const CheckBoxPair single = tab.addCheckBoxPair(QStringLiteral("C"));
        tab.addCheckBoxPair(QStringLiteral("D"), QStringLiteral("E"));
        tab.endCheckBoxGroup();
        QVERIFY(both.second);
        QVERIFY(!single.second);
        QCOMPARE(rowsOf(tab.checkGrids().last()), QList<int>({2, 1, 2}));

        SettingsCheckBox* first = nullptr;
        SettingsCheckBox* second = nullptr;
        tab.addCheckBoxGroup(QStringLiteral("Outputs:"), {&first, &second},
                             {QStringLiteral("SDI"), QStringLiteral("HDMI")});
        QVERIFY(first && second);
        QCOMPARE(second->text(), QStringLiteral("HDMI"));

        // Texts that don't match the targets build nothing.
        SettingsCheckBox* lone = nullptr;
        const int before = tab.rowLayout()->count();
        tab.addCheckBoxGroup(QStringLiteral("Bad:"), {&lone}, {});
        QVERIFY(!lone);
        QCOMPARE(tab.rowLayout()->count(), before);
    }

    void imageGroupRows_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QList<int>>("rows");
        QTest::newRow("5 in 2 columns") << 5 << 2 << QList<int>({2, 2, 1});
        QTest::newRow("5 in one row") << 5 << 0 << QList<int>({5});
        QTest::newRow("4 in 2 columns") << 4 << 2 << QList<int>({2, 2});
    }
    void imageGroupRows()
    {
        QFETCH(int, count);
        QFETCH(int, columns);
        QFETCH(QList<int>, rows);
        SettingsTab tab;
        GridGroupLayout layout = GridGroupLayout::uncaptionedImageGroup();
        layout.columns = columns;
        QList<ImageGroupButton*> created;
        QList<int> ids;
        for (int i = 0; i < count; ++i)
            ids.append(100 + i);
        QButtonGroup* group = tab.addImageGroup(pictures(count), ids, {}, &created, layout);
        QVERIFY(group);
        QCOMPARE(created.size(), count);
        QCOMPARE(rowsOf(gridOf(group)), rows);
        QCOMPARE(group->id(created.last()->button()), 100 + count - 1);
        QVERIFY(!created.first()->caption());
    }

    void imageGroupsRefuseMismatchedLists_data()
    {
        QTest::addColumn<int>("pictureCount");
        QTest::addColumn<int>("idCount");
        QTest::addColumn<int>("textCount");
        QTest::addColumn<bool>("built");
        QTest::newRow("all match") << 3 << 3 << 3 << true;
        QTest::newRow("no ids, no texts") << 3 << 0 << 0 << true;
        QTest::newRow("too few texts") << 3 << 3 << 2 << false;
        QTest::newRow("too many ids") << 3 << 4 << 0 << false;
        QTest::newRow("no pictures") << 0 << 0 << 0 << false;
    }
    void imageGroupsRefuseMismatchedLists()
    {
        QFETCH(int, pictureCount);
        QFETCH(int, idCount);
        QFETCH(int, textCount);
        QFETCH(bool, built);
        SettingsTab tab;
        QList<int> ids;
        for (int i = 0; i < idCount; ++i)
            ids.append(i);
        QStringList texts;
        for (int i = 0; i < textCount; ++i)
            texts.append(QString::number(i));
        const QString caption = QStringLiteral("Look:");
        QList<ImageGroupButton*> created;
        QButtonGroup* group = tab.addImageGroup(caption, pictures(pictureCount), ids, texts,
                                                &created, GridGroupLayout::uncaptionedImageGroup());
        QCOMPARE(group != nullptr, built);
        QCOMPARE(created.size(), built ? pictureCount : 0);
        QCOMPARE(tab.rowLayout()->count(), built ? 1 : 0);

        // Row by row, the same rule.
        tab.beginImageGroup(GridGroupLayout::uncaptionedImageGroup());
        QCOMPARE(tab.addImageButtonRow(pictures(pictureCount), ids, texts, false).size(),
                 built ? pictureCount : 0);
        tab.endImageGroup();
    }

    void imageButtonRowNeedsAnOpenGroup()
    {
        SettingsTab tab;
        QVERIFY(tab.addImageButtonRow(pictures(2), {}, {}, false).isEmpty());
    }

    void captionedImageGroupsShareColumnWidths()
    {
        SettingsTab tab;
        GridGroupLayout layout = GridGroupLayout::uncaptionedImageGroup();
        layout.columns = 2;
        QList<QPixmap> narrow = {QPixmap(30, 30), QPixmap(30, 30)};
        QList<QPixmap> wide = {QPixmap(90, 30)};
        for (QPixmap* p : {&narrow[0], &narrow[1], &wide[0]})
            p->fill(Qt::gray);
        QButtonGroup* first =
            tab.addImageGroup(QStringLiteral("A:"), narrow, {}, {}, nullptr, layout);
        QButtonGroup* second =
            tab.addImageGroup(QStringLiteral("B:"), wide, {}, {}, nullptr, layout);
        QButtonGroup* loose = tab.addImageGroup(narrow, {}, {}, nullptr, layout);
        QCOMPARE(gridOf(first)->columnMinimumWidth(0), 90);
        QCOMPARE(gridOf(first)->columnMinimumWidth(1), 90);
        QCOMPARE(gridOf(second)->columnMinimumWidth(0), 90);
        QCOMPARE(gridOf(second)->columnCount(), 1);
        QCOMPARE(gridOf(loose)->columnMinimumWidth(0), 0);
        QCOMPARE(tab.imageGrids().size(), 2);
    }

    void imageGroupHeight()
    {
        SettingsTab tab;
        GridGroupLayout layout{10, 6, int(Qt::AlignLeft), 2, 4, 5, 0};
        QList<ImageGroupButton*> created;
        tab.addImageGroup(QStringLiteral("Pick:"), pictures(3), {}, {}, &created, layout);
        const int rowHeight = created.first()->sizeHint().height();
        QWidget* container = tab.rowLayout()->itemAt(0)->widget();
        QCOMPARE(container->height(), 6 + 2 * 5 + 2 * rowHeight);
    }

    void checkingAPictureFadesTheOthersCaptions()
    {
        SettingsTab tab;
        QList<ImageGroupButton*> created;
        QButtonGroup* group =
            tab.addImageGroup(pictures(2), {}, {QStringLiteral("One"), QStringLiteral("Two")},
                              &created, GridGroupLayout::uncaptionedImageGroup());
        QVERIFY(group->exclusive());
        created.at(0)->button()->click();
        created.at(1)->button()->click();
        auto alphaOf = [](ImageGroupButton* b) {
            return b->caption()->palette().color(QPalette::Active, QPalette::WindowText).alpha();
        };
        QCOMPARE(alphaOf(created.at(0)), 127);
        QCOMPARE(alphaOf(created.at(1)), 255);
        QCOMPARE(tab.status(), int(Edited));
    }
};

QTEST_MAIN(TestSettingsTab)
#include "tst_settingstab.moc"
