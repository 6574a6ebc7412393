// What a failed check compared, in the user's terms: what the file holds where the problem
// is, what it should hold there, and for amounts by how much they differ and what
// tolerance was in force. A diagnosis (validation/diagnosis.hpp) attaches one to each
// problem it notes; the texts are Spanish, as the messages are, in Windows-1252.
//
// Values are written as a person reads them: amounts in pesos with two decimals
// ("1234.50", "-0.25"), counts and sizes as whole numbers ("20"), dates DD/MM/YYYY, check
// values and field texts as stored. A format problem gives the field's text as found,
// the positions of the characters that break the rule, and the rule ("11 dígitos").
//
// The explanation is worked out when the problem is noted, from the record's text and
// what the control holds at that moment (the totals the comparison just used), so the
// record checks themselves carry no explaining code and a normal run pays nothing for it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "control/zav.hpp"
#include "records/layout.hpp"
#include "validation/explanation.hpp"

namespace zav {

// A failed check of `field` in a record of `type` whose text is `record`, with `message`,
// explained from what `z` holds now (the moment the check failed).
Explanation Explain(ZAV& z, int type, std::string_view record, const Field& field,
                    std::int16_t message);

// Problems found once the records are walked, or before it.
Explanation ExplainCheckValue(std::string_view stored, std::string_view computed);
// A late payment: the deadline as the last record writes it, the business day it moved to
// (DD/MM/YYYY), the server's date (DD/MM/YYYY as given) and the days late.
Explanation ExplainLateness(std::string_view last_record, const std::string& business_day,
                            const std::string& server_date, std::int32_t days_late);
// The file's name, extension, version and deadline, the worker count and the days total
// (406, 234, 49, 219, 405, 310); `first` and `last` are the first and last records.
Explanation ExplainFileCheck(ZAV& z, std::int16_t message, std::string_view first,
                             std::string_view last);

// An amount in pesos with two decimals, as the explanations write it.
std::string PesosText(double amount);

}  // namespace zav
