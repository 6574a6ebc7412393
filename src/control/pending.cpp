// Members whose behaviour has not been built yet. Each answers "object doesn't
// support this property or method" (438), the answer a host gets for a member the
// control does not offer. A unit that builds a member removes it from here.
#include "basic/runtime_failure.hpp"
#include "control/zav.hpp"

namespace zav {

namespace {
[[noreturn]] void NotBuilt() { throw RuntimeFailure(err::kNoSuchMember); }
}  // namespace

// Files, diskettes and the work folder.
std::int16_t ZAV::IntegraDisco(std::string, std::uint8_t) { NotBuilt(); }
std::uint8_t ZAV::ChecaUltimoDisco(std::string) { NotBuilt(); }
bool ZAV::ExisteArchivo(std::string&) { NotBuilt(); }
void ZAV::copiaArch(std::string) { NotBuilt(); }
void ZAV::inicio() { NotBuilt(); }

// The validation run and its outputs.
std::string ZAV::ValidaReg(std::string) { NotBuilt(); }

}  // namespace zav
