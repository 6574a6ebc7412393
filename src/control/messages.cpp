// The message catalogue: a table sorted by number, searched by bisection.
#include "control/messages.hpp"

#include <algorithm>
#include <array>
#include <iterator>

namespace zav {
namespace {

struct Entry {
  std::int16_t number;
  std::string_view text;
};

// Texts are byte-exact, odd spacing and spelling included: host pages and users see
// them as they are.
constexpr Entry kCatalog[] = {
    {2,
     "Fallo al accesar unidad de disco : \r"
     "     1 .- No se ha insertado disco en la Unidad \r"
     "     2 .- Posible da\361o en el disco."},
    {5, "Imposible trabajar con el archivo."},
    {9, "Error en RFC del sumario no coincide con el encabezado."},
    {10, "Numero de Registro Patronal IMSS err\363neo."},
    {11, "Periodo de pago inv\341lido."},
    {16, "Existe doble espacio en la raz\363n social entre palabras."},
    {27, "Error en el RFC de detalle no coincide con el encabezado."},
    {34, "Error en el Registro Patronal, No coincide con el encabezado."},
    {35, "Tipo de Registro Inv\341lido."},
    {39, "Error en el RFC de validaci\363n no coincide con el encabezado."},
    {40,
     "Error! No se pudo generar la Linea de Captura.\n"
     "Reintente recibir el disco."},
    {41,
     "Error! No se pudo enviar al archivo de datos al servidor.\n"
     "Reintente recibir el disco."},
    {42,
     "Error! No se pudo enviar el archivo marca al servidor.\n"
     "Reintente recibir el disco."},
    {43,
     "Error! Imposible obtener la Hora y Fecha del servidor.\n"
     "Reintente recibir el disco."},
    {48, "El tama\361o del archivo no corresponde con el especificado."},
    {49, "La Versi\363n del ZAV es inv\341lida."},
    {80, "Error! No existe registro de tipo 02 en el archivo !  'Registro Encabezado-Patr\363n'"},
    {81, "Error! No existe registro de tipo 03 en el archivo !  'Registro Detalle de Trabajador'"},
    {82, "Error! No existe registro de tipo 04 en el archivo !  'Registro de Movimientos'"},
    {83, "Error! No existe registro de tipo 05 en el archivo !  'Registro Sumario'"},
    {84, "Error! No existe registro de tipo 06 en el archivo !  'Registro de Validaci\363n'"},
    {85,
     "Error! No existe registro de tipo 03 en el archivo !  'Registro Detalle de Trabajador'\n"
     "Error! No existe registro de tipo 04 en el archivo !  'Registro de Movimientos'"},
    {132, "El Folio ZAV contiene caracteres inv\341lidos."},
    {133, "El campo de Entidad Federativa no es num\351rico."},
    {140, "Valor invalido del \341rea geogr\341fica."},
    {144,
     "CheckSum inv\341lido, la informaci\363n ha sido alterada desde su generaci\363n por el ZAV."},
    {147, "Pago extempor\341neo sin actualizaciones ni recargos correspondientes."},
    {159, "El campo de Porcentaje de Aportaci\363n Patronal no es num\351rico."},
    {160, "Valor invalido del convenio de reembolso."},
    {161, "El Tipo de cotizaci\363n no es num\351rico."},
    {162, "El campo de total de los d\355as cotizados en el periodo no es num\351rico."},
    {163, "El total de los trabajadores no es num\351rico."},
    {165,
     "Pago inv\341lido. Importe a pagar en ceros. \r"
     "Verifique la cantidad a pagar."},
    {170, "El campo N\372mero de movimientos en el periodo no es num\351rico."},
    {171, "El campo de Ultimo salario diario integrado del periodo no es num\351rico."},
    {172, "El campo de Tipo de Trabajador no es num\351rico."},
    {173, "Valor de Jornada/ Semana reducida inv\341lido."},
    {174, "El campo de D\355as cotizados en el mes no es num\351rico."},
    {175, "El campo de D\355as de incapacidad en el mes no es num\351rico."},
    {176, "El campo de D\355as de ausentismo en el mes no es num\351rico."},
    {177, "Importe de Cuota fija de enfermedad y maternidad no num\351rico o negativo."},
    {178, "Importe de Cuota excedente de enfermedad y maternidad no num\351rico o negativo."},
    {179,
     "El importe de Prestaciones en dinero de enfermedad y maternidad no num\351rico o negativo."},
    {180,
     "Importe de Gastos m\351dicos pensionados de enfermedad y maternidad no num\351rico o "
     "negativo."},
    {181, "Importe de Riesgos de trabajo no num\351rico o negativo."},
    {182, "Importe de Invalidez y vida no num\351rico o negativo."},
    {183, "Importe de Guarder\355a y Prestaciones sociales no num\351rico o negativo."},
    {184,
     "Importe de Actualizaci\363n y recargos de los cuatro Seguros IMSS no num\351rico o "
     "negativo."},
    {185, "El campo D\355as cotizados en el bimestre no es num\351rico."},
    {186, "El campo de D\355as de incapacidad en el bimestre no es num\351rico."},
    {187, "El campo D\355as de ausentismo en el bimestre no es num\351rico."},
    {188, "Importe de Retiro no num\351rico o negativo."},
    {189, "Importe de Actualizaci\363n y recargos de retiro no num\351rico o negativo."},
    {190, "Importe de Cuota patronal de Cesant\355a y Vejez no num\351rico o negativo."},
    {191, "El Importe de Cuota trabajador de Cesant\355a y vejez no num\351rico o negativo."},
    {192, "Importe de Actualizaci\363n y recargos de Cesantia y vejez no num\351rico o negativo."},
    {193, "Importe de Aportaci\363n voluntaria no num\351rico o negativo."},
    {194, "Importe Aportaci\363n Patronal INFONAVIT no num\351rico o negativo."},
    {195, "Importe de Amortizaci\363n de cr\351dito INFONAVIT no num\351rico o negativo."},
    {196, "El campo Tipo de movimiento o incidencia no es num\351rico."},
    {198, "El campo Dias de incidencia no es num\351rico."},
    {200, "Existen trabajadores con diferente Per\355odo de pago."},
    {202, "El campo de Tasa de Actualizaci\363n empleada no es num\351rico."},
    {203, "El campo de Tasa de Actualizaci\363n empleada no es num\351rico."},
    {205, "Importe de Subtotal de los 4 seguros IMSS no num\351rico o negativo."},
    {206, "Importe de actualizaci\363n de los 4 seguros IMSS no num\351rico o negativo."},
    {207, "La suma de recargos de los 4 seguros IMSS no es num\351rico."},
    {208, "Importe de Cesant\355a y Vejez no num\351rico o negativo."},
    {209, "Importe de Subtotal de retiro, cesant\355a y vejez no num\351rico o negativo."},
    {210,
     "Importe de Actualizaci\363n de recargos, cesant\355a y vejez no num\351rico o negativo."},
    {211, "Importe de Recargos, cesant\355a y vejez no num\351rico o negativo."},
    {212, "Importe de Aportaciones voluntarias no num\351rico o negativo."},
    {213,
     "Importe de aportaci\363n patronal INFONAVIT para cuenta individual no num\351rico o "
     "negativo."},
    {214,
     "Importe de aportaci\363n patronal INFONAVIT para amortizaci\363n de cr\351ditos no "
     "num\351rico o negativo."},
    {215,
     "El importe de Actualizaci\363n de Aportaci\363n Patronal y amortizaci\363n de cr\351dito "
     "INFONAVIT no num\351rico o negativo."},
    {216,
     "Importe de recargos de aportaci\363n patronal y amortizaci\363n de cr\351dito INFONAVIT no "
     "num\351rico o negativo."},
    {217, "Importe de Suma de tasas de recargos y actualizaci\363n no num\351rico o negativo."},
    {218, "Campo de tama\361o de archivo en bytes no num\351rico."},
    {219, "Fecha l\355mite de pago inv\341lida."},
    {220, "Importe de Total a depositar en cuenta IMSS 4 seguros no num\351rico o negativo."},
    {221, "Importe de total a depositar en cuenta IMSS - RCV no num\351rico o negativo."},
    {222,
     "Importe de total a depositar en cuenta INFONAVIT Aportaci\363n Patronal no num\351rico o "
     "negativo."},
    {223,
     "Importe de total a depositar en cuenta INFONAVIT Amortizaci\363n de cr\351ditos "
     "actualizaciones y recargos no num\351rico o negativo."},
    {225, "El Numero de Seguridad Social del Trabajador no es num\351rico."},
    {226, "Error el tipo de registro 02 no es el primero del archivo."},
    {227, "Error no existe el registro Encabezado Patr\363n antes del tipo de registro 03."},
    {228, "Existen diferencias en el n\372mero de trabajadores cotizantes registrados."},
    {229, "Error en el formato, se espera Registro del Sumario."},
    {230, "Error Tipo de registro 06 inv\341lido."},
    {234, "El nombre del archivo no corresponde a los generados por el ZAV."},
    {235, "Error en el Registro Patronal, No coincide con el encabezado."},
    {236, "Seguridad Social no contiene 11 posiciones o no es num\351rico."},
    {237, "Error en el Registro Patronal del sumario, No coincide con el encabezado."},
    {238, "Error en el Periodo del sumario no coincide con el encabezado."},
    {239, "Error en el folio ZAV del sumario no coincide con el encabezado."},
    {240, "La suma de los parciales no coincide con el importe del sumario de 4 RSS."},
    {241, "La suma de los parciales no coincide con el importe sumario de act. y rec. de 4 RSS."},
    {242, "Suma de detalle no coincide con el sumario de 4 seguros IMSS."},
    {243, "La suma de los parciales no coincide con el importe del sumario del ramo de retiro."},
    {244, "La suma de los parciales no coincide con el importe del ramo de CV."},
    {245, "Suma de detalle no coincide con el sumario de RCV."},
    {246, "La suma de los parciales no coincide con el importe del sumario de act. y rec. de RCV."},
    {247, "La suma de los parciales no coincide con el importe del sumario de Voluntarias."},
    {248, "La suma de los parciales no coincide con el importe del sumario de Vivienda."},
    {249, "La suma de los parciales no coincide con el importe del sumario de ACV."},
    {250, "Error en el registro Patronal de validaci\363n no coincide con el encabezado."},
    {251, "Error en el periodo de validaci\363n no coincide con el encabezado."},
    {252, "El folio ZAV de validaci\363n no coincide con el encabezado."},
    {253, "La fecha l\355mite de pago ha transcurrido favor de acudir a su subdelegaci\363n."},
    {254, "Total a depositar en cta. IMSS de 4 seguros no coincide con el sumario."},
    {255, "Total a depositar en cta. IMSS RCV no coincide con el sumario."},
    {256, "No coincide el formato de validaci\363n con el sumario en Vivienda."},
    {257, "No coincide el formato de validaci\363n con el sumario en ACV."},
    {258,
     "La cantidad de discos no corresponde con los esperados o el n\372mero de discos no es "
     "num\351rico."},
    {259, "Hay m\341s de un archivo en el disco."},
    {260, "La cantidad de discos no corresponde con los esperados."},
    {261, "El mes del periodo de pago es non y contiene importes de RCV y/o Vivienda."},
    {262,
     "El mes del periodo de pago es 13 \363 14 y contiene importes\r"
     " de Vivienda y/o Amort. de Cr\351ditos de Vivienda y/o Aport. Volunt."},
    {263, "El mes del periodo de pago es non y el sumario contiene importes de RCV y/o Vivienda. "},
    {264,
     "El mes del periodo de pago es 13 \363 14 y el sumario contiene importes\r"
     " de Vivienda y/o Amort. de Cr\351ditos de Vivienda y/o Aport. Volunt."},
    {290,
     "\241ERROR! La aplicaci\363n o el equipo estan mal instalados.\r"
     "El sistema terminara."},
    {295, "\241ERROR! Este es?."},
    {303, "No es posible empacar el archivo ... "},
    {310,
     "El total de los d\355as cotizados en el periodo no coincide con el detalle de trabajadores."},
    {320, "Error en el Periodo del sumario, No coincide con el encabezado."},
    {321, "El rango de Fecha es invalido, Favor de verificarlo."},
    {322, "Existe doble espacio en la Razon Social entre palabras."},
    {400, "El campo de Salario Diario integrado del periodo no es num\351rico."},
    {401, "Importe de Multas INFONAVIT no num\351rico o negativo."},
    {402, "Importe de Donativos FUNDEMEX no num\351rico o negativo."},
    {403, "Importe de Aportaciones Complementarias no num\351rico o negativo."},
    {404,
     "La suma de los parciales no coincide con el importe del sumario de Aportaciones "
     "complementarias."},
    {405, "El total de trabajadores no corresponde con el detalle de los trabjadores."},
    {406, "La extensi\363n del archivo no una extensi\363n v\341lida de un archivo ZAV."},
    {2000,
     "Error en el formato de la informaci\363n, se esperaba registro de Encabezado Patr\363n."},
    {2100, "El campo de c\363digo postal no es num\351rico."},
    {2120, "El campo de prima de riesgo de trabajo no es num\351rico."},
    {2150, "El campo de delegaci\363n no es num\351rico."},
    {2160, "El campo SubDelegaci\363n no es num\351rico."},
    {3000, "Error en el formato de la informaci\363n, se esperaba registro de Trabajador."},
    {3111, "El Nombre del Trabajador no cuenta con los 2 signos de pesos."},
    {3112, "Existe doble especio en el nombre entre palabras."},
    {3113, "Existen caracteres inv\341lidos en el registro."},
    {4000, "Error en el formato de la informaci\363n, se esperaba registro de Movimientos."},
    {5000, "Error en el formato de la informaci\363n, se esperaba registro Sumario."},
    {6000,
     "CheckSum inv\341lido, la informaci\363n ha sido alterada desde su generaci\363n por el ZAV."},
};

constexpr std::size_t kCatalogSize = std::size(kCatalog);

static_assert(std::adjacent_find(std::begin(kCatalog), std::end(kCatalog),
                                 [](const Entry& a, const Entry& b) {
                                   return a.number >= b.number;
                                 }) == std::end(kCatalog),
              "catalogue numbers must be strictly ascending");

constexpr std::array<std::int16_t, kCatalogSize> kNumbers = [] {
  std::array<std::int16_t, kCatalogSize> numbers{};
  for (std::size_t i = 0; i < kCatalogSize; ++i) numbers[i] = kCatalog[i].number;
  return numbers;
}();

}  // namespace

std::string_view CatalogText(std::int16_t number) {
  const auto* it = std::lower_bound(
      std::begin(kCatalog), std::end(kCatalog), number,
      [](const Entry& entry, std::int16_t wanted) { return entry.number < wanted; });
  if (it == std::end(kCatalog) || it->number != number) return {};
  return it->text;
}

std::size_t CatalogSize() { return kCatalogSize; }

std::span<const std::int16_t> CatalogNumbers() { return kNumbers; }

}  // namespace zav
