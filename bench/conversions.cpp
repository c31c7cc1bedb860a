#include "bench/conversions.h"

#include <benchmark/benchmark.h>

#include "bench/setup.h"
#include "common/nation.h"
#include "common/record.h"
#include "common/sex.h"

namespace ridel_bench {
namespace {

// The sample card's Identity record and appended-address message, as the driver delivers them.
struct SampleCard {
  unsigned char identity[drv::kIdentityBytes] = {};
  unsigned char message[drv::kAppendedAddressBytes] = {};

  SampleCard() {
    testbed::Simulator& sim = simulator();
    sim.reset();
    const int port = drv::kFirstUsbPort;
    const drv::EntryPoints d = simulated_driver(drv::Prefix::Sdt);
    d.OpenPort(port);
    unsigned char photo[drv::kPhotoBytes];
    unsigned identity_length = 0, photo_length = 0, message_length = 0;
    if (d.ReadBaseMsg(port, identity, &identity_length, photo, &photo_length, 0) != drv::kOk ||
        d.ReadNewAppMsg(port, message, &message_length, 0) != drv::kOk)
      give_up("the simulator does not hand out its sample card");
    d.ClosePort(port);
  }
  rec::Bytes record() const { return {identity, sizeof identity}; }
  rec::Bytes appended() const { return {message, sizeof message}; }
};

const SampleCard& sample() {
  static const SampleCard card;
  return card;
}

}  // namespace

void convert_qdx() {
  const rec::Bytes record = sample().record();
  for (rec::Field f : {rec::Field::Name, rec::Field::Address, rec::Field::IdNumber,
                       rec::Field::Authority})
    benchmark::DoNotOptimize(rec::qdx_text(record, rec::span(f)));
  benchmark::DoNotOptimize(sex::word(rec::qdx_text(record, rec::span(rec::Field::Sex))));
  const std::optional<int> nation =
      nation::whole_decimal(rec::qdx_text(record, rec::span(rec::Field::Nation)));
  benchmark::DoNotOptimize(nation::qdx_name(nation.value_or(0)));
  for (rec::Field date : {rec::Field::Birth, rec::Field::ValidFrom, rec::Field::ValidTo}) {
    const rec::DateParts parts = rec::date_parts(date);
    for (const rec::Span& part : {parts.year, parts.month, parts.day})
      benchmark::DoNotOptimize(rec::qdx_text(record, part));
  }
}

void convert_sdt() {
  const rec::Bytes record = sample().record();
  for (rec::Field f : {rec::Field::Name, rec::Field::Birth, rec::Field::Address,
                       rec::Field::IdNumber, rec::Field::Authority, rec::Field::ValidFrom,
                       rec::Field::ValidTo})
    benchmark::DoNotOptimize(rec::sdt_text(record, rec::span(f)));
  benchmark::DoNotOptimize(sex::word(rec::sdt_text(record, rec::span(rec::Field::Sex))));
  benchmark::DoNotOptimize(nation::sdt_name(
      nation::leading_decimal(rec::sdt_text(record, rec::span(rec::Field::Nation)))));
  benchmark::DoNotOptimize(rec::sdt_text(sample().appended(), rec::kAppendedAddress));
}

void convert_vantrel() {
  const rec::Bytes record = sample().record();
  char slots[drv::kIdentityBytes];
  char address[rec::kAppendedAddress.bytes];
  for (const rec::Span& span : rec::kFields) rec::vantrel_slot(record, span, slots + span.offset);
  rec::vantrel_slot(sample().appended(), rec::kAppendedAddress, address);
  benchmark::DoNotOptimize(slots);
  benchmark::DoNotOptimize(address);
}

}  // namespace ridel_bench
