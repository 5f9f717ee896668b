#pragma once

#include "usb/driver/cvnusbstatus.h"

#include <QLoggingCategory>

#include <cstddef>

// Diagnostics of the USB layer. Like every category of ours it shows warnings and info by
// default; QT_LOGGING_RULES="pellworth.usb.*.debug=true" adds the traffic dump.
Q_DECLARE_LOGGING_CATEGORY(lcUsbDriver)

namespace CVN {
namespace USB {

struct UsbControlRequest;

// Payloads up to this many bytes are dumped whole; longer ones are cut there.
constexpr size_t kLoggedPayloadBytes = 64;

// The payload in hex, cut after kLoggedPayloadBytes.
QByteArray payloadHex(const void* data, size_t length);

// One debug line in `category` for a control transfer: request, value, index, length, status
// and the payload (sent, or received when it came).
// `category` is the category's function, as Q_DECLARE_LOGGING_CATEGORY declares it.
void logControlTransfer(const QLoggingCategory& (*category)(), const UsbControlRequest& request,
                        CVNUsbStatus status);

} // namespace USB
} // namespace CVN
