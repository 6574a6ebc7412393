// Generated workers: within the period's rules, small enough that every total fits.
#include "writing/generated_workers.hpp"

#include <algorithm>
#include <string>

namespace zav::writing {

// A generated worker's numbers: a splitmix64 stream seeded by the plan's seed and the
// worker's number.
class Random {
 public:
  Random(std::uint32_t seed, std::int64_t n)
      : state_(static_cast<std::uint64_t>(seed) * 0x9E3779B97F4A7C15ULL ^
               static_cast<std::uint64_t>(n) * 0xD1B54A32D192ED03ULL) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // 0 to `top`, both included.
  std::int64_t Upto(std::int64_t top) {
    return top <= 0 ? 0 : static_cast<std::int64_t>(Next() % static_cast<std::uint64_t>(top + 1));
  }
  bool OneIn(int n) { return Next() % static_cast<std::uint64_t>(n) == 0; }

 private:
  std::uint64_t state_;
};

void Generator::Make(std::int64_t g, PaymentWorker& w) const {
  Random rng(spec_.seed, g);
  w.nss.clear();
  w.name = "TRABAJADOR ";
  w.name += std::to_string(g + 1);
  const bool credit = rules_.housing && rng.OneIn(5);
  w.housing_credit.clear();
  if (credit) w.housing_credit = std::to_string(1'000'000'000 + g % 1'000'000'000);
  w.salary = 5'000 + rng.Upto(195'000);
  w.days = Days(g, rng);
  w.bimester_days = rules_.bimester ? std::min(2 * w.days, 62) : 0;

  w.cuota_fija = 1 + Amount(rng, 50'000 - 1);
  w.cuota_excedente = Amount(rng, 20'000);
  w.prestaciones_dinero = Amount(rng, 10'000);
  w.gastos_medicos = Amount(rng, 15'000);
  w.riesgos_trabajo = Amount(rng, 30'000);
  w.invalidez_vida = Amount(rng, 25'000);
  w.guarderias = Amount(rng, 10'000);
  w.recargos_seguros = 0;  // paid on time: no update, no surcharges
  w.retiro = rules_.rcv ? Amount(rng, 40'000) : 0;
  w.recargos_retiro = 0;
  w.cesantia_patronal = rules_.rcv ? Amount(rng, 60'000) : 0;
  w.cesantia_trabajador = rules_.rcv ? Amount(rng, 25'000) : 0;
  w.recargos_cesantia = 0;
  w.aportacion_voluntaria = rules_.voluntary && rng.OneIn(10) ? Amount(rng, 100'000) : 0;
  w.aportacion_vivienda = rules_.housing ? Amount(rng, 100'000) : 0;
  w.amortizacion_credito = credit ? Amount(rng, 150'000) : 0;

  w.movements.clear();
  if (rng.OneIn(8)) {
    static constexpr int kTypes[] = {10, 11, 12};
    PaymentMovement m;
    m.type = kTypes[rng.Upto(2)];
    m.days = m.type == 10 ? 0 : static_cast<int>(1 + rng.Upto(std::max(0, w.days - 1)));
    m.salary = m.type == 10 ? Amount(rng, 200'000) : 0;
    w.movements.push_back(m);
  }
}

std::int64_t Generator::Amount(Random& rng, std::int64_t natural) const {
  return rng.Upto(std::min(natural, cap_));
}

int Generator::Days(std::int64_t g, Random& rng) const {
  if (count_ * 30 <= day_budget_) {
    return rng.OneIn(4) ? static_cast<int>(1 + rng.Upto(29)) : 30;
  }
  return static_cast<int>((g + 1) * day_budget_ / count_ - g * day_budget_ / count_);
}

}  // namespace zav::writing
