#include "framework/settingstab.h"

#include "framework/accentcolour.h"
#include "framework/bookmarkmenu.h"
#include "framework/bookmarkselector.h"
#include "framework/cardpushbutton.h"
#include "framework/cardscrollarea.h"
#include "framework/cardsection.h"
#include "framework/cardseparatordark.h"
#include "framework/firmwareupdaterow.h"
#include "framework/flatimagebutton.h"
#include "framework/imagegroupbutton.h"
#include "framework/rowspacer.h"
#include "framework/settingscheckbox.h"
#include "framework/settingscombobox.h"
#include "framework/settingslabel.h"
#include "framework/settingslineedit.h"
#include "framework/settingsradiobutton.h"
#include "framework/settingsslider.h"
#include "framework/settingsslidervalue.h"
#include "framework/settingssliderwitheditablevalue.h"
#include "framework/sliderlink.h"
#include "framework/style.h"
#include "framework/tighthboxlayout.h"
#include "framework/tightvboxlayout.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QLabel>
#include <QScrollBar>

namespace {

const QColor kCaptionColour(71, 71, 71);
const int kRowHeight = 31;
const int kSliderRowHeight = 38;
const int kRowGap = 11;
const int kSectionGap = 28;
const int kFinalGap = 36;
const int kGridColumnWidth = 112;

// A caption or value label at a fixed spot of its row, as high as its text.
QLabel* placeLabel(QLabel* label, int x, int y, int width, Qt::Alignment alignment)
{
    label->setAlignment(alignment);
    label->setFixedWidth(width);
    label->adjustSize();
    label->move(x, y);
    return label;
}

} // namespace

SettingsTab::SettingsTab(QWidget* parent)
    : QWidget(parent)
{
    m_content = new QWidget;
    m_rowLayout = new TightVBoxLayout(m_content);
    m_content->setContentsMargins(0, 14, 0, 0);

    m_outerLayout = new TightVBoxLayout(this);
    m_outerLayout->addWidget(new CardSeparatorDark);
    m_scrollArea = new CardScrollArea;
    m_scrollArea->setWidget(m_content);
    m_outerLayout->addWidget(m_scrollArea, 1);
}

QList<CardSection*> SettingsTab::sections() const
{
    return m_sections.live();
}

QList<SettingsLineEdit*> SettingsTab::lineEdits() const
{
    return m_lineEdits.live();
}

QList<QGridLayout*> SettingsTab::checkGrids() const
{
    return m_checkGrids.live();
}

QList<QGridLayout*> SettingsTab::imageGrids() const
{
    return m_imageGrids.live();
}

void SettingsTab::deactivate() {}

void SettingsTab::activate() {}

void SettingsTab::setStatus(int status)
{
    if (status == m_status)
        return;
    m_status = status;
    Q_EMIT settingsStatusChanged();
}

// --- Column and spacing -------------------------------------------------------------------

void SettingsTab::insertRow(QWidget* widget)
{
    if (!m_currentSection) {
        m_rowLayout->addWidget(widget);
        return;
    }
    const QList<QWidget*> rows = m_currentSection->rows();
    int index = m_rowLayout->count();
    if (!rows.isEmpty()) {
        const int last = m_rowLayout->indexOf(rows.last());
        if (last >= 0)
            index = last + 1;
    }
    m_rowLayout->insertWidget(index, widget);
    m_currentSection->appendRow(widget);
}

void SettingsTab::addRowSpacer(int height)
{
    insertRow(new RowSpacer(height));
}

void SettingsTab::insertSpacedRow(QWidget* row)
{
    if (m_lastRowKind != NothingYet && m_lastRowKind != SectionBreak && !m_afterSliderRow)
        addRowSpacer(kRowGap);
    m_lastRowKind = Row;
    insertRow(row);
    m_afterSliderRow = false;
}

QWidget* SettingsTab::addLabelledRow(const QString& caption, int height)
{
    auto* row = new QWidget;
    row->setFixedHeight(height);
    insertSpacedRow(row);
    QLabel* label = makeLabel(7, kCaptionColour, row);
    label->setText(caption);
    placeLabel(label, 30, 7, 160, Qt::AlignRight | Qt::AlignVCenter);
    return row;
}

CardSection* SettingsTab::addSection(const QString& title)
{
    auto* section = new CardSection(title);
    m_currentSection = section;
    if (m_sections.size() > 0)
        addSectionBreak();
    insertRow(section);
    m_sections.append(section);
    return section;
}

void SettingsTab::addSectionBreak()
{
    if (m_lastRowKind != NothingYet) {
        addRowSpacer(kSectionGap);
        auto* middle = new QWidget;
        middle->setObjectName(QStringLiteral("CardSeparatorDarkMiddle"));
        middle->setFixedHeight(1);
        auto* row = new QHBoxLayout(middle);
        row->setContentsMargins(0, 0, 0, 0);
        row->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        auto* line = new CardSeparatorDark;
        line->setFixedSize(560, 1);
        row->addWidget(line);
        insertRow(middle);
    }
    m_lastRowKind = SectionBreak;
}

void SettingsTab::finishRows()
{
    m_currentSection = nullptr;
    m_lastRowKind = Finished;
    addRowSpacer(kFinalGap);
    m_rowLayout->addStretch();
}

// --- Single-line rows ---------------------------------------------------------------------

SettingsLabel* SettingsTab::addTextRow(const QString& caption, const QString& text)
{
    QWidget* row = addLabelledRow(caption);
    auto* label = new SettingsLabel(text, row);
    placeLabel(label, 214, 7, 385, Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

SettingsLineEdit* SettingsTab::addLineEdit(const QString& caption, int validatorKind)
{
    QWidget* row = addLabelledRow(caption);
    auto* edit = new SettingsLineEdit(row);
    if (validatorKind == SettingsLineEdit::NonEmpty || validatorKind == SettingsLineEdit::IpAddress)
        edit->setValidatorKind(validatorKind);
    edit->setFixedWidth(260);
    edit->move(205, 3);
    connect(edit, &QLineEdit::textEdited, this, &SettingsTab::onLineEditChanged);
    connect(edit, &QLineEdit::editingFinished, this, &SettingsTab::onLineEditChanged);
    m_lineEdits.append(edit);
    return edit;
}

CardPushButton* SettingsTab::addPushButton(const QString& caption, const QString& buttonText)
{
    QWidget* row = addLabelledRow(caption);
    auto* button = new CardPushButton(buttonText, QSize(114, 25), row);
    button->setStyleSheet(gradientButtonStyleSheet());
    button->move(205, 5);
    return button;
}

CardPushButton* SettingsTab::addPushButtonRow(const QString& caption, const QString& buttonText)
{
    return addPushButton(caption, buttonText);
}

void SettingsTab::connectChange(QAbstractButton* button)
{
    connect(button, &QAbstractButton::clicked, this,
            [this, button] { onAnyControlChanged(button); });
}

SettingsCheckBox* SettingsTab::addCheckBox(const QString& caption, const QString& text)
{
    QWidget* row = addLabelledRow(caption);
    auto* box = new SettingsCheckBox(text, row);
    box->adjustSize();
    box->move(203, 8);
    connectChange(box);
    return box;
}

SettingsComboBox* SettingsTab::addComboBox(const QString& caption, int width)
{
    QWidget* row = addLabelledRow(caption);
    auto* box = new SettingsComboBox(row, width);
    box->move(205, 3);
    connect(box, &QComboBox::activated, this, [this, box] { onAnyControlChanged(box); });
    return box;
}

SliderWithValue SettingsTab::addSlider(const QString& caption)
{
    QWidget* row = addLabelledRow(caption, kSliderRowHeight);
    SliderWithValue pair;
    pair.slider = new SettingsSlider(row);
    pair.slider->move(205, 2);
    pair.value = new SettingsSliderValue(row);
    pair.value->setFixedWidth(105);
    pair.value->move(485, 3);
    SettingsSlider* slider = pair.slider;
    connect(slider, &QAbstractSlider::actionTriggered, this,
            [this, slider] { onAnyControlChanged(slider); });
    m_afterSliderRow = true;
    return pair;
}

SliderWithValue SettingsTab::addSliderRow(const QString& caption)
{
    return addSlider(caption);
}

SettingsSlider* SettingsTab::addSliderWithFormat(const QString& caption, const QString& format)
{
    const SliderWithValue pair = addSlider(caption);
    pair.value->setSlider(pair.slider, format);
    return pair.slider;
}

SettingsSliderWithEditableValue*
SettingsTab::addSliderWithEditableValue(const QString& caption, double minimum, double maximum,
                                        int decimals, const QString& units, bool defaultEnabled,
                                        double defaultValue)
{
    QWidget* row = addLabelledRow(caption, kSliderRowHeight);
    auto* slider = new SettingsSliderWithEditableValue(row);
    slider->setDecimals(decimals);
    slider->setMinimum(minimum);
    slider->setMaximum(maximum);
    slider->setUnitText(units);
    slider->setDefaultEnabled(defaultEnabled);
    slider->setDefaultValue(defaultValue);
    slider->adjustSize();
    slider->move(205, 0);
    connect(slider, qOverload<>(&SettingsSliderWithEditableValue::valueChanged), this,
            [this, slider] { onAnyControlChanged(slider); });
    m_afterSliderRow = true;
    return slider;
}

SliderLink* SettingsTab::addSliderLink(SettingsSliderWithEditableValue* a,
                                       SettingsSliderWithEditableValue* b, int mode)
{
    if (!a || !b)
        return nullptr;
    return new SliderLink(a, b, mode, m_content);
}

ValueWithButton SettingsTab::addValueWithButton(const QString& caption, const QString& valueText,
                                                const QString& buttonText, bool highlight)
{
    QWidget* row = addLabelledRow(caption);
    ValueWithButton pair;
    pair.value = makeLabel(7, accentColour(), row);
    pair.value->move(214, 6);
    pair.button = new CardPushButton(buttonText, QSize(114, 25), row);
    pair.button->setStyleSheet(gradientButtonStyleSheet());
    pair.button->move(476, 3);
    connectChange(pair.button);
    pair.setHighlighted(highlight, valueText);
    pair.value->setFixedWidth(476 - 214 - 10);
    pair.value->adjustSize();
    return pair;
}

FirmwareUpdateRow* SettingsTab::addFirmwareUpdateRow(const QString& currentVersion,
                                                     const QString& availableVersion,
                                                     bool updateAvailable, bool compatible)
{
    auto* row =
        new FirmwareUpdateRow(currentVersion, availableVersion, updateAvailable, !compatible, this);
    insertSpacedRow(row);
    return row;
}

// --- Status -------------------------------------------------------------------------------

void SettingsTab::onAnyControlChanged(QObject*)
{
    if (m_status == Unchanged)
        setStatus(Edited);
}

void SettingsTab::onLineEditChanged()
{
    auto* edit = qobject_cast<QLineEdit*>(sender());
    if (!edit)
        return;
    if (!edit->hasAcceptableInput()) {
        setStatus(Invalid);
        return;
    }
    if (m_status != Invalid) {
        onAnyControlChanged(edit);
        return;
    }
    const QList<SettingsLineEdit*> edits = m_lineEdits.live();
    for (SettingsLineEdit* other : edits) {
        if (!other->hasAcceptableInput())
            return;
    }
    setStatus(Edited);
}

// --- Bookmarks ----------------------------------------------------------------------------

int SettingsTab::addBookmark(QWidget* row, const QString& title)
{
    m_bookmarks.append(row);
    m_bookmarkTitles.append(title);
    return m_bookmarks.size() - 1;
}

void SettingsTab::finishBookmarks()
{
    if (m_lastRowKind != Finished)
        finishRows();
    if (m_bookmarks.live().isEmpty() || m_bookmarkSelector)
        return;
    m_bookmarkSelector = new BookmarkSelector;
    m_bookmarkMenu = m_bookmarkSelector->menu();
    for (int i = 0; i < m_bookmarkTitles.size(); ++i) {
        if (m_bookmarks.at(i))
            m_bookmarkMenu->addEntry(m_bookmarkTitles.at(i), i);
    }
    // The selector opens the menu through the tab, which knows where the rows are.
    disconnect(m_bookmarkSelector, &QPushButton::clicked, m_bookmarkSelector,
               &BookmarkSelector::onRaiseBookmarkMenu);
    connect(m_bookmarkSelector, &QPushButton::clicked, this, &SettingsTab::onRaiseBookmarkMenu);
    connect(m_bookmarkMenu, &BookmarkMenu::bookmarkSelected, this,
            &SettingsTab::onBookmarkSelected);
    auto* bar = new TightHBoxLayout;
    bar->setContentsMargins(0, 8, 30, 0);
    bar->addStretch();
    bar->addWidget(m_bookmarkSelector);
    m_outerLayout->insertLayout(1, bar);
}

void SettingsTab::onRaiseBookmarkMenu()
{
    if (!m_bookmarkSelector || !m_bookmarkMenu)
        return;
    m_bookmarkMenu->popup(
        m_bookmarkSelector->mapToGlobal(QPoint(0, m_bookmarkSelector->height() + 2)));
}

void SettingsTab::onBookmarkSelected(int bookmark)
{
    if (bookmark < 0 || bookmark >= m_bookmarks.size())
        return;
    if (QWidget* row = m_bookmarks.at(bookmark))
        m_scrollArea->verticalScrollBar()->setValue(row->y());
}

QList<QWidget*> SettingsTab::bookmarks() const
{
    QList<QWidget*> rows;
    for (qsizetype i = 0; i < m_bookmarks.size(); ++i)
        rows.append(m_bookmarks.at(i));
    return rows;
}

// --- Groups -------------------------------------------------------------------------------

SettingsTab::GridGroup SettingsTab::makeGridGroup(const QString* caption,
                                                  const GridGroupLayout& layout)
{
    GridGroup group;
    group.container = new QFrame;
    group.container->setFixedWidth(620);
    auto* row = new TightHBoxLayout(group.container);
    if (caption) {
        QLabel* label = makeLabel(7, kCaptionColour, group.container);
        label->setText(*caption);
        label->setAlignment(Qt::AlignRight | Qt::AlignTop);
        label->setFixedWidth(190);
        label->setContentsMargins(0, layout.captionTopMargin, 0, 0);
        row->addWidget(label, 0, Qt::AlignRight | Qt::AlignTop);
    }
    auto* inner = new QFrame;
    inner->setFixedWidth(caption ? 430 : 620);
    row->addWidget(inner);
    group.grid = new QGridLayout(inner);
    group.grid->setContentsMargins(layout.horizontalMargin, layout.verticalMargin,
                                   layout.horizontalMargin, layout.verticalMargin);
    group.grid->setAlignment(Qt::Alignment(layout.alignment));
    group.grid->setVerticalSpacing(layout.verticalSpacing);
    group.grid->setHorizontalSpacing(layout.horizontalSpacing);
    group.grid->setSizeConstraint(QLayout::SetNoConstraint);
    return group;
}

void SettingsTab::insertCheckGrid(QWidget* container, QGridLayout* grid)
{
    insertSpacedRow(container);
    // Check box groups and radio grids line their columns up with each other.
    m_checkGrids.append(grid);
    alignGridColumns(m_checkGrids.live(), kGridColumnWidth);
}

QButtonGroup* SettingsTab::newButtonGroup()
{
    auto* group = new QButtonGroup(this);
    connect(group, &QButtonGroup::idClicked, this, [this, group] { onAnyControlChanged(group); });
    return group;
}

QButtonGroup* SettingsTab::addRadioGroup(const QString& caption)
{
    m_radioRow = addLabelledRow(caption);
    m_radioButtons = newButtonGroup();
    m_radioNextY = 8;
    return m_radioButtons;
}

SettingsRadioButton* SettingsTab::addRadioButton(const QString& text, int id)
{
    if (!m_radioRow || !m_radioButtons)
        return nullptr;
    auto* button = new SettingsRadioButton(text, m_radioRow);
    button->adjustSize();
    button->move(205, m_radioNextY);
    m_radioNextY += 27;
    // Grow with every button, so a group nobody ends still shows all of them.
    m_radioRow->setFixedHeight(qMax(kRowHeight, m_radioNextY + 1));
    connectChange(button);
    m_radioButtons->addButton(button, id);
    return button;
}

void SettingsTab::endRadioGroup()
{
    if (m_radioRow)
        m_radioRow->setFixedHeight(m_radioNextY + 1);
}

QWidget* SettingsTab::beginCheckBoxGroup(const QString& caption)
{
    const GridGroup group = makeGridGroup(&caption, GridGroupLayout::checkBoxGroup());
    m_checkContainer = group.container;
    m_checkGrid = group.grid;
    m_checkRow = 0;
    return m_checkContainer;
}

CheckBoxPair SettingsTab::addCheckBoxPair(const QString& text1, const QString& text2)
{
    CheckBoxPair pair;
    if (!m_checkGrid)
        return pair;
    QWidget* inner = m_checkGrid->parentWidget();
    pair.first = new SettingsCheckBox(text1, inner);
    pair.first->setFixedHeight(24);
    connectChange(pair.first);
    m_checkGrid->addWidget(pair.first, m_checkRow, 0, Qt::AlignLeft | Qt::AlignTop);
    if (!text2.isEmpty()) {
        pair.second = new SettingsCheckBox(text2, inner);
        pair.second->setFixedHeight(24);
        connectChange(pair.second);
        m_checkGrid->addWidget(pair.second, m_checkRow, 1, Qt::AlignLeft | Qt::AlignTop);
    }
    ++m_checkRow;
    return pair;
}

void SettingsTab::endCheckBoxGroup()
{
    if (!m_checkContainer)
        return;
    insertCheckGrid(m_checkContainer, m_checkGrid);
    m_checkContainer = nullptr;
    m_checkGrid = nullptr;
    m_checkRow = 0;
}

void SettingsTab::addCheckBoxGroup(const QString& caption, QList<SettingsCheckBox**> targets,
                                   const QStringList& texts)
{
    if (targets.size() != texts.size())
        return;
    QWidget* container = beginCheckBoxGroup(caption);
    if (targets.size() == 1) {
        container->setFixedHeight(kRowHeight);
        container->setContentsMargins(0, 3, 0, 0);
    }
    for (int i = 0; i < targets.size(); ++i) {
        const CheckBoxPair pair = addCheckBoxPair(texts.at(i));
        if (targets.at(i))
            *targets.at(i) = pair.first;
    }
    endCheckBoxGroup();
}

QWidget* SettingsTab::beginRadioGrid(const QString& caption)
{
    m_radioGridButtons = newButtonGroup();
    const GridGroup group = makeGridGroup(&caption, GridGroupLayout::radioGrid());
    m_radioGridContainer = group.container;
    m_radioGrid = group.grid;
    m_radioGridRow = 0;
    m_radioGridColumn = 0;
    return m_radioGridContainer;
}

SettingsRadioButton* SettingsTab::addGridRadioButton(const QString& text, int id)
{
    if (!m_radioGrid || !m_radioGridButtons)
        return nullptr;
    auto* button = new SettingsRadioButton(text, m_radioGrid->parentWidget());
    button->setFixedHeight(20);
    connectChange(button);
    m_radioGrid->addWidget(button, m_radioGridRow, m_radioGridColumn, Qt::AlignLeft | Qt::AlignTop);
    m_radioGridButtons->addButton(button, id);
    if (++m_radioGridColumn >= GridGroupLayout::radioGrid().columns) {
        m_radioGridColumn = 0;
        ++m_radioGridRow;
    }
    return button;
}

void SettingsTab::endRadioGrid()
{
    if (!m_radioGridContainer)
        return;
    insertCheckGrid(m_radioGridContainer, m_radioGrid);
    m_radioGridButtons = nullptr;
    m_radioGridContainer = nullptr;
    m_radioGrid = nullptr;
    m_radioGridRow = 0;
    m_radioGridColumn = 0;
}

QButtonGroup* SettingsTab::openImageGroup(const QString* caption, const GridGroupLayout& layout)
{
    m_imageLayout = layout;
    const GridGroup group = makeGridGroup(caption, layout);
    m_imageContainer = group.container;
    m_imageGrid = group.grid;
    m_imageRow = 0;
    m_imageHeight = 0;
    m_imageButtons = newButtonGroup();
    QButtonGroup* buttons = m_imageButtons;
    connect(buttons, &QButtonGroup::buttonToggled, this,
            [this, buttons](QAbstractButton* button, bool checked) {
                onImageGroupButtonToggled(button, checked, buttons);
            });
    // Only captioned groups share their column widths.
    if (caption)
        m_imageGrids.append(m_imageGrid);
    return m_imageButtons;
}

QButtonGroup* SettingsTab::beginImageGroup(const GridGroupLayout& layout)
{
    return openImageGroup(nullptr, layout);
}

QButtonGroup* SettingsTab::beginLabelledImageGroup(const QString& caption,
                                                   const GridGroupLayout& layout)
{
    return openImageGroup(&caption, layout);
}

QList<ImageGroupButton*> SettingsTab::addImageButtonRow(QList<QPixmap> pixmaps, QList<int> ids,
                                                        QList<QString> texts, bool plain)
{
    QList<ImageGroupButton*> buttons;
    if (!m_imageGrid || !m_imageButtons)
        return buttons;
    if ((!texts.isEmpty() && texts.size() != pixmaps.size()) ||
        (!ids.isEmpty() && ids.size() != pixmaps.size()))
        return buttons;
    QWidget* inner = m_imageGrid->parentWidget();
    int tallest = 0;
    for (int i = 0; i < pixmaps.size(); ++i) {
        auto* button = texts.isEmpty()
                           ? new ImageGroupButton(pixmaps.at(i), plain, inner)
                           : new ImageGroupButton(pixmaps.at(i), texts.at(i), plain, inner);
        m_imageGrid->addWidget(button, m_imageRow, i, Qt::AlignHCenter | Qt::AlignTop);
        m_imageButtons->addButton(button->button(), ids.isEmpty() ? -1 : ids.at(i));
        tallest = qMax(tallest, button->sizeHint().height());
        buttons.append(button);
    }
    m_imageHeight += tallest;
    ++m_imageRow;
    return buttons;
}

void SettingsTab::endImageGroup()
{
    if (!m_imageContainer)
        return;
    m_imageContainer->setFixedHeight(qMax(0, m_imageRow - 1) * m_imageLayout.verticalSpacing +
                                     2 * m_imageLayout.verticalMargin + m_imageHeight);
    insertSpacedRow(m_imageContainer);
    alignGridColumns(m_imageGrids.live(), 0);
    m_imageContainer = nullptr;
    m_imageGrid = nullptr;
    m_imageButtons = nullptr;
    m_imageRow = 0;
    m_imageHeight = 0;
}

QButtonGroup* SettingsTab::addImageGroup(const QString* caption, QList<QPixmap> pixmaps,
                                         QList<int> ids, QList<QString> texts,
                                         QList<ImageGroupButton*>* created,
                                         const GridGroupLayout& layout, bool plain)
{
    const int count = pixmaps.size();
    if (count == 0 || (!ids.isEmpty() && ids.size() != count) ||
        (!texts.isEmpty() && texts.size() != count))
        return nullptr;
    const int perRow = layout.columns > 0 ? layout.columns : count;

    QButtonGroup* group = nullptr;
    if (caption) {
        group = beginLabelledImageGroup(*caption, layout);
    } else {
        GridGroupLayout fixed = GridGroupLayout::uncaptionedImageGroup();
        fixed.columns = layout.columns;
        group = beginImageGroup(fixed);
    }
    for (int first = 0; first < count; first += perRow) {
        const int n = qMin(perRow, count - first);
        const QList<ImageGroupButton*> row = addImageButtonRow(
            pixmaps.mid(first, n), ids.isEmpty() ? QList<int>() : ids.mid(first, n),
            texts.isEmpty() ? QList<QString>() : texts.mid(first, n), plain);
        if (created)
            created->append(row);
    }
    endImageGroup();
    return group;
}

QButtonGroup* SettingsTab::addImageGroupFromPointers(const QString* caption,
                                                     QList<const QPixmap*> pixmaps, QList<int> ids,
                                                     QList<QString> texts,
                                                     QList<ImageGroupButton*>* created,
                                                     const GridGroupLayout& layout, bool plain)
{
    QList<QPixmap> pictures;
    pictures.reserve(pixmaps.size());
    for (const QPixmap* pixmap : std::as_const(pixmaps))
        pictures.append(pixmap ? *pixmap : QPixmap());
    return addImageGroup(caption, pictures, ids, texts, created, layout, plain);
}

QButtonGroup* SettingsTab::addImageGroup(QList<const QPixmap*> pixmaps, QList<int> ids,
                                         QList<QString> texts, QList<ImageGroupButton*>* created,
                                         const GridGroupLayout& layout)
{
    return addImageGroupFromPointers(nullptr, pixmaps, ids, texts, created, layout, false);
}

QButtonGroup* SettingsTab::addImageGroup(const QString& caption, QList<const QPixmap*> pixmaps,
                                         QList<int> ids, QList<QString> texts,
                                         QList<ImageGroupButton*>* created,
                                         const GridGroupLayout& layout)
{
    return addImageGroupFromPointers(&caption, pixmaps, ids, texts, created, layout, false);
}

QButtonGroup* SettingsTab::addImageGroup(QList<QPixmap> pixmaps, QList<int> ids,
                                         QList<QString> texts, QList<ImageGroupButton*>* created,
                                         const GridGroupLayout& layout)
{
    return addImageGroup(nullptr, pixmaps, ids, texts, created, layout, false);
}

QButtonGroup* SettingsTab::addImageGroup(const QString& caption, QList<QPixmap> pixmaps,
                                         QList<int> ids, QList<QString> texts,
                                         QList<ImageGroupButton*>* created,
                                         const GridGroupLayout& layout)
{
    return addImageGroup(&caption, pixmaps, ids, texts, created, layout, false);
}

QButtonGroup* SettingsTab::addPlainImageGroup(QList<const QPixmap*> pixmaps, QList<int> ids,
                                              QList<QString> texts,
                                              QList<ImageGroupButton*>* created,
                                              const GridGroupLayout& layout)
{
    return addImageGroupFromPointers(nullptr, pixmaps, ids, texts, created, layout, true);
}

QButtonGroup* SettingsTab::addPlainImageGroup(QList<QPixmap> pixmaps, QList<int> ids,
                                              QList<QString> texts,
                                              QList<ImageGroupButton*>* created,
                                              const GridGroupLayout& layout)
{
    return addImageGroup(nullptr, pixmaps, ids, texts, created, layout, true);
}

void SettingsTab::onImageGroupButtonToggled(QAbstractButton* button, bool checked,
                                            QButtonGroup* group)
{
    for (QAbstractButton* member : group->buttons()) {
        if (checked && member == button)
            continue;
        if (auto* picture = qobject_cast<ImageGroupButton*>(member->parentWidget()))
            picture->onToggled(false);
    }
}

void SettingsTab::alignGridColumns(const QList<QGridLayout*>& grids, int fixedWidth)
{
    int width = fixedWidth;
    if (fixedWidth <= 0) {
        width = 0;
        for (QGridLayout* grid : grids) {
            if (QWidget* parent = grid->parentWidget())
                parent->adjustSize();
            for (int i = 0; i < grid->count(); ++i) {
                if (QWidget* widget = grid->itemAt(i)->widget())
                    width = qMax(width, qMax(widget->width(), widget->sizeHint().width()));
            }
        }
    }
    for (QGridLayout* grid : grids) {
        QList<bool> occupied(grid->columnCount(), false);
        for (int i = 0; i < grid->count(); ++i) {
            if (!grid->itemAt(i)->widget())
                continue;
            int row, column, rowSpan, columnSpan;
            grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
            if (column >= 0 && column < occupied.size())
                occupied[column] = true;
        }
        for (int column = 0; column < occupied.size(); ++column)
            grid->setColumnMinimumWidth(column, occupied.at(column) ? width : 0);
        if (QWidget* parent = grid->parentWidget())
            parent->adjustSize();
    }
}
