#include "control/zav.hpp"

#include "basic/conversions.hpp"
#include "control/messages.hpp"

namespace zav {

ZAV::ZAV() {
  // Every member starts at the zero of its type; the host-facing paths, the
  // management mode and the tolerance are then set explicitly.
  FinalArchi.clear();
  DestinoArchi.clear();
  OrigenArchi.clear();
  bgGerencia = false;
  igToler = 0;
}

std::int16_t ZAV::ValidaArchivo(std::int16_t Numero) {
  // Doubling in 16-bit arithmetic: leaving the range is an overflow.
  return ToInteger(static_cast<double>(Numero) * 2);
}

std::string ZAV::Obtiene_Mensajes(std::int16_t inumMensaje) {
  Sal = "\r\n";
  std::string text(CatalogText(inumMensaje));
  text += "\r\nFolio: ";
  text += sgFolioZAV;
  return text;
}

}  // namespace zav
