#pragma once

#include <QWidget>

class ElidedLabel;
class QLabel;
class VisibleDevice;

// The dark top of a product card: product name, device name and connection badge.
class CardHeader : public QWidget
{
    Q_OBJECT
public:
    explicit CardHeader(VisibleDevice* device, QWidget* parent = nullptr);

    ElidedLabel* titleLabel() const { return m_titleLabel; }
    ElidedLabel* subtitleLabel() const { return m_subtitleLabel; }
    QLabel* iconLabel() const { return m_iconLabel; }

Q_SIGNALS:
    void showEasterEgg();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ElidedLabel* m_titleLabel;
    ElidedLabel* m_subtitleLabel;
    QLabel* m_iconLabel;
};
