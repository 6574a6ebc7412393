// By-name access to the control: every public property and method of ZAV under its
// own name, with variant arguments, the way a script host reaches the control.
// One table describes every member (kind, parameters, by-reference marks, types);
// the JSON host, the component interface and the type description all read it.
//
// Errors reach the caller as RuntimeFailure: 438 unknown member, 450 wrong number of
// arguments or assignment to something that is not a writable property, 13 a value
// that does not convert to the parameter's type, 6 a number out of its range.
#pragma once

#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "basic/variant.hpp"
#include "control/zav.hpp"

namespace zav {

enum class ValueType { kByte, kInteger, kLong, kDouble, kString, kBoolean, kDate, kVariant, kVoid };

// The name a type description uses for a value type ("Byte", "Integer", "String", ...).
const char* ValueTypeName(ValueType t);

enum class MemberKind { kProperty, kReadOnlyProperty, kMethod };

struct ParamInfo {
  const char* name;
  ValueType type;
  bool by_ref;
};

struct Member {
  const char* name;
  MemberKind kind;
  ValueType type;  // property type, or method result (kVoid for none)
  std::vector<ParamInfo> params;
  // Methods and read-only properties: called with the arguments already converted to
  // their parameter types; by-reference arguments are written back into `args`.
  std::function<Variant(ZAV&, std::vector<Variant>& args)> invoke;
  // Read-write properties.
  std::function<Variant(const ZAV&)> get;
  std::function<void(ZAV&, const Variant&)> put;
};

// Every member in declaration order: properties first, then methods.
std::span<const Member> Members();

// Looks a member up by name, without regard to case (nullptr when unknown).
const Member* FindMember(std::string_view name);

// The interface-safety methods, callable by name beside the control's own members:
// GetInterfaceSafetyOptions(iid, supported, enabled) and
// SetInterfaceSafetyOptions(iid, mask, enabled), the identifier as its registry text or
// Empty for none, the status code as an unsigned number.
std::span<const Member> SafetyMembers();

// Converts a value to a parameter or property type (13, 6 on failure).
Variant Coerce(const Variant& value, ValueType type);

// Calls a method or reads a read-only property (no arguments). A read-write property
// called with no arguments answers its value. `args` receives the by-reference results.
Variant Invoke(ZAV& control, std::string_view name, std::vector<Variant>& args);

// Property access. Get of a method without parameters calls it.
Variant GetProperty(ZAV& control, std::string_view name);
void PutProperty(ZAV& control, std::string_view name, const Variant& value);

}  // namespace zav
