#include "device.h"

#include <wx/thread.h>

#include <cstdio>

namespace {

// The lock (recursive on this platform) and the map are made on first use,
// the lock first, so they exist before any device, even one built during
// static initialisation, and are destroyed at exit in reverse order: the
// map first, then its lock.
wxCriticalSection& RegistryLock() {
    static wxCriticalSection lock;
    return lock;
}

DeviceRegistry& Registry() {
    static DeviceRegistry registry;
    return registry;
}

// Both exist before main runs.
[[maybe_unused]] const bool registryReady = (RegistryLock(), Registry(), true);

}  // namespace

Device::Device(const wchar_t* name, int32_t param)
    : m_flag(true), m_status(0), m_name(name), m_param(param) {
    wxCriticalSectionLocker lock(RegistryLock());
    Registry()[m_name] = this;
}

Device::~Device() {
    wxCriticalSectionLocker lock(RegistryLock());
    Registry().erase(m_name);
}

void Device::ClearStatus() { m_status = 0; }

wxString Device::GetDescription() {
    const wxCharBuffer name = m_name.mb_str();
    return wxString::Format("%s:%s", "Device", name.data() != nullptr ? name.data() : "");
}

Device* Device::Find(const wchar_t* name) {
    wxCriticalSectionLocker lock(RegistryLock());
    const DeviceRegistry& registry = Registry();
    const auto entry = registry.find(wxString(name));
    return entry != registry.end() ? entry->second : nullptr;
}

void Device::ListDevices() {
    printf("DEVICES:\n");
    wxCriticalSectionLocker lock(RegistryLock());
    for (const auto& [name, device] : Registry()) {
        const wxCharBuffer text = device->GetDescription().mb_str();
        printf("Device: %s\n", text.data() != nullptr ? text.data() : "");
    }
    printf("DEVICES END");
}
