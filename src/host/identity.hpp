// The control's fixed identity: its class, interfaces and type library. These never
// change: hosts and registration files keep them.
#pragma once

namespace zav::identity {

inline constexpr const char* kProgId = "ZAVCtlN.ZAV";
inline constexpr const char* kClassName = "ZAV";
inline constexpr const char* kLibraryName = "ZAVCtlN";
inline constexpr const char* kClassId = "{624705B1-87A3-4B6A-997D-068A6CB3EE0B}";
inline constexpr const char* kDispatchInterfaceId = "{476C4DED-462F-4C01-B91F-15C916EB37BF}";
inline constexpr const char* kDispatchInterfaceName = "_ZAV";
inline constexpr const char* kTypeLibraryId = "{F78E100E-2E2C-4BFD-AC7B-79CAD187CCD5}";
inline constexpr const char* kSafetyInterfaceId = "{CB5BDC81-93C1-11CF-8F20-00805F2CD064}";
inline constexpr const char* kSafetyInterfaceName = "IObjectSafety";
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 0;

}  // namespace zav::identity
