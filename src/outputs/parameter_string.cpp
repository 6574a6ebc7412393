// The parameter string and the archive names. The parameter string carries, separated
// by "|", the employer, the period, every summary amount with three subtotals and a
// grand total, the archive's path, the capture line and the version. Numbers are
// written with a point as decimal separator whatever the user's locale: the upload
// server parses this string.
#include "basic/cp1252.hpp"
#include "basic/variant.hpp"
#include "control/zav.hpp"

namespace zav {

std::string ZAV::sArchZAVZip() {
  return "33501e01.m1.s0870.r" + sgNoContrato + ".f" + sgFolioZAV + ".p" + igAno + igPer +
         ".e999.zip";
}

std::string ZAV::sRutaArchZAVZip() { return DestinoArchi + sArchZAVZip(); }

Variant ZAV::sParamZAV() {
  const Variant s23 = Variant::Double(SumaS23), s28 = Variant::Double(SumaS28),
                s29 = Variant::Double(SumaS29), s30 = Variant::Double(SumaS30),
                s31 = Variant::Double(SumaS31);
  const Variant sub1 = SumaS15 + SumaS16 + SumaS17;
  const Variant sub2 = SumaS20 + SumaS21 + SumaS22 + s23 + s29;
  const Variant sub3 = SumaS24 + SumaS25 + SumaS26 + SumaS27 + s28 + s30 + s31;
  // The grand total adds the fifteen amounts one by one, not the three subtotals.
  const Variant total = SumaS15 + SumaS16 + SumaS17 + SumaS20 + SumaS21 + SumaS22 + s23 + s29 +
                        SumaS24 + SumaS25 + SumaS26 + SumaS27 + s28 + s30 + s31;

  const Variant fields[] = {
      Variant::String(sNombrePatron),
      Variant::String(sgNoContrato),
      Variant::String(sRFCPatron),
      Variant::String(sgFolioZAV),
      iNumReg03,
      Variant::String(igPer),
      Variant::String(igAno),
      sgBim,
      Variant::String(sgBimAno),
      SumaS15,
      SumaS16,
      SumaS17,
      sub1,
      SumaS20,
      SumaS21,
      SumaS22,
      s23,
      s29,
      sub2,
      SumaS24,
      SumaS25,
      SumaS26,
      SumaS27,
      s28,
      s30,
      s31,
      sub3,
      total,
  };
  std::string joined;
  for (const Variant& f : fields) {
    if (&f != &fields[0]) joined += '|';
    joined += f.ToText();
  }
  TrimInPlace(joined);
  joined += '|';
  joined += sRutaArchZAVZip();
  joined += '|';
  joined += LineaDeCaptura();
  joined += '|';
  joined += sVersion;
  return Variant::String(std::move(joined));
}

}  // namespace zav
