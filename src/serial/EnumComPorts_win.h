#pragma once

#include <QStringList>

#include <windows.h>

// The port names that the values of one registry key hold (the Windows port list reads
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM), in the registry's order. False when the
// key cannot be opened; raises EComPortExt code 23 on "EnumComPorts" when a value cannot be
// read (a name over 255 characters or data over 256 bytes).
bool RegistryComPorts(HKEY root, const char* subKey, QStringList& names);
