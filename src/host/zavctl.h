/*
 * zavctl.h: the C interface of the ZAV payment-file control for programs that load
 * libZAVCtlN.so at run time (dlopen) instead of linking it.
 *
 * The shape is that of an in-process component server: DllGetClassObject hands out a
 * class factory; the factory creates instances; every instance answers a dispatch
 * interface (properties and methods by name, with variants) and the interface-safety
 * interface. Objects are structs whose first member points at their table of
 * functions; every function takes the object itself first:
 *
 *     obj->lpVtbl->Release(obj);
 *
 * Reference counting: every pointer handed out carries one reference; Release it when
 * done. DllCanUnloadNow answers ZAV_S_OK once no object and no server lock remain.
 *
 * Texts in variants are UTF-8 here and Windows-1252 inside the control. A text a
 * variant holds is owned by that variant: make one with ZavStringAlloc, free it with
 * ZavVariantClear.
 *
 * An object in a variant (ZAV_VT_DISPATCH, ZAV_VT_UNKNOWN: any object whose table starts
 * with QueryInterface, AddRef and Release; NULL for none) carries one reference, which
 * ZavVariantClear releases. A variant property of the control holds an object put into
 * it with a reference of its own, released when the property is replaced or the
 * instance goes; reading the property gives the same pointer with a new reference.
 */
#ifndef ZAVCTL_H_
#define ZAVCTL_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t ZavResult;
#define ZAV_S_OK ((ZavResult)0)
#define ZAV_S_FALSE ((ZavResult)1)
#define ZAV_E_NOTIMPL ((ZavResult)0x80004001u)
#define ZAV_E_NOINTERFACE ((ZavResult)0x80004002u)
#define ZAV_E_POINTER ((ZavResult)0x80004003u)
#define ZAV_E_FAIL ((ZavResult)0x80004005u)
#define ZAV_E_OUTOFMEMORY ((ZavResult)0x8007000Eu)
#define ZAV_CLASS_E_NOAGGREGATION ((ZavResult)0x80040110u)
#define ZAV_CLASS_E_CLASSNOTAVAILABLE ((ZavResult)0x80040111u)
#define ZAV_DISP_E_UNKNOWNNAME ((ZavResult)0x80020006u)
#define ZAV_DISP_E_EXCEPTION ((ZavResult)0x80020009u)

/* An identifier, laid out as the registry text reads it: {Data1-Data2-Data3-Data4}. */
typedef struct ZavGuid {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} ZavGuid;

/* The control's class and interfaces. */
#define ZAV_CLSID_TEXT "{624705B1-87A3-4B6A-997D-068A6CB3EE0B}"
#define ZAV_IID_DISPATCH_TEXT "{476C4DED-462F-4C01-B91F-15C916EB37BF}" /* _ZAV */
#define ZAV_IID_OBJECTSAFETY_TEXT "{CB5BDC81-93C1-11CF-8F20-00805F2CD064}"
#define ZAV_IID_UNKNOWN_TEXT "{00000000-0000-0000-C000-000000000046}"
#define ZAV_IID_CLASSFACTORY_TEXT "{00000001-0000-0000-C000-000000000046}"
#define ZAV_IID_IDISPATCH_TEXT "{00020400-0000-0000-C000-000000000046}"

/* Reads an identifier's registry text; ZAV_S_OK, or ZAV_E_FAIL when malformed. */
ZavResult ZavGuidFromText(const char* text, ZavGuid* out);

/* Variants. */
enum {
  ZAV_VT_EMPTY = 0,
  ZAV_VT_I2 = 2,
  ZAV_VT_I4 = 3,
  ZAV_VT_R8 = 5,
  ZAV_VT_DATE = 7,
  ZAV_VT_BSTR = 8,
  ZAV_VT_DISPATCH = 9,
  ZAV_VT_BOOL = 11,
  ZAV_VT_UNKNOWN = 13
};
struct IZavUnknown;
struct IZavDispatch;
typedef struct ZavVariant {
  uint16_t vt;
  union {
    int16_t iVal;
    int32_t lVal;
    double dblVal;
    double date;
    int16_t boolVal; /* -1 True, 0 False */
    char* bstrVal;   /* UTF-8, owned by the variant */
    struct IZavUnknown* punkVal;   /* one reference, owned by the variant */
    struct IZavDispatch* pdispVal; /* one reference, owned by the variant */
  } u;
} ZavVariant;

void ZavVariantInit(ZavVariant* v);
void ZavVariantClear(ZavVariant* v);
/* A copy of a UTF-8 text for a variant to own (NULL when out of memory). */
char* ZavStringAlloc(const char* utf8);

/* What a failed call raised: the classic error number and its description. */
typedef struct ZavExcepInfo {
  int32_t number;
  char description[256];
} ZavExcepInfo;

/* Invoke flags. */
#define ZAV_DISPATCH_METHOD 1
#define ZAV_DISPATCH_PROPERTYGET 2
#define ZAV_DISPATCH_PROPERTYPUT 4

typedef struct IZavUnknownVtbl {
  ZavResult (*QueryInterface)(void* self, const ZavGuid* riid, void** out);
  uint32_t (*AddRef)(void* self);
  uint32_t (*Release)(void* self);
} IZavUnknownVtbl;
typedef struct IZavUnknown {
  const IZavUnknownVtbl* lpVtbl;
} IZavUnknown;

typedef struct IZavClassFactoryVtbl {
  ZavResult (*QueryInterface)(void* self, const ZavGuid* riid, void** out);
  uint32_t (*AddRef)(void* self);
  uint32_t (*Release)(void* self);
  /* outer must be NULL: the control is not aggregated. */
  ZavResult (*CreateInstance)(void* self, void* outer, const ZavGuid* riid, void** out);
  ZavResult (*LockServer)(void* self, int32_t lock);
} IZavClassFactoryVtbl;
typedef struct IZavClassFactory {
  const IZavClassFactoryVtbl* lpVtbl;
} IZavClassFactory;

/*
 * The dispatch interface _ZAV. GetIDsOfNames finds a member by name (any case).
 * Invoke calls it: a method or read-only property with ZAV_DISPATCH_METHOD (args in
 * their natural order, by-reference ones updated in place), a property with
 * ZAV_DISPATCH_PROPERTYGET or ZAV_DISPATCH_PROPERTYPUT (one argument: the value).
 * result may be NULL. A failed call answers ZAV_DISP_E_EXCEPTION and fills excep.
 */
typedef struct IZavDispatchVtbl {
  ZavResult (*QueryInterface)(void* self, const ZavGuid* riid, void** out);
  uint32_t (*AddRef)(void* self);
  uint32_t (*Release)(void* self);
  ZavResult (*GetIDsOfNames)(void* self, const char* name, int32_t* dispid);
  ZavResult (*Invoke)(void* self, int32_t dispid, uint16_t flags, ZavVariant* args,
                      uint32_t argc, ZavVariant* result, ZavExcepInfo* excep);
} IZavDispatchVtbl;
typedef struct IZavDispatch {
  const IZavDispatchVtbl* lpVtbl;
} IZavDispatch;

typedef struct IZavObjectSafetyVtbl {
  ZavResult (*QueryInterface)(void* self, const ZavGuid* riid, void** out);
  uint32_t (*AddRef)(void* self);
  uint32_t (*Release)(void* self);
  ZavResult (*GetInterfaceSafetyOptions)(void* self, const ZavGuid* riid, uint32_t* supported,
                                         uint32_t* enabled);
  ZavResult (*SetInterfaceSafetyOptions)(void* self, const ZavGuid* riid, uint32_t mask,
                                         uint32_t enabled);
} IZavObjectSafetyVtbl;
typedef struct IZavObjectSafety {
  const IZavObjectSafetyVtbl* lpVtbl;
} IZavObjectSafety;

/* The server's entry points. */
ZavResult DllGetClassObject(const ZavGuid* rclsid, const ZavGuid* riid, void** out);
ZavResult DllCanUnloadNow(void);
/* Enter / remove the class in $XDG_CONFIG_HOME/zav/registry.json (~/.config/zav/...). */
ZavResult DllRegisterServer(void);
ZavResult DllUnregisterServer(void);

#ifdef __cplusplus
}
#endif

#endif /* ZAVCTL_H_ */
