// The component entry points: a class factory for ZAV, instances reachable through a
// dispatch interface (the same by-name dispatch as the JSON host) and the safety
// interface, the unload answer, and registration in a small file under the user's
// configuration folder.
#include <dlfcn.h>
#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "basic/cp1252.hpp"
#include "basic/runtime_failure.hpp"
#include "control/safety.hpp"
#include "control/zav.hpp"
#include "host/dispatch.hpp"
#include "host/identity.hpp"
#include "host/typelib.hpp"
#include "host/zavctl.h"

namespace {

namespace fs = std::filesystem;
using zav::RuntimeFailure;
using zav::Variant;

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

zav::Guid ToGuid(const ZavGuid& g) {
  zav::Guid out;
  static_assert(sizeof(ZavGuid) == 16);
  std::memcpy(out.bytes.data(), &g, 16);
  return out;
}

bool Is(const ZavGuid* riid, const char* text) {
  if (riid == nullptr) return false;
  return zav::GuidText(ToGuid(*riid)) == text;
}

// ---- Variants across the boundary ----

bool IsObject(const ZavVariant& v) { return v.vt == ZAV_VT_DISPATCH || v.vt == ZAV_VT_UNKNOWN; }

// The object a variant holds, by its common first three entries.
IZavUnknown* ObjectIn(const ZavVariant& v) {
  return v.vt == ZAV_VT_DISPATCH ? reinterpret_cast<IZavUnknown*>(v.u.pdispVal) : v.u.punkVal;
}

// An object a host put into a variant: held with a reference of the control's own for as
// long as any variant of the control holds it, and handed back as the same pointer.
class HostObject final : public zav::VariantObject {
 public:
  explicit HostObject(const ZavVariant& v) : object_(ObjectIn(v)), vt_(v.vt) {
    if (object_ != nullptr) object_->lpVtbl->AddRef(object_);
  }
  ~HostObject() override {
    if (object_ != nullptr) object_->lpVtbl->Release(object_);
  }
  HostObject(const HostObject&) = delete;
  HostObject& operator=(const HostObject&) = delete;

  // Into an empty variant, with a new reference for it.
  void HandOut(ZavVariant* out) const {
    if (object_ != nullptr) object_->lpVtbl->AddRef(object_);
    out->vt = vt_;
    out->u.punkVal = object_;
  }

 private:
  IZavUnknown* object_;
  std::uint16_t vt_;
};

Variant FromC(const ZavVariant& v) {
  switch (v.vt) {
    case ZAV_VT_EMPTY:
      return Variant();
    case ZAV_VT_I2:
      return Variant::Integer(v.u.iVal);
    case ZAV_VT_I4:
      return Variant::Long(v.u.lVal);
    case ZAV_VT_R8:
      return Variant::Double(v.u.dblVal);
    case ZAV_VT_DATE:
      return Variant::FromDate(zav::Date{v.u.date});
    case ZAV_VT_BOOL:
      return Variant::Boolean(v.u.boolVal != 0);
    case ZAV_VT_BSTR:
      return Variant::String(zav::Utf8ToCp1252(v.u.bstrVal ? v.u.bstrVal : ""));
    case ZAV_VT_DISPATCH:
    case ZAV_VT_UNKNOWN:
      return Variant::Object(std::make_shared<HostObject>(v));
    default:
      throw RuntimeFailure(zav::err::kTypeMismatch);
  }
}

void ToC(const Variant& value, ZavVariant* out) {
  ZavVariantClear(out);
  switch (value.type()) {
    case zav::VarType::kEmpty:
      break;
    case zav::VarType::kInteger:
      out->vt = ZAV_VT_I2;
      out->u.iVal = value.ToInteger();
      break;
    case zav::VarType::kLong:
      out->vt = ZAV_VT_I4;
      out->u.lVal = value.ToLong();
      break;
    case zav::VarType::kDouble:
      out->vt = ZAV_VT_R8;
      out->u.dblVal = value.dbl();
      break;
    case zav::VarType::kDate:
      out->vt = ZAV_VT_DATE;
      out->u.date = value.ToDate().serial;
      break;
    case zav::VarType::kBoolean:
      out->vt = ZAV_VT_BOOL;
      out->u.boolVal = value.ToBoolean() ? -1 : 0;
      break;
    case zav::VarType::kString: {
      char* text = ZavStringAlloc(zav::Cp1252ToUtf8(value.text()).c_str());
      if (text == nullptr) throw std::bad_alloc();
      out->vt = ZAV_VT_BSTR;
      out->u.bstrVal = text;
      break;
    }
    case zav::VarType::kObject: {
      const auto* held = dynamic_cast<const HostObject*>(value.object().get());
      if (held == nullptr) throw RuntimeFailure(zav::err::kTypeMismatch);
      held->HandOut(out);
      break;
    }
  }
}

void Fill(ZavExcepInfo* excep, int number, const std::string& description) {
  if (excep == nullptr) return;
  excep->number = number;
  std::snprintf(excep->description, sizeof excep->description, "%s", description.c_str());
}

// ---- The instance: one object, two faces ----

struct Instance;

struct DispatchFace {
  const IZavDispatchVtbl* lpVtbl;
  Instance* owner;
};
struct SafetyFace {
  const IZavObjectSafetyVtbl* lpVtbl;
  Instance* owner;
};

extern const IZavDispatchVtbl kDispatchVtbl;
extern const IZavObjectSafetyVtbl kSafetyVtbl;

struct Instance {
  DispatchFace dispatch{&kDispatchVtbl, this};
  SafetyFace safety{&kSafetyVtbl, this};
  std::atomic<std::uint32_t> refs{1};
  zav::ZAV control;

  Instance() { ++g_objects; }
  ~Instance() { --g_objects; }
};

Instance* OwnerOf(void* self) { return static_cast<DispatchFace*>(self)->owner; }
Instance* SafetyOwnerOf(void* self) { return static_cast<SafetyFace*>(self)->owner; }

ZavResult InstanceQuery(Instance* in, const ZavGuid* riid, void** out) {
  if (out == nullptr) return ZAV_E_POINTER;
  *out = nullptr;
  if (Is(riid, ZAV_IID_UNKNOWN_TEXT) || Is(riid, ZAV_IID_IDISPATCH_TEXT) ||
      Is(riid, ZAV_IID_DISPATCH_TEXT)) {
    *out = &in->dispatch;
  } else if (Is(riid, ZAV_IID_OBJECTSAFETY_TEXT)) {
    *out = &in->safety;
  } else {
    return ZAV_E_NOINTERFACE;
  }
  ++in->refs;
  return ZAV_S_OK;
}

std::uint32_t InstanceRelease(Instance* in) {
  const std::uint32_t left = --in->refs;
  if (left == 0) delete in;
  return left;
}

ZavResult DispQuery(void* self, const ZavGuid* riid, void** out) {
  return InstanceQuery(OwnerOf(self), riid, out);
}
std::uint32_t DispAddRef(void* self) { return ++OwnerOf(self)->refs; }
std::uint32_t DispRelease(void* self) { return InstanceRelease(OwnerOf(self)); }

// Dispatch identifiers: the member's position in the table, from 1; the two safety
// methods follow the control's own members.
const zav::Member* MemberById(std::int32_t id) {
  const auto members = zav::Members();
  const auto safety = zav::SafetyMembers();
  if (id >= 1 && static_cast<std::size_t>(id) <= members.size()) return &members[id - 1];
  const std::size_t k = static_cast<std::size_t>(id) - members.size() - 1;
  if (id > 0 && k < safety.size()) return &safety[k];
  return nullptr;
}

ZavResult DispGetIDsOfNames(void*, const char* name, std::int32_t* dispid) {
  if (name == nullptr || dispid == nullptr) return ZAV_E_POINTER;
  for (std::int32_t id = 1; const zav::Member* m = MemberById(id); ++id) {
    if (strcasecmp(m->name, name) == 0) {
      *dispid = id;
      return ZAV_S_OK;
    }
  }
  return ZAV_DISP_E_UNKNOWNNAME;
}

ZavResult DispInvoke(void* self, std::int32_t dispid, std::uint16_t flags, ZavVariant* args,
                     std::uint32_t argc, ZavVariant* result, ZavExcepInfo* excep) {
  Instance* in = OwnerOf(self);
  const zav::Member* m = MemberById(dispid);
  if (m == nullptr) return ZAV_DISP_E_UNKNOWNNAME;
  if (argc > 0 && args == nullptr) return ZAV_E_POINTER;
  try {
    std::vector<Variant> values;
    for (std::uint32_t i = 0; i < argc; ++i) values.push_back(FromC(args[i]));
    Variant answer;
    if (flags & ZAV_DISPATCH_PROPERTYPUT) {
      if (values.size() != 1) throw RuntimeFailure(zav::err::kWrongArguments);
      zav::PutProperty(in->control, m->name, values[0]);
    } else if ((flags & ZAV_DISPATCH_PROPERTYGET) && values.empty()) {
      answer = zav::GetProperty(in->control, m->name);
    } else {
      answer = zav::Invoke(in->control, m->name, values);
      for (std::uint32_t i = 0; i < argc && i < m->params.size(); ++i) {
        if (m->params[i].by_ref) ToC(values[i], &args[i]);
      }
    }
    if (result != nullptr) ToC(answer, result);
    return ZAV_S_OK;
  } catch (const RuntimeFailure& f) {
    Fill(excep, f.number(), f.description());
  } catch (const std::exception& e) {
    Fill(excep, zav::err::kInvalidCall, e.what());
  }
  return ZAV_DISP_E_EXCEPTION;
}

ZavResult SafeQuery(void* self, const ZavGuid* riid, void** out) {
  return InstanceQuery(SafetyOwnerOf(self), riid, out);
}
std::uint32_t SafeAddRef(void* self) { return ++SafetyOwnerOf(self)->refs; }
std::uint32_t SafeRelease(void* self) { return InstanceRelease(SafetyOwnerOf(self)); }

ZavResult SafeGet(void*, const ZavGuid* riid, std::uint32_t* supported, std::uint32_t* enabled) {
  if (supported == nullptr || enabled == nullptr) return ZAV_E_POINTER;
  zav::Guid id;
  if (riid != nullptr) id = ToGuid(*riid);
  return static_cast<ZavResult>(
      zav::GetInterfaceSafetyOptions(riid ? &id : nullptr, supported, enabled));
}

ZavResult SafeSet(void*, const ZavGuid* riid, std::uint32_t mask, std::uint32_t enabled) {
  zav::Guid id;
  if (riid != nullptr) id = ToGuid(*riid);
  return static_cast<ZavResult>(
      zav::SetInterfaceSafetyOptions(riid ? &id : nullptr, mask, enabled));
}

const IZavDispatchVtbl kDispatchVtbl = {DispQuery, DispAddRef, DispRelease, DispGetIDsOfNames,
                                        DispInvoke};
const IZavObjectSafetyVtbl kSafetyVtbl = {SafeQuery, SafeAddRef, SafeRelease, SafeGet, SafeSet};

// ---- The class factory: one per request, counted like any object ----

struct Factory {
  const IZavClassFactoryVtbl* lpVtbl;
  std::atomic<std::uint32_t> refs{1};
};

ZavResult FactoryQuery(void* self, const ZavGuid* riid, void** out) {
  if (out == nullptr) return ZAV_E_POINTER;
  *out = nullptr;
  if (!Is(riid, ZAV_IID_UNKNOWN_TEXT) && !Is(riid, ZAV_IID_CLASSFACTORY_TEXT))
    return ZAV_E_NOINTERFACE;
  ++static_cast<Factory*>(self)->refs;
  *out = self;
  return ZAV_S_OK;
}
std::uint32_t FactoryAddRef(void* self) { return ++static_cast<Factory*>(self)->refs; }
std::uint32_t FactoryRelease(void* self) {
  auto* f = static_cast<Factory*>(self);
  const std::uint32_t left = --f->refs;
  if (left == 0) {
    delete f;
    --g_objects;
  }
  return left;
}

ZavResult FactoryCreate(void*, void* outer, const ZavGuid* riid, void** out) {
  if (out == nullptr) return ZAV_E_POINTER;
  *out = nullptr;
  if (outer != nullptr) return ZAV_CLASS_E_NOAGGREGATION;
  Instance* in = new (std::nothrow) Instance();
  if (in == nullptr) return ZAV_E_OUTOFMEMORY;
  const ZavResult r = InstanceQuery(in, riid, out);
  InstanceRelease(in);  // the query holds the only reference now, or none
  return r;
}

ZavResult FactoryLock(void*, std::int32_t lock) {
  if (lock) {
    ++g_locks;
  } else if (g_locks > 0) {
    --g_locks;
  }
  return ZAV_S_OK;
}

const IZavClassFactoryVtbl kFactoryVtbl = {FactoryQuery, FactoryAddRef, FactoryRelease,
                                           FactoryCreate, FactoryLock};

// ---- Registration ----

fs::path RegistryFile() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  fs::path base;
  if (config != nullptr && *config != '\0') {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    base = fs::path(home != nullptr ? home : ".") / ".config";
  }
  return base / "zav" / "registry.json";
}

std::string LibraryPath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) != 0 &&
      info.dli_fname != nullptr) {
    std::error_code ec;
    const fs::path p = fs::canonical(info.dli_fname, ec);
    return ec ? std::string(info.dli_fname) : p.string();
  }
  return "";
}

using ordered = nlohmann::ordered_json;

ordered ReadRegistry(const fs::path& file) {
  std::ifstream in(file);
  if (!in) return ordered::object();
  ordered doc = ordered::parse(in, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) throw RuntimeFailure(zav::err::kPathFileAccess);
  return doc;
}

// Written beside and renamed into place: a registration file is never half-written.
void WriteRegistry(const fs::path& file, const ordered& doc) {
  fs::create_directories(file.parent_path());
  const fs::path temp = file.parent_path() / (".registry.json." + std::to_string(getpid()));
  {
    std::ofstream out(temp, std::ios::trunc);
    out << doc.dump(2) << "\n";
    if (!out.flush()) throw RuntimeFailure(zav::err::kDeviceIo);
  }
  fs::rename(temp, file);
}

}  // namespace

extern "C" {

ZavResult ZavGuidFromText(const char* text, ZavGuid* out) {
  if (text == nullptr || out == nullptr) return ZAV_E_POINTER;
  const auto id = zav::ParseGuid(text);
  if (!id) return ZAV_E_FAIL;
  std::memcpy(out, id->bytes.data(), 16);
  return ZAV_S_OK;
}

void ZavVariantInit(ZavVariant* v) {
  if (v == nullptr) return;
  v->vt = ZAV_VT_EMPTY;
  v->u.dblVal = 0;
}

void ZavVariantClear(ZavVariant* v) {
  if (v == nullptr) return;
  if (v->vt == ZAV_VT_BSTR) std::free(v->u.bstrVal);
  if (IsObject(*v) && ObjectIn(*v) != nullptr) ObjectIn(*v)->lpVtbl->Release(ObjectIn(*v));
  ZavVariantInit(v);
}

char* ZavStringAlloc(const char* utf8) {
  if (utf8 == nullptr) utf8 = "";
  const std::size_t n = std::strlen(utf8) + 1;
  char* copy = static_cast<char*>(std::malloc(n));
  if (copy != nullptr) std::memcpy(copy, utf8, n);
  return copy;
}

ZavResult DllGetClassObject(const ZavGuid* rclsid, const ZavGuid* riid, void** out) {
  if (out == nullptr) return ZAV_E_POINTER;
  *out = nullptr;
  if (!Is(rclsid, ZAV_CLSID_TEXT)) return ZAV_CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) Factory{&kFactoryVtbl};
  if (factory == nullptr) return ZAV_E_OUTOFMEMORY;
  ++g_objects;
  const ZavResult r = FactoryQuery(factory, riid, out);
  FactoryRelease(factory);
  return r;
}

ZavResult DllCanUnloadNow(void) {
  return g_objects.load() == 0 && g_locks.load() == 0 ? ZAV_S_OK : ZAV_S_FALSE;
}

ZavResult DllRegisterServer(void) {
  try {
    const fs::path file = RegistryFile();
    ordered doc = ReadRegistry(file);
    ordered entry;
    entry["name"] = zav::identity::kClassName;
    entry["progid"] = zav::identity::kProgId;
    entry["library"] = LibraryPath();
    entry["typelib"] = zav::identity::kTypeLibraryId;
    entry["interfaces"] = ordered::parse(zav::TypeLibraryJson())["interfaces"];
    doc[zav::identity::kClassId] = entry;
    WriteRegistry(file, doc);
    return ZAV_S_OK;
  } catch (...) {
    return ZAV_E_FAIL;
  }
}

ZavResult DllUnregisterServer(void) {
  try {
    const fs::path file = RegistryFile();
    std::error_code ec;
    if (!fs::exists(file, ec)) return ZAV_S_OK;
    ordered doc = ReadRegistry(file);
    doc.erase(zav::identity::kClassId);
    if (doc.empty()) {
      fs::remove(file);
    } else {
      WriteRegistry(file, doc);
    }
    return ZAV_S_OK;
  } catch (...) {
    return ZAV_E_FAIL;
  }
}

}  // extern "C"
