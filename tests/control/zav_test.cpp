#include "control/zav.hpp"

#include <gtest/gtest.h>

#include "basic/expect_failure.hpp"

namespace zav {
namespace {

TEST(ZavControl, ValidaArchivoDoublesWithin16Bits) {
  ZAV z;
  EXPECT_EQ(z.ValidaArchivo(16383), 32766);
  EXPECT_EQ(z.ValidaArchivo(-16384), -32768);
  EXPECT_EQ(z.ValidaArchivo(0), 0);
  for (std::int16_t n : {std::int16_t{16384}, std::int16_t{-16385}, std::int16_t{32767}}) {
    EXPECT_RUNTIME_FAILURE(err::kOverflow, z.ValidaArchivo(n));
  }
}

TEST(ZavControl, MessagesCarryTheFolioSuffix) {
  ZAV z;
  z.Sal = "x";
  EXPECT_EQ(z.Obtiene_Mensajes(0), "\r\nFolio: ");
  EXPECT_EQ(z.Sal, "\r\n");
  z.sgFolioZAV = "000123";
  EXPECT_EQ(z.Obtiene_Mensajes(9),
            "Error en RFC del sumario no coincide con el encabezado.\r\nFolio: 000123");
  EXPECT_EQ(z.Obtiene_Mensajes(-1), "\r\nFolio: 000123");
}

}  // namespace
}  // namespace zav
