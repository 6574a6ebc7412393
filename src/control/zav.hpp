// ZAV: the payment-file control. Its public members are the properties a host page
// reads and writes between calls, in the order the control declares them; its
// methods keep their own names. Each method lives in the unit of its subsystem
// (validation/, calendar/, outputs/, files/); this header is the whole surface.
//
// The instance owns all working state: methods hand data to each other through these
// members (the driver fills the header properties before the record checks read them;
// the record checks fill the totals that the summary checks and the outputs read).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "basic/variant.hpp"

namespace zav {

class ProblemSink;  // validation/problems.hpp

class ZAV {
 public:
  ZAV();

  // ---- Public properties, in declaration order ----
  std::string vsArchZAVZip;  // a slot for the host; no method uses it
  std::string sDirNT;        // the "SystemRoot" value, filled by inicio
  Date gdatServerStarted;    // a slot for the host; no method uses it
  std::string igAno;         // period year, from the header
  std::string igPer;         // period month, from the header
  std::string sgPerPago;     // period year and month
  std::string sgNoContrato;  // employer registration number
  std::string sRFCPatron;    // employer tax identifier
  std::string sNombrePatron;
  std::string sgFolioZAV;  // folio of the payment file
  std::string sDireccion;
  std::string sDelegacion;
  std::string sEntFed;
  std::string sCodPost;
  std::string sNumPhone;
  std::string sVersion;   // version of the generating program, from the last record
  std::string sCheckSum;  // check value stored in the last record
  std::string Sal;        // CR LF, set by every message request
  std::int32_t iTamArch = 0;
  std::int32_t posicion = 0;
  Variant SumaT18, SumaT19, SumaT20, SumaT21, SumaT22, SumaT23, SumaT24, SumaT25;
  double SumaT29 = 0;
  Variant SumaT30, SumaT31, SumaT32, SumaT33, SumaT34, SumaT35;
  double SumaT36 = 0;
  Variant SumaS6, SumaS7, SumaS8, SumaS9, SumaS10, SumaS11, SumaS12, SumaS13;
  double SumaS14 = 0;
  Variant SumaS15, SumaS16, SumaS17, SumaS18, SumaS19, SumaS20, SumaS21, SumaS22;
  double SumaS23 = 0;
  Variant SumaS24, SumaS25, SumaS26, SumaS27;
  double SumaS28 = 0;
  double SumaS29 = 0, SumaS30 = 0, SumaS31 = 0;
  double SumaS8S14 = 0;
  Variant SumaV6, SumaV11, SumaV12, SumaV13;
  double SumaV14 = 0;
  Variant iNumReg03;  // workers the header declares (a double)
  std::int32_t iNumReg04 = 0;
  std::int32_t iNumReg02_e21 = 0;
  std::int32_t SumaT15 = 0;
  std::int32_t SumaT26 = 0;
  std::int32_t iNumTrabViv = 0;
  Variant sgBim;
  std::string sgBimAno;
  double SumaM8 = 0;
  std::int32_t iCantidadregistros3 = 0;  // worker records met (32-bit: large employers)
  std::string OrigenArchi;               // source folder, with trailing separator
  std::string DestinoArchi;              // work folder, with trailing separator
  std::string FinalArchi;                // work file name inside DestinoArchi
  bool bgGerencia = false;               // management mode
  std::uint8_t igToler = 0;              // amount tolerance
  std::string OrigenNombre;              // name of the payment file on its medium
  std::int16_t NumDiscos = 0;

  // ---- Methods, in declaration order ----
  std::int16_t ValidaArchivo(std::int16_t Numero);
  std::string ValidaReg(std::string sDateServ);
  std::int16_t ChecaRegistro(std::uint8_t TipoReg, std::int32_t lRegistro, std::string& Linea);
  bool ValidaNumero(std::string& Cadena, std::int16_t largo);
  bool ValidaAlfa(std::string& Cadena, std::int16_t largo);
  bool ValidaAlfaNum(std::string& Cadena, std::int16_t largo);
  bool ValidaNumeroEsp(std::string& Cadena, std::int16_t largo);
  bool ValImpMen13(double Valor);
  bool ValPer1314(double Valor);
  std::string LineaDeCaptura();
  std::int16_t IntegraDisco(std::string sgFile, std::uint8_t Ndisco);
  std::uint8_t ChecaUltimoDisco(std::string archivo);
  bool ExisteArchivo(std::string& archivo);
  std::int32_t JulianNumber(std::int32_t Ano, std::int32_t Mes, std::int32_t Dia);
  Variant ObtenDifer(std::string sDay, std::string sDia, std::string sMonth, std::string sMes,
                     std::string sYear, std::string sAno);
  void JulianToDate(std::int32_t jd, std::int32_t& Ano, std::int32_t& Mes, std::int32_t& Dia);
  void CalculaDiaHabil(std::string& sAno, std::string& sMes, std::string& sDia);
  std::int16_t CargaDiasInhabiles(std::string sAno, std::string sMes);
  std::int16_t CalculaSemanaSanta(std::int16_t Ayo, std::int16_t MesCalcula);
  double Trunca(double Valor);
  void CheckString(std::string& sDigVer, std::string& sCheckSum);
  void AcarreaCheckString(std::string& sDigVer, std::string& sCheckSum, std::int16_t& iVar,
                          std::int16_t& jVar, std::int16_t& rVar);
  Variant sParamZAV();
  std::string sArchZAVZip();
  std::string sRutaArchZAVZip();
  void copiaArch(std::string archivo);
  void inicio();
  std::string Obtiene_Mensajes(std::int16_t inumMensaje);

  // ---- Private working values, readable by tests and the record units ----
  struct Working {
    std::int16_t igNumPeriodo = 0;            // month number of the payment period
    bool bgPeriodoPar = false;                // igNumPeriodo is even
    std::int32_t lgDiasAtraso = 0;            // days the payment is late (0 in management mode)
    std::array<std::int32_t, 33> holidays{};  // non-working days of one month
    std::string settings = std::string(20, '\0');  // value read from the settings file
    ProblemSink* problems = nullptr;               // a diagnosis: note every failed check, go on
    // The run-time failure behind the last "5" of ValidaReg (number 0 when none), for
    // hosts that want to say more than "5".
    std::int16_t last_message = 0;  // the message number behind ValidaReg's last text
    std::int32_t last_failure_number = 0;
    std::string last_failure_description;
    // Where the last run's problem is: the record whose fields it concerns (posicion may
    // be elsewhere: the deadline and version are read from the last record before the walk,
    // the check value is compared after it), 0 for the file as a whole (its name, its
    // missing record types, packing), with that record's type as read (-1 when none).
    std::int32_t last_record = 0;
    int last_record_type = -1;
  };
  Working& working() { return w_; }
  const Working& working() const { return w_; }

 private:
  Working w_;
};

}  // namespace zav
