#include "framework/statuspage.h"

StatusPage::StatusPage(QWidget* parent)
    : QWidget(parent)
{
    // The card's style rounds the bottom corners of widgets of this name.
    setObjectName(QStringLiteral("productCardBottom"));
}
