// "Fail call N of kind K on node P with error E": one scripted failure of a
// system call on an emulated device node, for the fault sweep.
//
// The setting is read from the environment of the process that serves the
// nodes (the testbed) and of the processes it starts:
//
//   TXSIM_FAIL_CALL="PATH KIND N ERROR"   e.g. "/dev/spidev0.1 ioctl 7 EINTR"
//   TXSIM_CALL_LOG=FILE                   every counted call appended, one line
//                                         "PATH KIND N DETAIL" each
//
// Calls are counted from 1, per node and per kind. ioctl, read and write are
// answered by the node emulation in this process (call_faults.cpp); open and
// close happen in the command's process and are counted and failed there by
// a small preloaded library (open_faults.cpp), which also fails the chosen
// nothrow array allocation ("alloc", counted on the node "heap").
//
// Kept free of the C++ library's containers: the preloaded library uses it
// inside open(2) and operator new, where nothing may allocate.
#pragma once

#include <cstddef>

namespace sim {

enum class NodeCall { Open, Ioctl, Read, Write, Close, Alloc };

struct CallFault {
    char node[96] = {};
    NodeCall call = NodeCall::Open;
    long index = 0;  // 1 for the first call of that kind on that node
    int error = 0;   // an errno value; 0 for a short transfer or write
};

// The name used in the setting and in the log ("open", "ioctl", ...).
const char* NodeCallName(NodeCall call);
// The errno's symbolic name ("EIO"), or "short" for 0; "?" when unknown.
const char* FaultErrorName(int error);

// Parses "PATH KIND N ERROR". False when the text is not such a setting.
bool ParseCallFault(const char* text, CallFault* fault);

// Whether call `index` of `call` on `node` is the one `fault` names.
bool FaultMatches(const CallFault& fault, const char* node, NodeCall call, long index);

// The node among the emulated ones that `path` stands for: the path itself,
// or a testbed path ending in it (the preload library has already moved
// /dev and /sys below the testbed's root when the next open(2) sees it).
// Sysfs value files count as one node, the GPIO directory. Null for others.
const char* EmulatedNodeOf(const char* path);

}  // namespace sim
