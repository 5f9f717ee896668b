#pragma once

#include "framework/checkboxpair.h"
#include "framework/gridgrouplayout.h"
#include "framework/guardedlist.h"
#include "framework/sliderwithvalue.h"
#include "framework/valuewithbutton.h"

#include <QList>
#include <QPixmap>
#include <QPointer>
#include <QStringList>
#include <QWidget>

class BookmarkMenu;
class BookmarkSelector;
class CardPushButton;
class CardScrollArea;
class CardSection;
class FirmwareUpdateRow;
class ImageGroupButton;
class QAbstractButton;
class QButtonGroup;
class QFrame;
class QGridLayout;
class QLabel;
class SettingsCheckBox;
class SettingsComboBox;
class SettingsLabel;
class SettingsLineEdit;
class SettingsRadioButton;
class SettingsSlider;
class SettingsSliderWithEditableValue;
class SliderLink;
class TightVBoxLayout;

// How far a settings tab is from its saved state; a tabbed card takes the worst of its tabs.
enum SettingsStatus { Unchanged = 0, Edited = 1, Invalid = 2 };

// One scrollable tab of a settings page, filled from top to bottom by the row builders: a
// caption on the left, a control on the right, grouped under section headings. Any change a
// user makes through a control marks the tab edited; a line edit with unacceptable input marks
// it invalid until every line edit is acceptable again.
class SettingsTab : public QWidget
{
    Q_OBJECT
public:
    explicit SettingsTab(QWidget* parent = nullptr);

    int status() const { return m_status; }

    CardSection* addSection(const QString& title);
    // Ends the column: a closing gap and a stretch. Rows added later go below the stretch.
    void finishRows();

    virtual SettingsLabel* addTextRow(const QString& caption, const QString& text);
    // Validator kinds as SettingsLineEdit::setValidatorKind; 2 means none.
    virtual SettingsLineEdit* addLineEdit(const QString& caption, int validatorKind);
    virtual QButtonGroup* addRadioGroup(const QString& caption);
    // Null when no radio group is open.
    virtual SettingsRadioButton* addRadioButton(const QString& text, int id = -1);
    virtual CardPushButton* addPushButton(const QString& caption, const QString& buttonText);
    virtual CardPushButton* addPushButtonRow(const QString& caption, const QString& buttonText);
    virtual SettingsCheckBox* addCheckBox(const QString& caption, const QString& text);
    virtual SettingsComboBox* addComboBox(const QString& caption, int width = 240);
    virtual SettingsSlider* addSliderWithFormat(const QString& caption, const QString& format);
    virtual SliderWithValue addSliderRow(const QString& caption);
    virtual SettingsSliderWithEditableValue*
    addSliderWithEditableValue(const QString& caption, double minimum, double maximum, int decimals,
                               const QString& units = QString(), bool defaultEnabled = false,
                               double defaultValue = 0.0);
    virtual SliderLink* addSliderLink(SettingsSliderWithEditableValue* a,
                                      SettingsSliderWithEditableValue* b, int mode);
    virtual ValueWithButton addValueWithButton(const QString& caption, const QString& valueText,
                                               const QString& buttonText, bool highlight);
    // One check box per target, stored through it; nothing is built when the counts differ.
    virtual void addCheckBoxGroup(const QString& caption, QList<SettingsCheckBox**> targets,
                                  const QStringList& texts);
    virtual QButtonGroup* addImageGroupFromPointers(const QString* caption,
                                                    QList<const QPixmap*> pixmaps, QList<int> ids,
                                                    QList<QString> texts,
                                                    QList<ImageGroupButton*>* created,
                                                    const GridGroupLayout& layout, bool plain);
    // A group of pictures of which one is chosen, `layout.columns` to a row. Empty ids or texts
    // mean automatic ids or no captions; lists of other lengths than the pictures', or no
    // pictures at all, build nothing and give null.
    virtual QButtonGroup* addImageGroup(const QString* caption, QList<QPixmap> pixmaps,
                                        QList<int> ids, QList<QString> texts,
                                        QList<ImageGroupButton*>* created,
                                        const GridGroupLayout& layout, bool plain);
    virtual QButtonGroup* addImageGroup(QList<const QPixmap*> pixmaps, QList<int> ids,
                                        QList<QString> texts, QList<ImageGroupButton*>* created,
                                        const GridGroupLayout& layout);
    virtual QButtonGroup* addImageGroup(const QString& caption, QList<const QPixmap*> pixmaps,
                                        QList<int> ids, QList<QString> texts,
                                        QList<ImageGroupButton*>* created,
                                        const GridGroupLayout& layout);
    virtual QButtonGroup* addImageGroup(QList<QPixmap> pixmaps, QList<int> ids,
                                        QList<QString> texts, QList<ImageGroupButton*>* created,
                                        const GridGroupLayout& layout);
    virtual QButtonGroup* addImageGroup(const QString& caption, QList<QPixmap> pixmaps,
                                        QList<int> ids, QList<QString> texts,
                                        QList<ImageGroupButton*>* created,
                                        const GridGroupLayout& layout);
    virtual QButtonGroup* addPlainImageGroup(QList<const QPixmap*> pixmaps, QList<int> ids,
                                             QList<QString> texts,
                                             QList<ImageGroupButton*>* created,
                                             const GridGroupLayout& layout);
    virtual QButtonGroup* addPlainImageGroup(QList<QPixmap> pixmaps, QList<int> ids,
                                             QList<QString> texts,
                                             QList<ImageGroupButton*>* created,
                                             const GridGroupLayout& layout);
    // With `compatible` false the available software is shown as not for this device.
    virtual FirmwareUpdateRow* addFirmwareUpdateRow(const QString& currentVersion,
                                                    const QString& availableVersion,
                                                    bool updateAvailable, bool compatible);
    // Hooks run when the tab stops or starts being the one shown.
    virtual void deactivate();
    virtual void activate();
    virtual SliderWithValue addSlider(const QString& caption);

    virtual QButtonGroup* beginImageGroup(const GridGroupLayout& layout);
    virtual QButtonGroup* beginLabelledImageGroup(const QString& caption,
                                                  const GridGroupLayout& layout);
    // Empty, adding nothing, when no image group is open or the list lengths differ.
    virtual QList<ImageGroupButton*> addImageButtonRow(QList<QPixmap> pixmaps, QList<int> ids,
                                                       QList<QString> texts, bool plain);
    virtual void endImageGroup();
    virtual QWidget* beginCheckBoxGroup(const QString& caption);
    // Both null when no check box group is open; no second box for an empty second text.
    virtual CheckBoxPair addCheckBoxPair(const QString& text1, const QString& text2 = QString());
    virtual void endCheckBoxGroup();
    // Null when no radio grid is open. Buttons fill the grid's rows two to a row.
    virtual SettingsRadioButton* addGridRadioButton(const QString& text, int id = -1);
    virtual QWidget* beginRadioGrid(const QString& caption);
    virtual void endRadioGrid();

    void endRadioGroup();

    // Lists `row` in the "Jump to" menu; finishBookmarks makes the menu.
    int addBookmark(QWidget* row, const QString& title);
    // Finishes the tab: ends the column unless that was done, and when rows were bookmarked,
    // puts the "Jump to" selector above them.
    virtual void finishBookmarks();

    QWidget* content() const { return m_content; }
    TightVBoxLayout* rowLayout() const { return m_rowLayout; }
    CardScrollArea* scrollArea() const { return m_scrollArea; }
    BookmarkSelector* bookmarkSelector() const { return m_bookmarkSelector; }
    // A plug-in may delete rows it was handed; the tab only keeps track of the ones still
    // alive. Bookmarks keep their indexes: a deleted row's entry is null.
    QList<QWidget*> bookmarks() const;
    QList<CardSection*> sections() const;
    QList<SettingsLineEdit*> lineEdits() const;
    QList<QGridLayout*> checkGrids() const;
    QList<QGridLayout*> imageGrids() const;

    // Column widths of grids of one family: each occupied column `fixedWidth` wide, or with
    // fixedWidth 0 as wide as the widest widget of all the grids. Empty columns get 0.
    static void alignGridColumns(const QList<QGridLayout*>& grids, int fixedWidth);

Q_SIGNALS:
    void settingsStatusChanged();

protected Q_SLOTS:
    virtual void onAnyControlChanged(QObject* sender);

private Q_SLOTS:
    void onRaiseBookmarkMenu();
    void onBookmarkSelected(int bookmark);
    void onLineEditChanged();
    void onImageGroupButtonToggled(QAbstractButton* button, bool checked, QButtonGroup* group);

protected:
    // Stores the status and tells the card when it changed.
    void setStatus(int status);

    QWidget* addLabelledRow(const QString& caption, int height = 31);
    void insertRow(QWidget* widget);
    void addRowSpacer(int height);
    void addSectionBreak();
    // Puts a row that brings no caption of its own into the column, with the row spacing.
    void insertSpacedRow(QWidget* row);

private:
    enum RowKind { NothingYet = 0, Finished = 1, SectionBreak = 3, Row = 4 };

    struct GridGroup
    {
        QFrame* container = nullptr;
        QGridLayout* grid = nullptr;
    };
    GridGroup makeGridGroup(const QString* caption, const GridGroupLayout& layout);
    QButtonGroup* openImageGroup(const QString* caption, const GridGroupLayout& layout);
    void connectChange(QAbstractButton* button);
    // A button group whose clicks mark the tab edited.
    QButtonGroup* newButtonGroup();
    void insertCheckGrid(QWidget* container, QGridLayout* grid);

    int m_lastRowKind = NothingYet;
    bool m_afterSliderRow = false;
    TightVBoxLayout* m_outerLayout;
    CardScrollArea* m_scrollArea;
    TightVBoxLayout* m_rowLayout;
    BookmarkSelector* m_bookmarkSelector = nullptr;
    BookmarkMenu* m_bookmarkMenu = nullptr;
    GuardedList<QWidget> m_bookmarks;
    QStringList m_bookmarkTitles;

    // A radio group stays open after endRadioGroup, so these outlive the builder calls.
    QPointer<QWidget> m_radioRow;
    QPointer<QButtonGroup> m_radioButtons;
    int m_radioNextY = 0;

    QButtonGroup* m_radioGridButtons = nullptr;
    QWidget* m_radioGridContainer = nullptr;
    QGridLayout* m_radioGrid = nullptr;
    int m_radioGridRow = 0;
    int m_radioGridColumn = 0;

    QWidget* m_checkContainer = nullptr;
    int m_checkRow = 0;
    QGridLayout* m_checkGrid = nullptr;

    GuardedList<QGridLayout> m_checkGrids;

    QWidget* m_imageContainer = nullptr;
    int m_imageRow = 0;
    QGridLayout* m_imageGrid = nullptr;
    QButtonGroup* m_imageButtons = nullptr;
    int m_imageHeight = 0;
    GridGroupLayout m_imageLayout;

    GuardedList<QGridLayout> m_imageGrids;

    QPointer<CardSection> m_currentSection;
    GuardedList<CardSection> m_sections;
    GuardedList<SettingsLineEdit> m_lineEdits;
    int m_status = Unchanged;
    QWidget* m_content;
};
