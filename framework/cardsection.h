#pragma once

#include "framework/guardedlist.h"

#include <QList>
#include <QWidget>

// A heading above a group of settings rows.
class CardSection : public QWidget
{
    Q_OBJECT
public:
    explicit CardSection(const QString& title, QWidget* parent = nullptr);

    // The section's rows still alive: a plug-in may delete a row it was given.
    QList<QWidget*> rows() const { return m_rows.live(); }
    void appendRow(QWidget* row) { m_rows.append(row); }

private:
    GuardedList<QWidget> m_rows;
};
