// The machine's device interfaces (IoRegisterDeviceInterface's list): what SetupDiGetClassDevsA
// lists. Simulated buses add and remove their devices here.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace ntoskrnl::io {

struct DeviceInterface {
    GUID class_guid;
    std::string path;      // "\\?\..." as CreateFileA takes it
    DWORD enum_error = 0;  // nonzero: SetupDiEnumDeviceInterfaces fails at this entry with it
};

// Adds an interface at the end of the list (a path already listed is replaced in place).
void add_device_interface(const DeviceInterface& entry);
void remove_device_interface(const std::string& path);
// The interfaces of class_guid, in the order they were added.
std::vector<DeviceInterface> device_interfaces(const GUID& class_guid);

}  // namespace ntoskrnl::io
