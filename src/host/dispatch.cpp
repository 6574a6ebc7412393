#include "host/dispatch.hpp"

#include <cctype>
#include <optional>

#include "basic/conversions.hpp"
#include "basic/runtime_failure.hpp"
#include "control/safety.hpp"

namespace zav {

const char* ValueTypeName(ValueType t) {
  switch (t) {
    case ValueType::kByte: return "Byte";
    case ValueType::kInteger: return "Integer";
    case ValueType::kLong: return "Long";
    case ValueType::kDouble: return "Double";
    case ValueType::kString: return "String";
    case ValueType::kBoolean: return "Boolean";
    case ValueType::kDate: return "Date";
    case ValueType::kVariant: return "Variant";
    case ValueType::kVoid: return "Void";
  }
  return "Variant";
}

Variant Coerce(const Variant& value, ValueType type) {
  switch (type) {
    // A byte has no variant subtype of its own here: it travels as a 16-bit integer.
    case ValueType::kByte: return Variant::Integer(value.ToByte());
    case ValueType::kInteger: return Variant::Integer(value.ToInteger());
    case ValueType::kLong: return Variant::Long(value.ToLong());
    case ValueType::kDouble: return Variant::Double(value.ToDouble());
    case ValueType::kString: return Variant::String(value.ToText());
    case ValueType::kBoolean: return Variant::Boolean(value.ToBoolean());
    case ValueType::kDate: return Variant::FromDate(value.ToDate());
    case ValueType::kVariant:
    case ValueType::kVoid: return value;
  }
  return value;
}

namespace {

// ---- Properties: one binding per C++ member type ----

Variant Wrap(const std::string& v) { return Variant::String(v); }
Variant Wrap(std::int16_t v) { return Variant::Integer(v); }
Variant Wrap(std::uint8_t v) { return Variant::Integer(v); }
Variant Wrap(std::int32_t v) { return Variant::Long(v); }
Variant Wrap(double v) { return Variant::Double(v); }
Variant Wrap(bool v) { return Variant::Boolean(v); }
Variant Wrap(Date v) { return Variant::FromDate(v); }
Variant Wrap(const Variant& v) { return v; }

void Unwrap(const Variant& v, std::string& out) { out = v.ToText(); }
void Unwrap(const Variant& v, std::int16_t& out) { out = v.ToInteger(); }
void Unwrap(const Variant& v, std::uint8_t& out) { out = v.ToByte(); }
void Unwrap(const Variant& v, std::int32_t& out) { out = v.ToLong(); }
void Unwrap(const Variant& v, double& out) { out = v.ToDouble(); }
void Unwrap(const Variant& v, bool& out) { out = v.ToBoolean(); }
void Unwrap(const Variant& v, Date& out) { out = v.ToDate(); }
void Unwrap(const Variant& v, Variant& out) { out = v; }

template <typename T>
constexpr ValueType TypeOf() {
  if constexpr (std::is_same_v<T, std::string>) return ValueType::kString;
  if constexpr (std::is_same_v<T, std::int16_t>) return ValueType::kInteger;
  if constexpr (std::is_same_v<T, std::uint8_t>) return ValueType::kByte;
  if constexpr (std::is_same_v<T, std::int32_t>) return ValueType::kLong;
  if constexpr (std::is_same_v<T, double>) return ValueType::kDouble;
  if constexpr (std::is_same_v<T, bool>) return ValueType::kBoolean;
  if constexpr (std::is_same_v<T, Date>) return ValueType::kDate;
  return ValueType::kVariant;
}

template <typename T>
Member Prop(const char* name, T ZAV::*field) {
  Member m{name, MemberKind::kProperty, TypeOf<T>(), {}, nullptr, nullptr, nullptr};
  m.get = [field](const ZAV& z) { return Wrap(z.*field); };
  m.put = [field](ZAV& z, const Variant& v) {
    T value{};
    Unwrap(v, value);  // convert first: a failed conversion leaves the property as it was
    z.*field = std::move(value);
  };
  return m;
}

// ---- Methods: arguments arrive converted to their parameter types ----

using Args = std::vector<Variant>;

std::string S(const Args& a, std::size_t i) { return a[i].text(); }
std::int16_t I(const Args& a, std::size_t i) { return a[i].ToInteger(); }
std::int32_t L(const Args& a, std::size_t i) { return a[i].ToLong(); }
std::uint8_t B(const Args& a, std::size_t i) { return a[i].ToByte(); }
double D(const Args& a, std::size_t i) { return a[i].ToDouble(); }

Member Method(const char* name, ValueType result, std::vector<ParamInfo> params,
              std::function<Variant(ZAV&, Args&)> invoke) {
  return Member{name, MemberKind::kMethod, result, std::move(params), std::move(invoke),
                nullptr, nullptr};
}

Member ReadOnly(const char* name, ValueType type, std::function<Variant(ZAV&, Args&)> invoke) {
  return Member{name, MemberKind::kReadOnlyProperty, type, {}, std::move(invoke), nullptr,
                nullptr};
}

constexpr ValueType kStr = ValueType::kString;
constexpr ValueType kInt = ValueType::kInteger;
constexpr ValueType kLng = ValueType::kLong;
constexpr ValueType kByt = ValueType::kByte;
constexpr ValueType kDbl = ValueType::kDouble;
constexpr ValueType kBool = ValueType::kBoolean;

// A validator of a text field: (Cadena by reference, largo) -> Boolean.
Member TextValidator(const char* name, bool (ZAV::*fn)(std::string&, std::int16_t)) {
  return Method(name, kBool, {{"Cadena", kStr, true}, {"largo", kInt, false}},
                [fn](ZAV& z, Args& a) {
                  std::string cadena = S(a, 0);
                  const bool ok = (z.*fn)(cadena, I(a, 1));
                  a[0] = Variant::String(cadena);
                  return Variant::Boolean(ok);
                });
}

std::vector<Member> BuildMembers() {
  std::vector<Member> m;
  m.push_back(Prop("vsArchZAVZip", &ZAV::vsArchZAVZip));
  m.push_back(Prop("sDirNT", &ZAV::sDirNT));
  m.push_back(Prop("gdatServerStarted", &ZAV::gdatServerStarted));
  m.push_back(Prop("igAno", &ZAV::igAno));
  m.push_back(Prop("igPer", &ZAV::igPer));
  m.push_back(Prop("sgPerPago", &ZAV::sgPerPago));
  m.push_back(Prop("sgNoContrato", &ZAV::sgNoContrato));
  m.push_back(Prop("sRFCPatron", &ZAV::sRFCPatron));
  m.push_back(Prop("sNombrePatron", &ZAV::sNombrePatron));
  m.push_back(Prop("sgFolioZAV", &ZAV::sgFolioZAV));
  m.push_back(Prop("sDireccion", &ZAV::sDireccion));
  m.push_back(Prop("sDelegacion", &ZAV::sDelegacion));
  m.push_back(Prop("sEntFed", &ZAV::sEntFed));
  m.push_back(Prop("sCodPost", &ZAV::sCodPost));
  m.push_back(Prop("sNumPhone", &ZAV::sNumPhone));
  m.push_back(Prop("sVersion", &ZAV::sVersion));
  m.push_back(Prop("sCheckSum", &ZAV::sCheckSum));
  m.push_back(Prop("Sal", &ZAV::Sal));
  m.push_back(Prop("iTamArch", &ZAV::iTamArch));
  m.push_back(Prop("posicion", &ZAV::posicion));
  m.push_back(Prop("SumaT18", &ZAV::SumaT18));
  m.push_back(Prop("SumaT19", &ZAV::SumaT19));
  m.push_back(Prop("SumaT20", &ZAV::SumaT20));
  m.push_back(Prop("SumaT21", &ZAV::SumaT21));
  m.push_back(Prop("SumaT22", &ZAV::SumaT22));
  m.push_back(Prop("SumaT23", &ZAV::SumaT23));
  m.push_back(Prop("SumaT24", &ZAV::SumaT24));
  m.push_back(Prop("SumaT25", &ZAV::SumaT25));
  m.push_back(Prop("SumaT29", &ZAV::SumaT29));
  m.push_back(Prop("SumaT30", &ZAV::SumaT30));
  m.push_back(Prop("SumaT31", &ZAV::SumaT31));
  m.push_back(Prop("SumaT32", &ZAV::SumaT32));
  m.push_back(Prop("SumaT33", &ZAV::SumaT33));
  m.push_back(Prop("SumaT34", &ZAV::SumaT34));
  m.push_back(Prop("SumaT35", &ZAV::SumaT35));
  m.push_back(Prop("SumaT36", &ZAV::SumaT36));
  m.push_back(Prop("SumaS6", &ZAV::SumaS6));
  m.push_back(Prop("SumaS7", &ZAV::SumaS7));
  m.push_back(Prop("SumaS8", &ZAV::SumaS8));
  m.push_back(Prop("SumaS9", &ZAV::SumaS9));
  m.push_back(Prop("SumaS10", &ZAV::SumaS10));
  m.push_back(Prop("SumaS11", &ZAV::SumaS11));
  m.push_back(Prop("SumaS12", &ZAV::SumaS12));
  m.push_back(Prop("SumaS13", &ZAV::SumaS13));
  m.push_back(Prop("SumaS14", &ZAV::SumaS14));
  m.push_back(Prop("SumaS15", &ZAV::SumaS15));
  m.push_back(Prop("SumaS16", &ZAV::SumaS16));
  m.push_back(Prop("SumaS17", &ZAV::SumaS17));
  m.push_back(Prop("SumaS18", &ZAV::SumaS18));
  m.push_back(Prop("SumaS19", &ZAV::SumaS19));
  m.push_back(Prop("SumaS20", &ZAV::SumaS20));
  m.push_back(Prop("SumaS21", &ZAV::SumaS21));
  m.push_back(Prop("SumaS22", &ZAV::SumaS22));
  m.push_back(Prop("SumaS23", &ZAV::SumaS23));
  m.push_back(Prop("SumaS24", &ZAV::SumaS24));
  m.push_back(Prop("SumaS25", &ZAV::SumaS25));
  m.push_back(Prop("SumaS26", &ZAV::SumaS26));
  m.push_back(Prop("SumaS27", &ZAV::SumaS27));
  m.push_back(Prop("SumaS28", &ZAV::SumaS28));
  m.push_back(Prop("SumaS29", &ZAV::SumaS29));
  m.push_back(Prop("SumaS30", &ZAV::SumaS30));
  m.push_back(Prop("SumaS31", &ZAV::SumaS31));
  m.push_back(Prop("SumaS8S14", &ZAV::SumaS8S14));
  m.push_back(Prop("SumaV6", &ZAV::SumaV6));
  m.push_back(Prop("SumaV11", &ZAV::SumaV11));
  m.push_back(Prop("SumaV12", &ZAV::SumaV12));
  m.push_back(Prop("SumaV13", &ZAV::SumaV13));
  m.push_back(Prop("SumaV14", &ZAV::SumaV14));
  m.push_back(Prop("iNumReg03", &ZAV::iNumReg03));
  m.push_back(Prop("iNumReg04", &ZAV::iNumReg04));
  m.push_back(Prop("iNumReg02_e21", &ZAV::iNumReg02_e21));
  m.push_back(Prop("SumaT15", &ZAV::SumaT15));
  m.push_back(Prop("SumaT26", &ZAV::SumaT26));
  m.push_back(Prop("iNumTrabViv", &ZAV::iNumTrabViv));
  m.push_back(Prop("sgBim", &ZAV::sgBim));
  m.push_back(Prop("sgBimAno", &ZAV::sgBimAno));
  m.push_back(Prop("SumaM8", &ZAV::SumaM8));
  m.push_back(Prop("iCantidadregistros3", &ZAV::iCantidadregistros3));
  m.push_back(Prop("OrigenArchi", &ZAV::OrigenArchi));
  m.push_back(Prop("DestinoArchi", &ZAV::DestinoArchi));
  m.push_back(Prop("FinalArchi", &ZAV::FinalArchi));
  m.push_back(Prop("bgGerencia", &ZAV::bgGerencia));
  m.push_back(Prop("igToler", &ZAV::igToler));
  m.push_back(Prop("OrigenNombre", &ZAV::OrigenNombre));
  m.push_back(Prop("NumDiscos", &ZAV::NumDiscos));

  m.push_back(Method("ValidaArchivo", kInt, {{"Numero", kInt, false}}, [](ZAV& z, Args& a) {
    return Variant::Integer(z.ValidaArchivo(I(a, 0)));
  }));
  m.push_back(Method("ValidaReg", kStr, {{"sDateServ", kStr, false}}, [](ZAV& z, Args& a) {
    return Variant::String(z.ValidaReg(S(a, 0)));
  }));
  m.push_back(Method(
      "ChecaRegistro", kInt,
      {{"TipoReg", kByt, false}, {"lRegistro", kLng, false}, {"Linea", kStr, true}},
      [](ZAV& z, Args& a) {
        std::string linea = S(a, 2);
        const auto r = z.ChecaRegistro(B(a, 0), L(a, 1), linea);
        a[2] = Variant::String(linea);
        return Variant::Integer(r);
      }));
  m.push_back(TextValidator("ValidaNumero", &ZAV::ValidaNumero));
  m.push_back(TextValidator("ValidaAlfa", &ZAV::ValidaAlfa));
  m.push_back(TextValidator("ValidaAlfaNum", &ZAV::ValidaAlfaNum));
  m.push_back(TextValidator("ValidaNumeroEsp", &ZAV::ValidaNumeroEsp));
  m.push_back(Method("ValImpMen13", kBool, {{"Valor", kDbl, false}}, [](ZAV& z, Args& a) {
    return Variant::Boolean(z.ValImpMen13(D(a, 0)));
  }));
  m.push_back(Method("ValPer1314", kBool, {{"Valor", kDbl, false}}, [](ZAV& z, Args& a) {
    return Variant::Boolean(z.ValPer1314(D(a, 0)));
  }));
  m.push_back(Method("LineaDeCaptura", kStr, {},
                     [](ZAV& z, Args&) { return Variant::String(z.LineaDeCaptura()); }));
  m.push_back(Method("IntegraDisco", kInt, {{"sgFile", kStr, false}, {"Ndisco", kByt, false}},
                     [](ZAV& z, Args& a) {
                       return Variant::Integer(z.IntegraDisco(S(a, 0), B(a, 1)));
                     }));
  m.push_back(Method("ChecaUltimoDisco", kByt, {{"archivo", kStr, false}}, [](ZAV& z, Args& a) {
    return Variant::Integer(z.ChecaUltimoDisco(S(a, 0)));
  }));
  m.push_back(Method("ExisteArchivo", kBool, {{"archivo", kStr, true}}, [](ZAV& z, Args& a) {
    std::string archivo = S(a, 0);
    const bool r = z.ExisteArchivo(archivo);
    a[0] = Variant::String(archivo);
    return Variant::Boolean(r);
  }));
  m.push_back(Method("JulianNumber", kLng,
                     {{"A\361o", kLng, false}, {"Mes", kLng, false}, {"Dia", kLng, false}},
                     [](ZAV& z, Args& a) {
                       return Variant::Long(z.JulianNumber(L(a, 0), L(a, 1), L(a, 2)));
                     }));
  m.push_back(Method("ObtenDifer", ValueType::kVariant,
                     {{"sDay", kStr, false},
                      {"sDia", kStr, false},
                      {"sMonth", kStr, false},
                      {"sMes", kStr, false},
                      {"sYear", kStr, false},
                      {"sAno", kStr, false}},
                     [](ZAV& z, Args& a) {
                       return z.ObtenDifer(S(a, 0), S(a, 1), S(a, 2), S(a, 3), S(a, 4), S(a, 5));
                     }));
  m.push_back(Method(
      "JulianToDate", ValueType::kVoid,
      {{"jd", kLng, false}, {"A\361o", kLng, true}, {"Mes", kLng, true}, {"Dia", kLng, true}},
      [](ZAV& z, Args& a) {
        std::int32_t ano = L(a, 1), mes = L(a, 2), dia = L(a, 3);
        z.JulianToDate(L(a, 0), ano, mes, dia);
        a[1] = Variant::Long(ano);
        a[2] = Variant::Long(mes);
        a[3] = Variant::Long(dia);
        return Variant();
      }));
  m.push_back(Method("CalculaDiaHabil", ValueType::kVoid,
                     {{"sAno", kStr, true}, {"sMes", kStr, true}, {"sDia", kStr, true}},
                     [](ZAV& z, Args& a) {
                       std::string ano = S(a, 0), mes = S(a, 1), dia = S(a, 2);
                       z.CalculaDiaHabil(ano, mes, dia);
                       a[0] = Variant::String(ano);
                       a[1] = Variant::String(mes);
                       a[2] = Variant::String(dia);
                       return Variant();
                     }));
  m.push_back(Method("CargaDiasInhabiles", kInt, {{"sAno", kStr, false}, {"sMes", kStr, false}},
                     [](ZAV& z, Args& a) {
                       return Variant::Integer(z.CargaDiasInhabiles(S(a, 0), S(a, 1)));
                     }));
  m.push_back(Method("CalculaSemanaSanta", kInt,
                     {{"Ayo", kInt, false}, {"MesCalcula", kInt, false}}, [](ZAV& z, Args& a) {
                       return Variant::Integer(z.CalculaSemanaSanta(I(a, 0), I(a, 1)));
                     }));
  m.push_back(Method("Trunca", kDbl, {{"Valor", kDbl, false}}, [](ZAV& z, Args& a) {
    return Variant::Double(z.Trunca(D(a, 0)));
  }));
  m.push_back(Method("CheckString", ValueType::kVoid,
                     {{"sDigVer", kStr, true}, {"sCheckSum", kStr, true}}, [](ZAV& z, Args& a) {
                       std::string dig = S(a, 0), sum = S(a, 1);
                       z.CheckString(dig, sum);
                       a[0] = Variant::String(dig);
                       a[1] = Variant::String(sum);
                       return Variant();
                     }));
  m.push_back(Method("AcarreaCheckString", ValueType::kVoid,
                     {{"sDigVer", kStr, true},
                      {"sCheckSum", kStr, true},
                      {"iVar", kInt, true},
                      {"jVar", kInt, true},
                      {"rVar", kInt, true}},
                     [](ZAV& z, Args& a) {
                       std::string dig = S(a, 0), sum = S(a, 1);
                       std::int16_t i = I(a, 2), j = I(a, 3), r = I(a, 4);
                       z.AcarreaCheckString(dig, sum, i, j, r);
                       a[0] = Variant::String(dig);
                       a[1] = Variant::String(sum);
                       a[2] = Variant::Integer(i);
                       a[3] = Variant::Integer(j);
                       a[4] = Variant::Integer(r);
                       return Variant();
                     }));
  m.push_back(ReadOnly("sParamZAV", ValueType::kVariant,
                       [](ZAV& z, Args&) { return z.sParamZAV(); }));
  m.push_back(ReadOnly("sArchZAVZip", kStr,
                       [](ZAV& z, Args&) { return Variant::String(z.sArchZAVZip()); }));
  m.push_back(ReadOnly("sRutaArchZAVZip", kStr,
                       [](ZAV& z, Args&) { return Variant::String(z.sRutaArchZAVZip()); }));
  m.push_back(Method("copiaArch", ValueType::kVoid, {{"archivo", kStr, false}},
                     [](ZAV& z, Args& a) {
                       z.copiaArch(S(a, 0));
                       return Variant();
                     }));
  m.push_back(Method("inicio", ValueType::kVoid, {}, [](ZAV& z, Args&) {
    z.inicio();
    return Variant();
  }));
  m.push_back(Method("Obtiene_Mensajes", kStr, {{"inumMensaje", kInt, false}},
                     [](ZAV& z, Args& a) { return Variant::String(z.Obtiene_Mensajes(I(a, 0))); }));
  return m;
}

// An unsigned 32-bit value as a host hands it over (a number in 0..4294967295).
std::uint32_t Unsigned32(const Variant& v) {
  const double d = v.ToDouble();
  if (!(d >= 0 && d <= 4294967295.0)) throw RuntimeFailure(err::kOverflow);
  return static_cast<std::uint32_t>(d);
}

// The identifier argument: registry text, or Empty for a null pointer.
std::optional<Guid> IdentifierArg(const Variant& v) {
  if (v.IsEmpty()) return std::nullopt;
  const auto id = ParseGuid(v.ToText());
  if (!id) throw RuntimeFailure(err::kTypeMismatch, "Type mismatch: not an interface identifier");
  return id;
}

std::vector<Member> BuildSafetyMembers() {
  constexpr ValueType kVar = ValueType::kVariant;
  std::vector<Member> m;
  m.push_back(Method("GetInterfaceSafetyOptions", kLng,
                     {{"riid", kVar, false},
                      {"pdwSupportedOptions", kVar, true},
                      {"pdwEnabledOptions", kVar, true}},
                     [](ZAV&, Args& a) {
                       const auto id = IdentifierArg(a[0]);
                       std::uint32_t supported = 0, enabled = 0;
                       const std::uint32_t hr = GetInterfaceSafetyOptions(
                           id ? &*id : nullptr, &supported, &enabled);
                       a[1] = Variant::Double(supported);
                       // Enabled options are written only for a known identifier.
                       if (id && hr == kSOk) a[2] = Variant::Double(enabled);
                       return Variant::Double(hr);
                     }));
  m.push_back(Method("SetInterfaceSafetyOptions", kLng,
                     {{"riid", kVar, false},
                      {"dwOptionsSetMask", kVar, false},
                      {"dwEnabledOptions", kVar, false}},
                     [](ZAV&, Args& a) {
                       const auto id = IdentifierArg(a[0]);
                       return Variant::Double(SetInterfaceSafetyOptions(
                           id ? &*id : nullptr, Unsigned32(a[1]), Unsigned32(a[2])));
                     }));
  return m;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

const Member& Require(std::string_view name) {
  if (const Member* m = FindMember(name)) return *m;
  for (const Member& m : SafetyMembers()) {
    if (SameName(m.name, name)) return m;
  }
  throw RuntimeFailure(err::kNoSuchMember);
}

}  // namespace

std::span<const Member> Members() {
  static const std::vector<Member> members = BuildMembers();
  return members;
}

std::span<const Member> SafetyMembers() {
  static const std::vector<Member> members = BuildSafetyMembers();
  return members;
}

const Member* FindMember(std::string_view name) {
  for (const Member& m : Members()) {
    if (SameName(m.name, name)) return &m;
  }
  return nullptr;
}

Variant Invoke(ZAV& control, std::string_view name, std::vector<Variant>& args) {
  const Member& m = Require(name);
  if (m.kind == MemberKind::kProperty) {
    if (!args.empty()) throw RuntimeFailure(err::kWrongArguments);
    return m.get(control);
  }
  if (args.size() != m.params.size()) throw RuntimeFailure(err::kWrongArguments);
  // Convert every argument before the call: a bad one fails the call with the
  // caller's values untouched.
  std::vector<Variant> converted;
  converted.reserve(args.size());
  for (std::size_t i = 0; i < args.size(); ++i) {
    converted.push_back(Coerce(args[i], m.params[i].type));
  }
  Variant result = m.invoke(control, converted);
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (m.params[i].by_ref) args[i] = converted[i];
  }
  return result;
}

Variant GetProperty(ZAV& control, std::string_view name) {
  const Member& m = Require(name);
  if (m.kind == MemberKind::kProperty) return m.get(control);
  if (!m.params.empty()) throw RuntimeFailure(err::kWrongArguments);
  std::vector<Variant> none;
  return m.invoke(control, none);
}

void PutProperty(ZAV& control, std::string_view name, const Variant& value) {
  const Member& m = Require(name);
  if (m.kind != MemberKind::kProperty) throw RuntimeFailure(err::kWrongArguments);
  m.put(control, value);
}

}  // namespace zav
