#pragma once

#include <QFrame>
#include <QStringList>

class CrossMenu;
class FlatImageButton;
class SecretButton;

// The footer's left corner: the cross button with its commands, and the hidden double-click
// spot that opens the build details.
class FooterLeftRegion : public QFrame
{
    Q_OBJECT
public:
    explicit FooterLeftRegion(QWidget* parent = nullptr);

    void setOptions(const QStringList& options);
    QStringList options() const { return m_options; }
    FlatImageButton* crossButton() const { return m_crossButton; }
    CrossMenu* menu() const { return m_menu; }
    SecretButton* secretButton() const { return m_secretButton; }

Q_SIGNALS:
    void crossMenuOptionSelected(QString option);
    void easterEggClicked();

public Q_SLOTS:
    void onCrossButtonClicked();

private:
    QStringList m_options;
    CrossMenu* m_menu;
    FlatImageButton* m_crossButton;
    SecretButton* m_secretButton;
};
