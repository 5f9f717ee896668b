#pragma once

#include "framework/tendwelldialog.h"

class BusyButton;
class CardPushButton;
class DialogLineEdit;
class QLabel;

// Asks for a device's IPv4 address, then shows the check under way or its failure.
class AddByIpAddressDialog : public TendwellDialog
{
    Q_OBJECT
public:
    enum State { Input = 0, Checking = 1, Failed = 2 };

    explicit AddByIpAddressDialog(QWidget* parent);

    void setState(int state);
    int state() const { return m_state; }
    QString address() const;
    bool isAcceptable() const { return m_acceptable; }

    DialogLineEdit* lineEdit() const { return m_lineEdit; }
    CardPushButton* addButton() const { return m_addButton; }
    CardPushButton* cancelButton() const { return m_cancelButton; }
    CardPushButton* closeButton() const { return m_closeButton; }
    BusyButton* spinner() const { return m_spinner; }
    QWidget* inputRow() const { return m_inputRow; }
    QWidget* checkingRow() const { return m_checkingRow; }
    QWidget* failedRow() const { return m_failedRow; }
    QWidget* cancelAddRow() const { return m_cancelAddRow; }
    QWidget* closeRow() const { return m_closeRow; }

Q_SIGNALS:
    void addDevice();
    void addCancelled();
    void closeClicked();

public Q_SLOTS:
    void checkAddressValid();
    void onCloseClicked();

protected:
    bool eventFilter(QObject* obj, QEvent* event) override;

private:
    void showRows(int state);

    QWidget* m_inputRow;
    QWidget* m_checkingRow;
    QWidget* m_failedRow;
    QWidget* m_cancelAddRow;
    QWidget* m_closeRow;
    DialogLineEdit* m_lineEdit;
    CardPushButton* m_addButton;
    BusyButton* m_spinner;
    int m_state = Input;
    bool m_acceptable = false;
    CardPushButton* m_cancelButton;
    CardPushButton* m_closeButton;
};
