#pragma once

// The USB layer over the maker's kernel driver.
#include "usb/driver/cusbdevice.h"
#include "usb/driver/cusbinterface.h"
#include "usb/driver/cvnusbstatus.h"
#include "usb/driver/driverprotocol.h"
#include "usb/driver/iusbdevice.h"
#include "usb/driver/iusbinterface.h"
#include "usb/driver/iusbinterfaceiterator.h"
#include "usb/driver/notificationregistration.h"
