#include "platform/qtrecipient.h"

#include "platform/happensbefore.h"

#include <QMetaObject>

#include <memory>

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
    // against a destroyed owner. Qt's queue hands the work over under locks the thread
    // sanitizer cannot see: the job's own address marks the hand-over for it. The queued call
    // owns the job alone, so it is also destroyed on the receiving thread, never on the
    // poster's after the receiver has read it.
    auto job = std::make_unique<std::function<void()>>(std::move(work));
    happensBefore(job.get());
    return QMetaObject::invokeMethod(
        &m_context,
        [job = std::move(job)] {
            happensAfter(job.get());
            (*job)();
        },
        Qt::QueuedConnection);
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
