#pragma once

#include <QMenu>

class QSignalMapper;

// The cross button's menu: one entry per option text.
class CrossMenu : public QMenu
{
    Q_OBJECT
public:
    explicit CrossMenu(QWidget* parent = nullptr);

    void setOptions(const QStringList& options);

Q_SIGNALS:
    void menuOptionSelected(QString option);

private:
    QSignalMapper* m_mapper;
};
