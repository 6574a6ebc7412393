// Members whose behaviour has not been built yet. Each answers "object doesn't
// support this property or method" (438), the answer a host gets for a member the
// control does not offer. A unit that builds a member removes it from here.
#include "basic/runtime_failure.hpp"
#include "control/zav.hpp"

namespace zav {

namespace {
[[noreturn]] void NotBuilt() { throw RuntimeFailure(err::kNoSuchMember); }
}  // namespace

// Records.
std::int16_t ZAV::ChecaRegistro(std::uint8_t, std::int32_t, std::string&) { NotBuilt(); }

// Files, diskettes and the work folder.
std::int16_t ZAV::IntegraDisco(std::string, std::uint8_t) { NotBuilt(); }
std::uint8_t ZAV::ChecaUltimoDisco(std::string) { NotBuilt(); }
bool ZAV::ExisteArchivo(std::string&) { NotBuilt(); }
void ZAV::copiaArch(std::string) { NotBuilt(); }
void ZAV::inicio() { NotBuilt(); }

// The validation run and its outputs.
std::string ZAV::ValidaReg(std::string) { NotBuilt(); }
std::string ZAV::LineaDeCaptura() { NotBuilt(); }
Variant ZAV::sParamZAV() { NotBuilt(); }
std::string ZAV::sArchZAVZip() { NotBuilt(); }
std::string ZAV::sRutaArchZAVZip() { NotBuilt(); }
void ZAV::CheckString(std::string&, std::string&) { NotBuilt(); }
void ZAV::AcarreaCheckString(std::string&, std::string&, std::int16_t&, std::int16_t&,
                             std::int16_t&) {
  NotBuilt();
}

// Calendar.
std::int32_t ZAV::JulianNumber(std::int32_t, std::int32_t, std::int32_t) { NotBuilt(); }
Variant ZAV::ObtenDifer(std::string, std::string, std::string, std::string, std::string,
                        std::string) {
  NotBuilt();
}
void ZAV::JulianToDate(std::int32_t, std::int32_t&, std::int32_t&, std::int32_t&) { NotBuilt(); }
void ZAV::CalculaDiaHabil(std::string&, std::string&, std::string&) { NotBuilt(); }
std::int16_t ZAV::CargaDiasInhabiles(std::string, std::string) { NotBuilt(); }
std::int16_t ZAV::CalculaSemanaSanta(std::int16_t, std::int16_t) { NotBuilt(); }

}  // namespace zav
