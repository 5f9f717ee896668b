#pragma once

#include "platform/recipient.h"

#include <QObject>
#include <QPointer>

namespace Platform {

// A recipient whose owner thread is the thread of a QObject (usually the GUI thread).
// Work queued to it is dropped when the recipient is destroyed first.
class QtRecipient final : public Recipient
{
public:
    explicit QtRecipient(MessageHandler handler = {});
    ~QtRecipient() override;

    void setMessageHandler(MessageHandler handler);

    bool post(std::function<void()> work) override;
    bool postMessage(Message message) override;

    // Runs the handler now, on the calling thread.
    bool deliver(const Message& message, intptr_t* result);

private:
    QObject m_context;
    MessageHandler m_handler;
};

} // namespace Platform
