#include "device.h"

#include <wx/thread.h>

#include <cstdio>

namespace {

// Created during static initialisation and destroyed at exit in reverse
// order: the map first, then its lock. wxCriticalSection is recursive here.
wxCriticalSection registryLock;
DeviceRegistry registry;

}  // namespace

Device::Device(const wchar_t* name, int32_t param)
    : m_flag(true), m_status(0), m_name(name), m_param(param) {
    wxCriticalSectionLocker lock(registryLock);
    registry[m_name] = this;
}

Device::~Device() {
    wxCriticalSectionLocker lock(registryLock);
    registry.erase(m_name);
}

void Device::ClearStatus() { m_status = 0; }

wxString Device::GetDescription() {
    const wxCharBuffer name = m_name.mb_str();
    return wxString::Format("%s:%s", "Device", name.data() != nullptr ? name.data() : "");
}

Device* Device::Find(const wchar_t* name) {
    wxCriticalSectionLocker lock(registryLock);
    const auto entry = registry.find(wxString(name));
    return entry != registry.end() ? entry->second : nullptr;
}

void Device::ListDevices() {
    printf("DEVICES:\n");
    wxCriticalSectionLocker lock(registryLock);
    for (const auto& [name, device] : registry) {
        const wxCharBuffer text = device->GetDescription().mb_str();
        printf("Device: %s\n", text.data() != nullptr ? text.data() : "");
    }
    printf("DEVICES END");
}
