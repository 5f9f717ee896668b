#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// The recorder's firmware from the package file fileName in the plug-in's resources: the first
// entry of type 1 for product id productId (vendor 0x2C4A). Throws std::runtime_error when the
// package does not read, holds no entry for the product, or the entry's payload is empty or
// does not unpack.
QByteArray getFirmware(const QString& fileName, uint16_t productId);
