/* consume_c FILE DD/MM/YYYY: as a C host, copiaArch then ValidaReg through the component
 * entry points; prints LineaDeCaptura (exit 0) or the control's answer (exit 1). */
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zav/zavctl.h>

static IZavDispatch* zav;

/* Calls member `name` of the control; 0 when it failed. */
static int Call(const char* name, uint16_t flags, ZavVariant* args, uint32_t argc,
                ZavVariant* result) {
  int32_t id;
  ZavExcepInfo error;
  if (zav->lpVtbl->GetIDsOfNames(zav, name, &id) != ZAV_S_OK) return 0;
  if (zav->lpVtbl->Invoke(zav, id, flags, args, argc, result, &error) == ZAV_S_OK) return 1;
  fprintf(stderr, "%s: error %d, %s\n", name, (int)error.number, error.description);
  return 0;
}

static ZavVariant Text(const char* text) {
  ZavVariant v;
  ZavVariantInit(&v);
  v.vt = ZAV_VT_BSTR;
  v.u.bstrVal = ZavStringAlloc(text);
  return v;
}

int main(int argc, char** argv) {
  /* The source folder (with its separator) and the file's name. */
  char folder[PATH_MAX];
  if (argc != 3 || realpath(argv[1], folder) == NULL) return 64;
  char* slash = strrchr(folder, '/');
  char name_text[NAME_MAX + 1];
  snprintf(name_text, sizeof name_text, "%s", slash + 1);
  slash[1] = '\0';

  ZavGuid clsid, iid_factory, iid_dispatch;
  IZavClassFactory* factory;
  ZavGuidFromText(ZAV_CLSID_TEXT, &clsid);
  ZavGuidFromText(ZAV_IID_CLASSFACTORY_TEXT, &iid_factory);
  ZavGuidFromText(ZAV_IID_DISPATCH_TEXT, &iid_dispatch);
  if (DllGetClassObject(&clsid, &iid_factory, (void**)&factory) != ZAV_S_OK) return 2;
  const ZavResult created = factory->lpVtbl->CreateInstance(factory, NULL, &iid_dispatch,
                                                            (void**)&zav);
  factory->lpVtbl->Release(factory);
  if (created != ZAV_S_OK) return 2;

  ZavVariant origin = Text(folder), name = Text(name_text), date = Text(argv[2]), answer;
  ZavVariant disks = {ZAV_VT_I2, {.iVal = 1}};
  ZavVariantInit(&answer);
  int status = 2;
  if (Call("inicio", ZAV_DISPATCH_METHOD, NULL, 0, NULL) &&
      Call("OrigenArchi", ZAV_DISPATCH_PROPERTYPUT, &origin, 1, NULL) &&
      Call("FinalArchi", ZAV_DISPATCH_PROPERTYPUT, &name, 1, NULL) &&
      Call("NumDiscos", ZAV_DISPATCH_PROPERTYPUT, &disks, 1, NULL) &&
      Call("copiaArch", ZAV_DISPATCH_METHOD, &name, 1, NULL) &&
      Call("ValidaReg", ZAV_DISPATCH_METHOD, &date, 1, &answer)) {
    status = strcmp(answer.u.bstrVal, "0") == 0 ? 0 : 1;
    if (status == 0) {
      ZavVariantClear(&answer);
      if (!Call("LineaDeCaptura", ZAV_DISPATCH_METHOD, NULL, 0, &answer)) status = 2;
    }
    if (status != 2) printf("%s\n", answer.u.bstrVal);
  }
  ZavVariantClear(&answer);
  ZavVariantClear(&origin);
  ZavVariantClear(&name);
  ZavVariantClear(&date);
  zav->lpVtbl->Release(zav);
  return DllCanUnloadNow() == ZAV_S_OK ? status : 3;
}
