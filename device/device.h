// Named device objects and the process-wide registry of them.
//
// Every Device is entered in the registry under its name from the end of its
// constructor to the start of its destructor. The registry holds plain,
// non-owning pointers and one entry per name: a later device of the same
// name takes the entry over.
#pragma once

#include <wx/string.h>

#include <cstdint>
#include <map>

class Device {
public:
    // Registers the device under `name` (the whole wide string up to its
    // NUL); `param` is kept as it is.
    Device(const wchar_t* name, int32_t param);
    // Removes the registry entry of this device's name, whichever device it
    // names at that time.
    virtual ~Device();

    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // Sets the status word to 0.
    virtual void ClearStatus();
    // "Device:" and the name, the name converted to the C library's
    // multibyte encoding; an empty name stands in when that fails.
    virtual wxString GetDescription();

    // The device registered under `name`, or null.
    static Device* Find(const wchar_t* name);
    // Prints "DEVICES:", one "Device: <description>" line per device in name
    // order, and "DEVICES END" (no newline) on standard output.
    static void ListDevices();

protected:
    bool m_flag;
    uint32_t m_status;
    const wxString m_name;
    int32_t m_param;
};

// Orders names by wxString::compare, so case-sensitively.
struct DeviceNameLess {
    bool operator()(const wxString& a, const wxString& b) const { return a.compare(b) < 0; }
};

// The registry: one entry per name, ascending; guarded by a recursive lock.
using DeviceRegistry = std::map<wxString, Device*, DeviceNameLess>;
