#include "plugins/recorder/visiblekestrel.h"

#include "plugins/recorder/kestrelmodeltable.h"

VisibleKestrel::VisibleKestrel(Family* owner)
    : VisibleDeviceBase(owner, QString(), QPixmap(), QPixmap(), 0)
    , m_model(KestrelModelTable::UnknownModel)
{
}

QPixmap VisibleKestrel::launcherConnectionIcon()
{
    return QPixmap(QStringLiteral(":/Launcher_Connection_USB"));
}

QPixmap VisibleKestrel::cardConnectionIcon()
{
    return QPixmap(QStringLiteral(":/Card_Connection_USB"));
}

QString VisibleKestrel::familyName()
{
    return QStringLiteral("Kestrel");
}

bool VisibleKestrel::matchesDevice(CVN::DiskRecorder::IKestrel* device)
{
    return device == this->device();
}

quint32 VisibleKestrel::model()
{
    return m_model;
}

void VisibleKestrel::setModel(quint32 model)
{
    m_model = model;
    name = KestrelModelTable::name(int(model));
    // A picture the module does not carry loads as an empty pixmap.
    const QString image = KestrelModelTable::productImage(int(model));
    const QString thumb = KestrelModelTable::thumbnail(int(model));
    picture = image.isEmpty() ? QPixmap() : QPixmap(image);
    thumbnail = thumb.isEmpty() ? QPixmap() : QPixmap(thumb);
}
