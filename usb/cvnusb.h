#pragma once

// The USB layer over the maker's kernel driver.
#include "usb/cusbdevice.h"
#include "usb/cusbinterface.h"
#include "usb/cvnusbstatus.h"
#include "usb/driverprotocol.h"
#include "usb/iusbdevice.h"
#include "usb/iusbinterface.h"
#include "usb/iusbinterfaceiterator.h"
#include "usb/notificationregistration.h"
