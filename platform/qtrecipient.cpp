#include "platform/qtrecipient.h"

#include <QMetaObject>

namespace Platform {

QtRecipient::QtRecipient(MessageHandler handler)
    : m_handler(std::move(handler))
{
}

QtRecipient::~QtRecipient() = default;

void QtRecipient::setMessageHandler(MessageHandler handler)
{
    m_handler = std::move(handler);
}

bool QtRecipient::post(std::function<void()> work)
{
    if (!work)
        return false;
    // A queued call on the context object is discarded with it, so late work never runs
    // against a destroyed owner.
    return QMetaObject::invokeMethod(&m_context, std::move(work), Qt::QueuedConnection);
}

bool QtRecipient::postMessage(Message message)
{
    return post([this, message = std::move(message)] {
        intptr_t result = 0;
        deliver(message, &result);
    });
}

bool QtRecipient::deliver(const Message& message, intptr_t* result)
{
    return m_handler ? m_handler(message, result) : false;
}

} // namespace Platform
