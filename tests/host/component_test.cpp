// The JSON host line by line; the shared library as a host loads it (dlopen) and its factory.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/dispatch.hpp"
#include "host/json_host.hpp"
#include "platform/temp_drives.hpp"
#include "zav/zavctl.h"

namespace zav {
namespace {

namespace fs = std::filesystem;

TEST(JsonHost, AnswersRequestsInOrder) {
  struct Case {
    const char* request;
    const char* answer;
  } cases[] = {
      {R"({"call":"ValidaArchivo","args":[16383]})",
       R"({"ok":true,"result":32766,"args":[16383]})"},
      {R"({"call":"validaarchivo","args":[16384]})",
       R"({"ok":false,"error":{"number":6,"description":"Overflow"}})"},
      {R"({"call":"ValidaArchivo","args":[-16384]})",
       R"({"ok":true,"result":-32768,"args":[-16384]})"},
      {R"({"call":"ValidaArchivo","args":[-16385]})",
       R"({"ok":false,"error":{"number":6,"description":"Overflow"}})"},
      {R"({"call":"Trunca","args":[2.345]})", R"({"ok":true,"result":2.35,"args":[2.345]})"},
      {R"({"put":"igToler","value":255})", R"({"ok":true,"result":null})"},
      {R"({"get":"igToler"})", R"({"ok":true,"result":255})"},
      {R"({"put":"igToler","value":256})",
       R"({"ok":false,"error":{"number":6,"description":"Overflow"}})"},
      {R"({"get":"igToler"})", R"({"ok":true,"result":255})"},
      {R"({"put":"sgFolioZAV","value":"00012ñ"})", R"({"ok":true,"result":null})"},
      {R"({"get":"sgFolioZAV"})", R"({"ok":true,"result":"00012ñ"})"},
      {R"({"put":"NumDiscos","value":"x"})",
       R"({"ok":false,"error":{"number":13,"description":"Type mismatch"}})"},
      {R"({"get":"SumaT18"})", R"({"ok":true,"result":null})"},
      {R"({"put":"sgBim","value":"6"})", R"({"ok":true,"result":null})"},
      {R"({"get":"sgBim"})", R"({"ok":true,"result":"6"})"},
      {R"({"call":"Nada","args":[]})",
       R"({"ok":false,"error":{"number":438,"description":"Object doesn't support this property or method"}})"},
      {R"({"call":"Trunca","args":[]})",
       R"({"ok":false,"error":{"number":450,"description":"Wrong number of arguments or invalid property assignment"}})"},
      {R"({"call":"Trunca","args":[[1]]})",
       R"({"ok":false,"error":{"number":13,"description":"Type mismatch: this host has no object references; a JSON array or object is not a value"}})"},
      {R"({"put":"gdatServerStarted","value":"07/03/2005"})", R"({"ok":true,"result":null})"},
      {R"({"get":"gdatServerStarted"})", R"({"ok":true,"result":38418.0})"},
      {R"({"put":"Trunca","value":1})",
       R"({"ok":false,"error":{"number":450,"description":"Wrong number of arguments or invalid property assignment"}})"},
      {R"({"put":"Sal","value":"x"})", R"({"ok":true,"result":null})"},
      {R"({"call":"Obtiene_Mensajes","args":[0]})",
       R"({"ok":true,"result":"\r\nFolio: 00012ñ","args":[0]})"},
      {R"({"get":"Sal"})", R"({"ok":true,"result":"\r\n"})"},
      {R"({"call":"Obtiene_Mensajes","args":[-1]})",
       R"({"ok":true,"result":"\r\nFolio: 00012ñ","args":[-1]})"},
      {R"({"call":"Obtiene_Mensajes","args":[9]})",
       R"({"ok":true,"result":"Error en RFC del sumario no coincide con el encabezado.\r\nFolio: )"
       R"(00012ñ","args":[9]})"},
      // The safety answers by name, a failure as its unsigned number.
      {R"({"call":"GetInterfaceSafetyOptions","args":["{A6EF9860-C720-11D0-9337-00A0C90DCAA9}",0,0]})",
       R"({"ok":true,"result":0,"args":["{A6EF9860-C720-11D0-9337-00A0C90DCAA9}",3,1]})"},
      {R"({"call":"GetInterfaceSafetyOptions","args":["{00000000-0000-0000-C000-000000000046}",0,5]})",
       R"({"ok":true,"result":2147500034,"args":["{00000000-0000-0000-C000-000000000046}",3,5]})"},
  };
  JsonHost host;
  for (const Case& c : cases) EXPECT_EQ(host.Handle(c.request), c.answer) << c.request;
}

// Every line gets one answer: a line that is not a request is error 5 in our own words.
TEST(JsonHost, RunAnswersEveryLine) {
  JsonHost host;
  std::istringstream in(
      "\n{\"get\":\"posicion\"}\r\nnot json\n[1]\n{\"x\":1}\n  \n{\"get\":\"FinalArchi\"}\n");
  std::ostringstream out;
  EXPECT_EQ(host.Run(in, out), 0);
  const std::string bad =
      R"({"ok":false,"error":{"number":5,"description":"Invalid procedure call )"
      R"(or argument: )";
  const std::vector<std::string> expected = {
      bad + R"(the line is empty; every line holds one request"}})",
      R"({"ok":true,"result":0})",
      bad + R"(the line is not JSON"}})",
      bad + R"(a request is a JSON object: {\"call\": NAME, \"args\": [...]}, {\"get\": NAME} )"
            R"(or {\"put\": NAME, \"value\": V}"}})",
      bad + R"(a request holds \"call\", \"get\" or \"put\""}})",
      bad + R"(the line is empty; every line holds one request"}})",
      R"({"ok":true,"result":""})",
  };
  std::string joined;
  for (const std::string& line : expected) joined += line + "\n";
  EXPECT_EQ(out.str(), joined);
}

TEST(Dispatch, TableNamesEveryMemberOnce) {
  std::set<std::string> names;
  std::size_t methods = 0;
  for (const Member& m : Members()) {
    EXPECT_TRUE(names.insert(m.name).second) << m.name;
    methods += m.kind != MemberKind::kProperty;
  }
  EXPECT_EQ(methods, 28u);  // 25 methods and 3 read-only properties
}

ZavGuid G(const char* text) {
  ZavGuid g{};
  EXPECT_EQ(ZavGuidFromText(text, &g), ZAV_S_OK);
  return g;
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

class Component : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(handle_, nullptr) << dlerror(); }
  void TearDown() override {
    if (d_ != nullptr) d_->lpVtbl->Release(d_);
    if (handle_ != nullptr) dlclose(handle_);
  }
  template <typename F>
  F Get(const char* name) {
    return reinterpret_cast<F>(dlsym(handle_, name));
  }
  IZavClassFactory* Factory() {
    void* out = nullptr;
    EXPECT_EQ(Get<decltype(&DllGetClassObject)>("DllGetClassObject")(&clsid_, &iid_factory_, &out),
              ZAV_S_OK);
    return static_cast<IZavClassFactory*>(out);
  }
  // An instance from a factory (released by TearDown).
  void Create(IZavClassFactory* factory) {
    void* out = nullptr;
    ASSERT_EQ(factory->lpVtbl->CreateInstance(factory, nullptr, &iid_dispatch_, &out), ZAV_S_OK);
    d_ = static_cast<IZavDispatch*>(out);
  }
  // Calls member `name` of the instance; the control's error number is left in last_error.
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
  ZavResult Put(const char* name, ZavVariant value) {
    return Call(name, {value}, nullptr, ZAV_DISPATCH_PROPERTYPUT);
  }

  testing::TempDrives drives{"C=fixed"};  // the registry goes under its config
  void* handle_ = dlopen(ZAV_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  decltype(&ZavVariantClear) clear_ = Get<decltype(&ZavVariantClear)>("ZavVariantClear");
  const ZavGuid clsid_ = G(ZAV_CLSID_TEXT), iid_factory_ = G(ZAV_IID_CLASSFACTORY_TEXT),
                iid_dispatch_ = G(ZAV_IID_DISPATCH_TEXT);
  IZavDispatch* d_ = nullptr;
  std::int32_t last_error = 0;
};

// Validating by name through the instance is docs/programming.md's validate.c, run by readme.
TEST_F(Component, FactoryCreatesAControlAndLocksTheLibrary) {
  auto can_unload = Get<decltype(&DllCanUnloadNow)>("DllCanUnloadNow");
  ASSERT_TRUE(can_unload);
  EXPECT_EQ(can_unload(), ZAV_S_OK);
  const ZavGuid other = G("{00000000-0000-0000-0000-000000000001}");
  void* out = nullptr;
  EXPECT_EQ(Get<decltype(&DllGetClassObject)>("DllGetClassObject")(&other, &iid_factory_, &out),
            ZAV_CLASS_E_CLASSNOTAVAILABLE);
  IZavClassFactory* factory = Factory();
  ASSERT_NE(factory, nullptr);
  Create(factory);
  EXPECT_EQ(factory->lpVtbl->LockServer(factory, 1), ZAV_S_OK);
  factory->lpVtbl->Release(factory);
  EXPECT_EQ(can_unload(), ZAV_S_FALSE);

  // The safety answers come from the same instance.
  const ZavGuid iid_safety = G(ZAV_IID_OBJECTSAFETY_TEXT);
  ASSERT_EQ(d_->lpVtbl->QueryInterface(d_, &iid_safety, &out), ZAV_S_OK);
  auto* safety = static_cast<IZavObjectSafety*>(out);
  const ZavGuid scripting = G("{A6EF9860-C720-11D0-9337-00A0C90DCAA9}");
  std::uint32_t supported = 0, enabled = 0;
  EXPECT_EQ(safety->lpVtbl->GetInterfaceSafetyOptions(safety, &scripting, &supported, &enabled),
            ZAV_S_OK);
  EXPECT_EQ(std::pair(supported, enabled), std::pair(3u, 1u));
  safety->lpVtbl->Release(safety);

  // A failed call carries the classic error.
  ZavVariant result, overflow{.vt = ZAV_VT_I4, .u = {.lVal = 16384}};
  ZavVariantInit(&result);
  EXPECT_EQ(Call("ValidaArchivo", {overflow}, &result), ZAV_DISP_E_EXCEPTION);
  EXPECT_EQ(last_error, 6);

  d_->lpVtbl->Release(d_);
  d_ = nullptr;
  EXPECT_EQ(can_unload(), ZAV_S_FALSE);  // the server lock remains
  factory = Factory();
  factory->lpVtbl->LockServer(factory, 0);
  factory->lpVtbl->Release(factory);
  EXPECT_EQ(can_unload(), ZAV_S_OK);
}

// A variant property holds an object with its own reference, until replaced or released.
TEST_F(Component, VariantPropertiesHoldObjects) {
  IZavClassFactory* factory = Factory();
  ASSERT_NE(factory, nullptr);
  Create(factory);
  factory->lpVtbl->Release(factory);
  HostObject page{&kObjectVtbl}, other{&kObjectVtbl};
  const char* properties[] = {"SumaT18", "SumaS6", "SumaV6", "SumaV11", "iNumReg03", "sgBim"};
  for (const char* name : properties) {
    for (auto [object, vt] :
         {std::pair{&other, ZAV_VT_UNKNOWN}, std::pair{&page, ZAV_VT_DISPATCH}}) {
      ASSERT_EQ(Put(name, Holding(object, vt)), ZAV_S_OK);
      ZavVariant back;
      ZavVariantInit(&back);
      ASSERT_EQ(Call(name, {}, &back, ZAV_DISPATCH_PROPERTYGET), ZAV_S_OK) << name;
      EXPECT_EQ(back.vt, vt) << name;
      EXPECT_EQ(static_cast<void*>(back.u.punkVal), object) << name;
      ZavVariantClear(&back);
    }
  }
  EXPECT_EQ(page.refs, 1u + std::size(properties));
  EXPECT_EQ(other.refs, 1u);

  ZavVariant result;
  ZavVariantInit(&result);
  EXPECT_EQ(Call("LineaDeCaptura", {}, &result), ZAV_DISP_E_EXCEPTION);  // SumaV11
  EXPECT_EQ(last_error, 13);
  EXPECT_EQ(Put("FinalArchi", Holding(&other, ZAV_VT_DISPATCH)), ZAV_DISP_E_EXCEPTION);
  EXPECT_EQ(last_error, 13);
  EXPECT_EQ(other.refs, 1u);
  ASSERT_EQ(Put("sgBim", Holding(nullptr, ZAV_VT_DISPATCH)), ZAV_S_OK);  // no object at all
  ASSERT_EQ(Call("sgBim", {}, &result, ZAV_DISPATCH_PROPERTYGET), ZAV_S_OK);
  EXPECT_EQ(result.vt, ZAV_VT_DISPATCH);
  EXPECT_EQ(result.u.pdispVal, nullptr);
  EXPECT_EQ(page.refs, std::size(properties));
  d_->lpVtbl->Release(d_);
  d_ = nullptr;
  EXPECT_EQ(page.refs, 1u);
}

TEST_F(Component, RegisteringAndUnregisteringLeaveTheFileAsBefore) {
  auto reg = Get<decltype(&DllRegisterServer)>("DllRegisterServer");
  auto unreg = Get<decltype(&DllUnregisterServer)>("DllUnregisterServer");
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
