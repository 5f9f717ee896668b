#pragma once

#include <QDialog>
#include <QList>

class Family;
class QTabWidget;

// What this build is, and what each family says of its own build; opened from the footer.
class BuildDetailsDialog : public QDialog
{
    Q_OBJECT
public:
    BuildDetailsDialog(const QList<Family*>& families, QWidget* parent);

    // The program's own lines: a heading, then build time, tag and revision.
    static QString buildText();
    QTabWidget* tabs() const { return m_tabs; }

private:
    QTabWidget* m_tabs;
};
