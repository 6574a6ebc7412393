// The fuzzing entry points by their targets' names; each entry is in the file of its target
// (valida_reg.cpp, ...), what they share in support.hpp; entries.hpp gives each input's
// layout.
#include "entries.hpp"

#include <string_view>

namespace zav::fuzz {

Entry EntryNamed(std::string_view target) {
  if (target == "valida_reg") return ValidaRegInput;
  if (target == "checa_registro") return ChecaRegistroInput;
  if (target == "profile") return ProfileInput;
  if (target == "json_host") return JsonHostInput;
  if (target == "diskettes") return DiskettesInput;
  if (target == "upload") return UploadInput;
  if (target == "deflate_join") return DeflateJoinInput;
  return nullptr;
}

}  // namespace zav::fuzz
