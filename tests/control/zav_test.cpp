#include "control/zav.hpp"

#include <gtest/gtest.h>

#include "basic/runtime_failure.hpp"

namespace zav {
namespace {

TEST(ZavControl, NewInstanceStartsAtZero) {
  ZAV z;
  EXPECT_EQ(z.OrigenArchi, "");
  EXPECT_EQ(z.DestinoArchi, "");
  EXPECT_EQ(z.FinalArchi, "");
  EXPECT_FALSE(z.bgGerencia);
  EXPECT_EQ(z.igToler, 0);
  EXPECT_EQ(z.posicion, 0);
  EXPECT_TRUE(z.SumaT18.IsEmpty());
  EXPECT_TRUE(z.iNumReg03.IsEmpty());
  EXPECT_TRUE(z.sgBim.IsEmpty());
  EXPECT_EQ(z.working().igNumPeriodo, 0);
  EXPECT_FALSE(z.working().bgPeriodoPar);
}

TEST(ZavControl, ValidaArchivoDoublesWithin16Bits) {
  ZAV z;
  EXPECT_EQ(z.ValidaArchivo(16383), 32766);
  EXPECT_EQ(z.ValidaArchivo(-16384), -32768);
  EXPECT_EQ(z.ValidaArchivo(0), 0);
  for (std::int16_t n : {std::int16_t{16384}, std::int16_t{-16385}, std::int16_t{32767}}) {
    try {
      z.ValidaArchivo(n);
      ADD_FAILURE() << n << " should overflow";
    } catch (const RuntimeFailure& e) {
      EXPECT_EQ(e.number(), err::kOverflow);
    }
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
  EXPECT_EQ(z.Obtiene_Mensajes(6000).substr(0, 9), "CheckSum ");
}

}  // namespace
}  // namespace zav
