// Loads the shared library the way a host does (dlopen), creates the control through
// its class factory and validates a payment file by name.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/temp_drives.hpp"
#include "writing/payment_writer.hpp"
#include "zav/zavctl.h"

namespace zav {
namespace {

namespace fs = std::filesystem;

struct Library {
  void* handle = dlopen(ZAV_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ~Library() {
    if (handle) dlclose(handle);
  }
  template <typename F>
  F Get(const char* name) {
    return reinterpret_cast<F>(dlsym(handle, name));
  }
};

ZavGuid G(const char* text) {
  ZavGuid g{};
  EXPECT_EQ(ZavGuidFromText(text, &g), ZAV_S_OK);
  return g;
}

ZavVariant Text(const std::string& s) {
  ZavVariant v;
  v.vt = ZAV_VT_BSTR;
  v.u.bstrVal = ZavStringAlloc(s.c_str());
  return v;
}

class Control {
 public:
  Control(Library& lib, IZavDispatch* d) : lib_(lib), d_(d) {}
  ZavResult Call(const char* name, std::vector<ZavVariant> args, ZavVariant* result,
                 std::uint16_t flags = ZAV_DISPATCH_METHOD) {
    std::int32_t id = 0;
    EXPECT_EQ(d_->lpVtbl->GetIDsOfNames(d_, name, &id), ZAV_S_OK) << name;
    ZavExcepInfo excep{};
    const ZavResult r = d_->lpVtbl->Invoke(d_, id, flags, args.data(),
                                           static_cast<std::uint32_t>(args.size()), result, &excep);
    for (auto& a : args) clear_(&a);
    last_error = excep.number;
    return r;
  }
  std::int32_t last_error = 0;

 private:
  Library& lib_;
  IZavDispatch* d_;
  decltype(&ZavVariantClear) clear_ = lib_.Get<decltype(&ZavVariantClear)>("ZavVariantClear");
};

TEST(Component, FactoryCreatesAControlThatValidatesByName) {
  testing::TempDrives drives("C=fixed;A=removable");
  PaymentPlan plan = SamplePaymentPlan(3, 7);
  const std::string name = WorkFileName(plan);
  WritePaymentFile(plan, drives.native("A:/" + name));

  Library lib;
  ASSERT_NE(lib.handle, nullptr) << dlerror();
  auto get_class = lib.Get<decltype(&DllGetClassObject)>("DllGetClassObject");
  auto can_unload = lib.Get<decltype(&DllCanUnloadNow)>("DllCanUnloadNow");
  ASSERT_TRUE(get_class && can_unload);
  EXPECT_EQ(can_unload(), ZAV_S_OK);

  const ZavGuid clsid = G(ZAV_CLSID_TEXT), iid_factory = G(ZAV_IID_CLASSFACTORY_TEXT),
                iid_dispatch = G(ZAV_IID_DISPATCH_TEXT), iid_safety = G(ZAV_IID_OBJECTSAFETY_TEXT);
  const ZavGuid other = G("{00000000-0000-0000-0000-000000000001}");
  void* out = nullptr;
  EXPECT_EQ(get_class(&other, &iid_factory, &out), ZAV_CLASS_E_CLASSNOTAVAILABLE);
  ASSERT_EQ(get_class(&clsid, &iid_factory, &out), ZAV_S_OK);
  auto* factory = static_cast<IZavClassFactory*>(out);
  ASSERT_EQ(factory->lpVtbl->CreateInstance(factory, nullptr, &iid_dispatch, &out), ZAV_S_OK);
  auto* dispatch = static_cast<IZavDispatch*>(out);
  EXPECT_EQ(factory->lpVtbl->LockServer(factory, 1), ZAV_S_OK);
  factory->lpVtbl->Release(factory);
  EXPECT_EQ(can_unload(), ZAV_S_FALSE);

  // The safety answers come from the same instance.
  ASSERT_EQ(dispatch->lpVtbl->QueryInterface(dispatch, &iid_safety, &out), ZAV_S_OK);
  auto* safety = static_cast<IZavObjectSafety*>(out);
  const ZavGuid scripting = G("{A6EF9860-C720-11D0-9337-00A0C90DCAA9}");
  std::uint32_t supported = 0, enabled = 0;
  EXPECT_EQ(safety->lpVtbl->GetInterfaceSafetyOptions(safety, &scripting, &supported, &enabled),
            ZAV_S_OK);
  EXPECT_EQ(supported, 3u);
  EXPECT_EQ(enabled, 1u);
  EXPECT_EQ(safety->lpVtbl->SetInterfaceSafetyOptions(safety, &scripting, 3, 3), ZAV_E_FAIL);
  safety->lpVtbl->Release(safety);

  Control z(lib, dispatch);
  ZavVariant result;
  ZavVariantInit(&result);
  ASSERT_EQ(z.Call("inicio", {}, &result), ZAV_S_OK);
  ASSERT_EQ(z.Call("OrigenArchi", {Text("A:\\")}, nullptr, ZAV_DISPATCH_PROPERTYPUT), ZAV_S_OK);
  ASSERT_EQ(z.Call("FinalArchi", {Text(name)}, nullptr, ZAV_DISPATCH_PROPERTYPUT), ZAV_S_OK);
  ZavVariant one;
  one.vt = ZAV_VT_I2;
  one.u.iVal = 1;
  ASSERT_EQ(z.Call("NumDiscos", {one}, nullptr, ZAV_DISPATCH_PROPERTYPUT), ZAV_S_OK);
  ASSERT_EQ(z.Call("copiaArch", {Text(name)}, &result), ZAV_S_OK);
  ASSERT_EQ(z.Call("ValidaReg", {Text("10/05/2004")}, &result), ZAV_S_OK);
  ASSERT_EQ(result.vt, ZAV_VT_BSTR);
  EXPECT_STREQ(result.u.bstrVal, "0");
  ASSERT_EQ(z.Call("LineaDeCaptura", {}, &result), ZAV_S_OK);
  EXPECT_EQ(std::string(result.u.bstrVal).substr(0, 11), plan.registro_patronal);
  ZavVariantClear(&result);

  // A failed call carries the classic error.
  ZavVariant big;
  big.vt = ZAV_VT_I4;
  big.u.lVal = 16384;
  EXPECT_EQ(z.Call("ValidaArchivo", {big}, &result), ZAV_DISP_E_EXCEPTION);
  EXPECT_EQ(z.last_error, 6);

  dispatch->lpVtbl->Release(dispatch);
  EXPECT_EQ(can_unload(), ZAV_S_FALSE);  // the server lock remains
  get_class(&clsid, &iid_factory, &out);
  factory = static_cast<IZavClassFactory*>(out);
  factory->lpVtbl->LockServer(factory, 0);
  factory->lpVtbl->Release(factory);
  EXPECT_EQ(can_unload(), ZAV_S_OK);
}

// A host's object that counts its references.
struct HostObject {
  const IZavUnknownVtbl* lpVtbl;
  std::uint32_t refs = 1;
};
ZavResult ObjectQuery(void*, const ZavGuid*, void** out) {
  *out = nullptr;
  return ZAV_E_NOINTERFACE;
}
std::uint32_t ObjectAddRef(void* self) { return ++static_cast<HostObject*>(self)->refs; }
std::uint32_t ObjectRelease(void* self) { return --static_cast<HostObject*>(self)->refs; }
const IZavUnknownVtbl kObjectVtbl = {ObjectQuery, ObjectAddRef, ObjectRelease};

// A variant holding `object` (or nothing), with a reference of its own.
ZavVariant Holding(HostObject* object, std::uint16_t vt) {
  ZavVariant v;
  v.vt = vt;
  v.u.punkVal = reinterpret_cast<IZavUnknown*>(object);
  if (object != nullptr) ++object->refs;
  return v;
}

// A variant property holds the object put into it, with a reference of its own, and reads
// back as the same pointer; the reference goes when the property is replaced or the instance
// goes. A value that an object stands in for is a type mismatch.
TEST(Component, VariantPropertiesHoldObjects) {
  Library lib;
  ASSERT_NE(lib.handle, nullptr) << dlerror();
  const ZavGuid clsid = G(ZAV_CLSID_TEXT), iid_factory = G(ZAV_IID_CLASSFACTORY_TEXT),
                iid_dispatch = G(ZAV_IID_DISPATCH_TEXT);
  void* out = nullptr;
  ASSERT_EQ(lib.Get<decltype(&DllGetClassObject)>("DllGetClassObject")(&clsid, &iid_factory, &out),
            ZAV_S_OK);
  auto* factory = static_cast<IZavClassFactory*>(out);
  ASSERT_EQ(factory->lpVtbl->CreateInstance(factory, nullptr, &iid_dispatch, &out), ZAV_S_OK);
  factory->lpVtbl->Release(factory);
  auto* dispatch = static_cast<IZavDispatch*>(out);
  Control z(lib, dispatch);

  HostObject page{&kObjectVtbl}, other{&kObjectVtbl};
  const char* properties[] = {"SumaT18", "SumaS6", "SumaV6", "SumaV11", "iNumReg03", "sgBim"};
  for (const char* name : properties) {
    for (auto [object, vt] :
         {std::pair{&other, ZAV_VT_UNKNOWN}, std::pair{&page, ZAV_VT_DISPATCH}}) {
      ASSERT_EQ(z.Call(name, {Holding(object, vt)}, nullptr, ZAV_DISPATCH_PROPERTYPUT), ZAV_S_OK);
      ZavVariant back;
      ZavVariantInit(&back);
      ASSERT_EQ(z.Call(name, {}, &back, ZAV_DISPATCH_PROPERTYGET), ZAV_S_OK) << name;
      EXPECT_EQ(back.vt, vt) << name;
      EXPECT_EQ(static_cast<void*>(back.u.punkVal), object) << name;
      ZavVariantClear(&back);
    }
  }
  EXPECT_EQ(page.refs, 1u + std::size(properties));
  EXPECT_EQ(other.refs, 1u);

  ZavVariant result;
  ZavVariantInit(&result);
  EXPECT_EQ(z.Call("LineaDeCaptura", {}, &result), ZAV_DISP_E_EXCEPTION);  // SumaV11
  EXPECT_EQ(z.last_error, 13);
  EXPECT_EQ(
      z.Call("FinalArchi", {Holding(&other, ZAV_VT_DISPATCH)}, nullptr, ZAV_DISPATCH_PROPERTYPUT),
      ZAV_DISP_E_EXCEPTION);
  EXPECT_EQ(z.last_error, 13);
  EXPECT_EQ(other.refs, 1u);
  ASSERT_EQ(z.Call("sgBim", {Holding(nullptr, ZAV_VT_DISPATCH)}, nullptr, ZAV_DISPATCH_PROPERTYPUT),
            ZAV_S_OK);  // no object at all
  ASSERT_EQ(z.Call("sgBim", {}, &result, ZAV_DISPATCH_PROPERTYGET), ZAV_S_OK);
  EXPECT_EQ(result.vt, ZAV_VT_DISPATCH);
  EXPECT_EQ(result.u.pdispVal, nullptr);
  EXPECT_EQ(page.refs, std::size(properties));
  dispatch->lpVtbl->Release(dispatch);
  EXPECT_EQ(page.refs, 1u);
}

TEST(Component, RegisteringAndUnregisteringLeaveTheFileAsBefore) {
  testing::TempDrives drives;  // the registry goes under its XDG_CONFIG_HOME

  Library lib;
  ASSERT_NE(lib.handle, nullptr) << dlerror();
  auto reg = lib.Get<decltype(&DllRegisterServer)>("DllRegisterServer");
  auto unreg = lib.Get<decltype(&DllUnregisterServer)>("DllUnregisterServer");
  const fs::path file = drives.base() / "config" / "zav" / "registry.json";

  ASSERT_EQ(reg(), ZAV_S_OK);
  const std::string entered = testing::ReadAll(file);
  for (const char* entry : {ZAV_CLSID_TEXT, "ZAVCtlN.ZAV", "libZAVCtlN.so", "ValidaReg"}) {
    EXPECT_NE(entered.find(entry), std::string::npos) << entry;
  }
  ASSERT_EQ(unreg(), ZAV_S_OK);
  EXPECT_FALSE(fs::exists(file));

  // Another class's entry stays exactly as it was.
  const std::string other =
      "{\n  \"{11111111-2222-3333-4444-555555555555}\": {\n    \"name\": \"X\"\n  }\n}\n";
  fs::create_directories(file.parent_path());
  std::ofstream(file) << other;
  ASSERT_EQ(reg(), ZAV_S_OK);
  ASSERT_EQ(unreg(), ZAV_S_OK);
  EXPECT_EQ(testing::ReadAll(file), other);
}

}  // namespace
}  // namespace zav
