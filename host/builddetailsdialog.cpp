#include "host/builddetailsdialog.h"

#include "buildinfo.h"
#include "framework/contract/family.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QFont detailsFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (!QFontInfo(font).fixedPitch())
        font.setFamily(QStringLiteral("courier"));
    return font;
}

QLabel* detailsLabel(const QString& text)
{
    auto* label = new QLabel(text);
    label->setFont(detailsFont());
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setWordWrap(true);
    return label;
}

} // namespace

BuildDetailsDialog::BuildDetailsDialog(const QList<Family*>& families, QWidget* parent)
    : QDialog(parent)
    , m_tabs(new QTabWidget(this))
{
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowModality(Qt::WindowModal);
    setSizeGripEnabled(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(detailsLabel(buildText()));

    m_tabs->setMinimumSize(600, 600);
    for (Family* family : families) {
        auto* scroll = new QScrollArea;
        scroll->setWidgetResizable(true);
        scroll->setWidget(detailsLabel(family->buildDetails()));
        m_tabs->addTab(scroll, family->name());
    }
    layout->addWidget(m_tabs);

    auto* close = new QPushButton(tr("Close"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(close);
}

QString BuildDetailsDialog::buildText()
{
    return QStringLiteral("** Build information\n"
                          "\tTime:     \t%1\n"
                          "\tRC Tag:   \t%2\n"
                          "\tRevision: \t%3\n")
        .arg(QStringLiteral(PELLWORTH_BUILD_TIME), QStringLiteral(PELLWORTH_RC_TAG),
             QStringLiteral(PELLWORTH_REVISION));
}
