#pragma once

#include <QList>
#include <QWidget>

// A heading above a group of settings rows.
class CardSection : public QWidget
{
    Q_OBJECT
public:
    explicit CardSection(const QString& title, QWidget* parent = nullptr);

    QList<QWidget*>& rows() { return m_rows; }

private:
    QList<QWidget*> m_rows;
};
